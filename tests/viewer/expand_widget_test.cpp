// Loading a folder's children into the folder tree with ThreadExpand: a real tree control, the real
// wait window and worker thread, reports written by the report builder.
#include "viewer/utExpand.h"

#include "common/ssException.h"
#include "platform/VirtualStringTree.h"
#include "report/uCheckHelper.h"
#include "report/uDirectoryList.h"
#include "report/uExtraFunctions.h"
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/MainWindowRig.h"
#include "tests/support/ReportBuilder.h"
#include "tests/support/ReportTesting.h"
#include "tests/support/TickReport.h"
#include "viewer/ufWaitForm.h"

#include <QWidget>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <optional>

namespace {

const QString LoadText = QStringLiteral("Load folder data. Please wiat, it can take some time.");

sqlite3 *HookedDB = nullptr;

class ExpandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetReportDBHook([] { return HookedDB; });
    }
    void TearDown() override
    {
        Tree.Clear();
        Root.reset();
        FreeWaitForm();
        Report.reset();
        HookedDB = nullptr;
        SetReportDBHook(nullptr);
    }

    // Writes and prepares the report and opens it for work, as the main window does.
    void Open(const support::ReportBuilder &Builder)
    {
        DB = Report.emplace(Builder).DB;
        HookedDB = DB;
        Root =
            std::make_unique<TDirectoryList>(QStringLiteral("report.db3"), -1, 0, 0, true, false, 0, 0, 0, 0);
        RootNode = AddInTreeView(&Tree, nullptr, Root.get());
        Root->NodeInFoldTr = RootNode;
    }

    // Loads Node's folder as the expanding event does: trees in update, the shared wait window handed
    // out, the worker resumed and the window shown modally until the worker's close message.
    void Load(PVirtualNode Node)
    {
        Tree.BeginUpdate();
        TWaitForm *wait = ShowWaitForm(&Owner, LoadText);
        auto *worker =
            new ThreadExpand(Node, &Tree, DB, nullptr, nullptr, wait, GetNodeItem(Node, &Tree)->id);
        worker->Resume();
        wait->WMShowModal();
        wait->Close();
        Tree.EndUpdate();
    }

    QStringList Children(PVirtualNode Node) { return support::ChildNames(&Tree, Node); }
    PVirtualNode Child(PVirtualNode Node, const QString &Name)
    {
        return support::FindNode(&Tree, Name, Node);
    }
    // Node's children with their ticks: "-" unchecked, "+" checked, "~" mixed, "?" a pressed state.
    QString Ticks(PVirtualNode Node)
    {
        QStringList ticks;
        for (PVirtualNode c = Node->FirstChild; c; c = c->NextSibling)
            ticks << GetNodeItem(c, &Tree)->name + QLatin1Char("-?+?~?"[c->CheckState]);
        return ticks.join(QLatin1Char(' '));
    }
    QString LogText() const { return QString::fromStdString(reporttest::FileText(LogFileName())); }

    support::TempDir Temp;
    std::optional<ticktest::TickReport> Report; // the log goes beside it
    QWidget Owner;
    TVirtualStringTree Tree;
    sqlite3 *DB = nullptr;
    std::unique_ptr<TDirectoryList> Root;
    PVirtualNode RootNode = nullptr;
};

const char *const Drive = R"(D Docs
  D Sub
    F deep.txt 1
  F b.txt 10
  F A.txt 20 deleted attr=32 date=2021-03-04 05:06:07
  F C.txt 30
D apps
F x.bin 5
)";
// ids: Docs 1, Sub 2, deep.txt 3, b.txt 4, A.txt 5, C.txt 6, apps 7, x.bin 8

