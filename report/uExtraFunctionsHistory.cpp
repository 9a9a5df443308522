// Navigation history entries of uExtraFunctions.
#include "report/uExtraFunctions.h"
#include "report/uLog.h"

void NewHistoryItem(THistoryItem *&Item)
{
    Item = new THistoryItem;
}

THistoryItem *AddHistoryItem(THistoryItem *&Current, PVirtualNode Node)
{
    auto *item = new THistoryItem;
    item->Node = Node;
    item->Prev = Current;
    if (Current)
        Current->Next = item;
    return item;
}

namespace {

// Frees Item and every entry reached from it through Onward; the entry left behind loses its link.
void FreeChain(THistoryItem *&Item, THistoryItem *THistoryItem::*Onward, THistoryItem *THistoryItem::*Back)
{
    while (Item) {
        THistoryItem *onward = Item->*Onward;
        if (onward)
            onward->*Back = nullptr;
        delete Item;
        Item = onward;
    }
}

} // namespace

void FreeNextItems(THistoryItem *&Item)
{
    FreeChain(Item, &THistoryItem::Next, &THistoryItem::Prev);
}

void FreePrevItems(THistoryItem *&Item)
{
    FreeChain(Item, &THistoryItem::Prev, &THistoryItem::Next);
}

void ClearList(THistoryItem *&Current)
{
    WriteLog("ClearList - start");
    if (!Current)
        return;
    FreeNextItems(Current->Next);
    FreePrevItems(Current->Prev);
    delete Current;
    Current = nullptr;
    WriteLog("ClearList - finish");
}
