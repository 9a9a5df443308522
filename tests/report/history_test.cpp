#include "report/uExtraFunctions.h"

#include "report/uLog.h"
#include "tests/support/ReportTesting.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

// Stand-ins for folder-tree nodes: only their addresses matter to the list.
char nodeStore[8];
PVirtualNode NodeAt(int i)
{
    return reinterpret_cast<PVirtualNode>(&nodeStore[i]);
}

class HistoryTest : public ::testing::Test
{
protected:
    void TearDown() override { ClearList(FCurrent); } // whatever a test leaves is freed once

    // What the main window does when the folder tree's focus moves to node (not a history step).
    void Focus(PVirtualNode node)
    {
        if (FCurrent->Next)
            FreeNextItems(FCurrent->Next);
        if (FCurrent->Node)
            FCurrent = AddHistoryItem(FCurrent, node);
        else
            FCurrent->Node = node;
    }
    // The nodes of the whole list from its first entry, checking the links both ways.
    std::vector<PVirtualNode> Nodes() const
    {
        std::vector<PVirtualNode> nodes;
        const THistoryItem *first = FCurrent;
        while (first && first->Prev) {
            EXPECT_EQ(first->Prev->Next, first);
            first = first->Prev;
        }
        for (const THistoryItem *item = first; item; item = item->Next) {
            EXPECT_TRUE(!item->Next || item->Next->Prev == item);
            nodes.push_back(item->Node);
        }
        return nodes;
    }

    reporttest::TempLog FLog;
    THistoryItem *FCurrent = nullptr;
};

TEST_F(HistoryTest, FocusAfterGoingBackDropsTheForwardEntriesAndFreeingCutsTheList)
{
    NewHistoryItem(FCurrent);
    for (int i = 0; i < 3; ++i)
        Focus(NodeAt(i));            // A B C
    FCurrent = FCurrent->Prev->Prev; // back twice
    Focus(NodeAt(3));                // D: B and C are freed
    EXPECT_EQ(FCurrent->Next, nullptr);
    EXPECT_EQ(Nodes(), std::vector<PVirtualNode>({NodeAt(0), NodeAt(3)}));
    Focus(NodeAt(4));
    FCurrent = FCurrent->Prev;
    FreePrevItems(FCurrent->Prev); // what lies before goes; the current entry becomes the first
    EXPECT_EQ(Nodes(), std::vector<PVirtualNode>({NodeAt(3), NodeAt(4)}));
}

TEST_F(HistoryTest, ClearListFreesBothDirectionsAndLogs)
{
    // from the middle of a list, from a list of one, and on none (only the start line)
    for (const int entries : {6, 1, 0}) {
        SCOPED_TRACE(entries);
        CreateLogFile();
        if (entries > 0)
            NewHistoryItem(FCurrent);
        for (int i = 0; i < entries; ++i)
            Focus(NodeAt(i));
        if (entries > 3)
            FCurrent = FCurrent->Prev->Prev->Prev;
        ClearList(FCurrent);
        EXPECT_EQ(FCurrent, nullptr);
        EXPECT_EQ(FLog.Text(),
                  entries ? "ClearList - start\r\nClearList - finish\r\n" : "ClearList - start\r\n");
    }
}

} // namespace