TEST_F(ExpandTest, ChildrenComeFoldersFirstWithFilesHiddenAndOnlyFoldersWithSubfoldersKeepAButton)
{
    Open(support::ReportBuilder().Tree(Drive));
    Load(RootNode); // returns only after the worker's close message ended the modal show
    EXPECT_EQ(Children(RootNode), (QStringList{"apps", "Docs", "[x.bin]"}));
    PVirtualNode docs = Child(RootNode, "Docs");
    Load(docs);
    EXPECT_EQ(Children(docs), (QStringList{"Sub", "[A.txt]", "[b.txt]", "[C.txt]"}));
    EXPECT_FALSE(WaitForm->isVisible());

    // Only a folder with a subfolder row shows an expand button; the folder itself keeps its own.
    EXPECT_TRUE(TVirtualStringTree::HasChildren(docs));
    EXPECT_FALSE(TVirtualStringTree::HasChildren(Child(docs, "Sub"))); // only a file below it

    // The items are the folder's children in the tree's order, each knowing its node; a folder's size is
    // the size of its contents.
    TDirectoryList *docsItem = GetNodeItem(docs, &Tree);
    ASSERT_EQ(docsItem->ChildCount(), 4u);
    EXPECT_EQ(docsItem->GetChildren()[0]->NodeInFoldTr, docs->FirstChild);
    EXPECT_EQ(docsItem->size, 61);

    // A folder of files loses its button once loaded: through the tree's own expansion it ends
    // expanded without the toggle mark; loaded directly (focus, Go to folder) the tree then does not
    // toggle it.
    Tree.OnExpanding = [this](TVirtualStringTree *, PVirtualNode Node, bool &) { Load(Node); };
    PVirtualNode sub = Child(docs, "Sub");
    ASSERT_TRUE(Tree.SetExpanded(sub, true));
    EXPECT_TRUE(TVirtualStringTree::Expanded(sub) && !TVirtualStringTree::HasChildren(sub));
    EXPECT_FALSE(TVirtualStringTree::Toggling(sub));
    PVirtualNode apps = Child(RootNode, "apps");
    Load(apps);
    EXPECT_FALSE(TVirtualStringTree::HasChildren(apps) || Tree.SetExpanded(apps, true));
}

TEST_F(ExpandTest, NamesCommentsAndDatesCrossTheDatabaseBoundary)
{
    // Upper-casing folds only ASCII letters: the umlauts and the Cyrillic name sort by their bytes.
    Open(support::ReportBuilder()
             .Tree("F b\nF A 3 date=garbage\nF C 4 date=04.03.2021 05:06:07\nF _x\n"
                   "F \xc3\xa4\nF \xc3\x84\nF \xd0\x9e\xd1\x82\xd1\x87\xd1\x91\xd1\x82.txt\n")
             .Row({9, -1, 1, 1, "d", 5, 16, "1850-06-15 00:00:00", "2001-02-03 04:05:06",
                   "2030-11-12 23:59:59", 0, 77})
             .Check({std::string("a note"), 0, 1, -1, 0, 0}));
    Load(RootNode);
    EXPECT_EQ(Children(RootNode),
              (QStringList{"d", "[A]", "[b]", "[C]", "[_x]", QString::fromUtf8("[\xc3\x84]"),
                           QString::fromUtf8("[\xc3\xa4]"),
                           QString::fromUtf8("[\xd0\x9e\xd1\x82\xd1\x87\xd1\x91\xd1\x82.txt]")}));
    const TDirectoryListChildren &items = Root->GetChildren();
    EXPECT_TRUE(items[2]->HasComment());
    EXPECT_FALSE(items[1]->HasComment() || items[7]->HasComment());
    // Each field from its column; a row with an unreadable date loads all the same.
    EXPECT_EQ(reporttest::ItemFields(*items[0]),
              "d 9 -1 77 1 1 16 1850-06-15 00:00:00|2001-02-03 04:05:06|2030-11-12 23:59:59");
}

const char *const TickDrive = R"(D Docs
  F a.txt
  F b.txt
  F c.txt
  D Sub
    F d.txt
F top.txt
D Other
  F e.txt
)";
// ids: Docs 1, a 2, b 3, c 4, Sub 5, d 6, top 7, Other 8, e 9

support::CheckRow Row(int64_t ID, int64_t Parent, int Checked, int ForFolder)
{
    return {std::nullopt, Checked, ID, Parent, std::nullopt, ForFolder};
}

