#include "report/uExtraFunctions.h"

#include "report/uLog.h"

#include <QFile>
#include <QTemporaryDir>
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
    void SetUp() override
    {
        ASSERT_TRUE(FLogDir.isValid());
        SetLogFolder(FLogDir.path().toStdString() + "/");
        CreateLogFile();
    }
    void TearDown() override
    {
        ClearList(FCurrent); // whatever a test leaves is freed once (ASan reports a leak otherwise)
        SetLogFolder({});
    }

    // What the main window does when the folder tree's focus moves to node (not a history step).
    void Focus(PVirtualNode node)
    {
        if (FCurrent->Next)
            FreeNextItems(FCurrent->Next);
        if (FCurrent->Node) {
            FCurrent = AddHistoryItem(FCurrent, node);
        } else {
            FCurrent->Node = node;
            FCurrent->Prev = nullptr;
            FCurrent->Next = nullptr;
        }
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
            if (item->Next) {
                EXPECT_EQ(item->Next->Prev, item);
            }
            nodes.push_back(item->Node);
        }
        return nodes;
    }
    QByteArray Log() const
    {
        QFile file(QString::fromStdString(LogFileName()));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir FLogDir;
    THistoryItem *FCurrent = nullptr;
};

TEST_F(HistoryTest, NewEntryIsEmpty)
{
    NewHistoryItem(FCurrent);
    ASSERT_NE(FCurrent, nullptr);
    EXPECT_EQ(FCurrent->Node, nullptr);
    EXPECT_EQ(FCurrent->Prev, nullptr);
    EXPECT_EQ(FCurrent->Next, nullptr);
}

TEST_F(HistoryTest, FirstFocusFillsTheRootEntry)
{
    NewHistoryItem(FCurrent);
    THistoryItem *const root = FCurrent;
    Focus(NodeAt(0));
    EXPECT_EQ(FCurrent, root);
    EXPECT_EQ(Nodes(), std::vector<PVirtualNode>({NodeAt(0)}));
}

TEST_F(HistoryTest, FocusAfterGoingBackDropsTheForwardEntries)
{
    NewHistoryItem(FCurrent);
    Focus(NodeAt(0)); // A
    Focus(NodeAt(1)); // B
    Focus(NodeAt(2)); // C
    EXPECT_EQ(Nodes(), std::vector<PVirtualNode>({NodeAt(0), NodeAt(1), NodeAt(2)}));
    FCurrent = FCurrent->Prev; // back
    FCurrent = FCurrent->Prev; // back
    EXPECT_EQ(FCurrent->Node, NodeAt(0));
    Focus(NodeAt(3)); // D: B and C are freed
    EXPECT_EQ(FCurrent->Node, NodeAt(3));
    EXPECT_EQ(FCurrent->Next, nullptr);
    EXPECT_EQ(Nodes(), std::vector<PVirtualNode>({NodeAt(0), NodeAt(3)}));
    FCurrent = FCurrent->Prev;
    EXPECT_EQ(FCurrent->Prev, nullptr);
}

TEST_F(HistoryTest, AddDoesNotMoveTheCurrentVariable)
{
    NewHistoryItem(FCurrent);
    FCurrent->Node = NodeAt(0);
    THistoryItem *const before = FCurrent;
    THistoryItem *const added = AddHistoryItem(FCurrent, NodeAt(1));
    EXPECT_EQ(FCurrent, before);
    EXPECT_EQ(FCurrent->Next, added);
    EXPECT_EQ(added->Prev, FCurrent);
    EXPECT_EQ(added->Node, NodeAt(1));
    EXPECT_EQ(added->Next, nullptr);
}

TEST_F(HistoryTest, AddToNoEntryStartsAList)
{
    THistoryItem *none = nullptr;
    FCurrent = AddHistoryItem(none, NodeAt(0));
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(FCurrent->Prev, nullptr);
    EXPECT_EQ(FCurrent->Node, NodeAt(0));
}

TEST_F(HistoryTest, FreeNextAndPrevOnNoneChangeNothing)
{
    NewHistoryItem(FCurrent);
    Focus(NodeAt(0));
    Focus(NodeAt(1));
    FreeNextItems(FCurrent->Next);
    EXPECT_EQ(Nodes(), std::vector<PVirtualNode>({NodeAt(0), NodeAt(1)}));
    THistoryItem *none = nullptr;
    FreePrevItems(none);
    FreeNextItems(none);
    EXPECT_EQ(none, nullptr);
}

TEST_F(HistoryTest, FreePrevItemsLeavesTheCurrentEntryFirst)
{
    NewHistoryItem(FCurrent);
    for (int i = 0; i < 5; ++i)
        Focus(NodeAt(i));
    FCurrent = FCurrent->Prev;
    FreePrevItems(FCurrent->Prev);
    EXPECT_EQ(FCurrent->Prev, nullptr);
    EXPECT_EQ(Nodes(), std::vector<PVirtualNode>({NodeAt(3), NodeAt(4)}));
}

TEST_F(HistoryTest, ClearListFreesBothDirectionsAndLogs)
{
    NewHistoryItem(FCurrent);
    for (int i = 0; i < 6; ++i)
        Focus(NodeAt(i));
    FCurrent = FCurrent->Prev->Prev->Prev; // in the middle
    ClearList(FCurrent);
    EXPECT_EQ(FCurrent, nullptr);
    EXPECT_EQ(Log(), QByteArray("ClearList - start\r\nClearList - finish\r\n"));
}

TEST_F(HistoryTest, ClearListOfOneEntryAndOfNone)
{
    NewHistoryItem(FCurrent);
    ClearList(FCurrent);
    EXPECT_EQ(FCurrent, nullptr);
    EXPECT_EQ(Log(), QByteArray("ClearList - start\r\nClearList - finish\r\n"));
    CreateLogFile();
    ClearList(FCurrent);
    EXPECT_EQ(FCurrent, nullptr);
    EXPECT_EQ(Log(), QByteArray("ClearList - start\r\n"));
}

} // namespace
