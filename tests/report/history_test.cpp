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
            EXPECT_TRUE(!item->Next || item->Next->Prev == item);
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

TEST_F(HistoryTest, FocusAfterGoingBackDropsTheForwardEntries)
{
    NewHistoryItem(FCurrent);
    Focus(NodeAt(0)); // A
    Focus(NodeAt(1)); // B
    Focus(NodeAt(2)); // C
    EXPECT_EQ(Nodes(), std::vector<PVirtualNode>({NodeAt(0), NodeAt(1), NodeAt(2)}));
    FCurrent = FCurrent->Prev->Prev; // back twice
    EXPECT_EQ(FCurrent->Node, NodeAt(0));
    Focus(NodeAt(3)); // D: B and C are freed
    EXPECT_EQ(FCurrent->Node, NodeAt(3));
    EXPECT_EQ(FCurrent->Next, nullptr);
    EXPECT_EQ(Nodes(), std::vector<PVirtualNode>({NodeAt(0), NodeAt(3)}));
    EXPECT_EQ(FCurrent->Prev->Prev, nullptr);
}

TEST_F(HistoryTest, FreeingBeforeOrAfterAnEntry)
{
    NewHistoryItem(FCurrent);
    for (int i = 0; i < 5; ++i)
        Focus(NodeAt(i));
    // on none: nothing changes
    FreeNextItems(FCurrent->Next);
    THistoryItem *none = nullptr;
    FreePrevItems(none);
    FreeNextItems(none);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(Nodes(), std::vector<PVirtualNode>({NodeAt(0), NodeAt(1), NodeAt(2), NodeAt(3), NodeAt(4)}));
    // what lies before the current entry goes; it becomes the first
    FCurrent = FCurrent->Prev;
    FreePrevItems(FCurrent->Prev);
    EXPECT_EQ(FCurrent->Prev, nullptr);
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
        EXPECT_EQ(Log(), QByteArray(entries ? "ClearList - start\r\nClearList - finish\r\n"
                                            : "ClearList - start\r\n"));
    }
}

} // namespace