// Pressed states, and mixed ones without a whole-folder tick, give the children nothing.
TEST_F(ExpandTest, PressedOrMixedFoldersWithoutAWholeTickGiveTheirChildrenNothing)
{
    Open(support::ReportBuilder().Tree(TickDrive).Check(Row(1, -1, 2, 1)).Check(Row(8, -1, 2, 0)));
    Load(RootNode);
    PVirtualNode docs = RootNode->FirstChild;
    Load(docs);
    for (PVirtualNode folder : {Child(docs, "Sub"), Child(RootNode, "Other")}) {
        folder->CheckState = folder->Parent == docs ? csCheckedPressed : csMixedNormal;
        Load(folder);
        EXPECT_EQ(Ticks(folder), folder->Parent == docs ? "d.txt-" : "e.txt-");
    }
    EXPECT_EQ(Report->Row(1), (ticktest::StoredRow{2, 1, -1})); // unchanged, so not stored again
}

// Three children stored checked; the checking event does something to the stored state of one.
enum TAct { Pass, Refuse, MakeMixed, Raise };
struct TStoredTickCase
{
    const char *Child; // the one the event acts on
    TAct Act;
    const char *Ticks;   // the children afterwards
    TCheckState Folder;  // the folder's state, and the root's (its only child)
    const char *Checked; // the checked events in order
};

class StoredTickTest : public ExpandTest, public ::testing::WithParamInterface<TStoredTickCase>
{
};

TEST_P(StoredTickTest, TheFolderAndItsAncestorsFollowWhateverTheEventDidToAnyChild)
{
    const TStoredTickCase &c = GetParam();
    Open(support::ReportBuilder()
             .Tree("D Docs\n  F a\n  F b\n  F c\n")
             .Check(Row(2, 1, 1, 0))
             .Check(Row(3, 1, 1, 0))
             .Check(Row(4, 1, 1, 0)));
    Load(RootNode);
    PVirtualNode docs = RootNode->FirstChild;
    const auto name = [&](PVirtualNode Node) {
        return Node == RootNode ? QStringLiteral("root") : GetNodeItem(Node, &Tree)->name;
    };
    QStringList checking, checked;
    Tree.OnChecking = [&](TVirtualStringTree *, PVirtualNode Node, TCheckState &State, bool &Allowed) {
        checking << name(Node);
        if (name(Node) != QLatin1String(c.Child))
            return;
        Allowed = c.Act != Refuse;
        if (c.Act == MakeMixed)
            State = csMixedNormal;
        if (c.Act == Raise)
            throw Exception(QStringLiteral("no ticks today"));
    };
    Tree.OnChecked = [&](TVirtualStringTree *, PVirtualNode Node) { checked << name(Node); };
    Load(docs);
    EXPECT_EQ(Ticks(docs), QLatin1String(c.Ticks));
    EXPECT_EQ(docs->CheckState, c.Folder);
    EXPECT_EQ(RootNode->CheckState, c.Folder);
    EXPECT_EQ(Report->Row(1)->checked, c.Folder == csCheckedNormal ? 1 : 2); // the folder's new state stored
    // Once each, as one change through the control: every checking event before the checked ones.
    EXPECT_EQ(checking.join(' '), QStringLiteral("a b c Docs root"));
    EXPECT_EQ(checked.join(' '), QLatin1String(c.Checked));
    EXPECT_EQ(LogText().contains("exception in load checks to added no ticks today"), c.Act == Raise);
}

INSTANTIATE_TEST_SUITE_P(
    ExpandTest, StoredTickTest,
    ::testing::Values(TStoredTickCase{"", Pass, "a+ b+ c+", csCheckedNormal, "a b c Docs root"},
                      TStoredTickCase{"c", Refuse, "a+ b+ c-", csMixedNormal, "a b Docs root"},
                      TStoredTickCase{"c", MakeMixed, "a+ b+ c~", csMixedNormal, "a b c Docs root"},
                      TStoredTickCase{"c", Raise, "a+ b+ c-", csMixedNormal, "a b Docs root"},
                      TStoredTickCase{"a", Refuse, "a- b+ c+", csMixedNormal, "b c Docs root"}));

} // namespace
