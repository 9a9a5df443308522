// Folder navigation in the real main window (offscreen): the history's steps and buttons, Up, Go to
// folder and the double click from a result page, and history entries whose nodes a worker deletes.
#include "viewer/Main.h"

#include "platform/TThread.h"
#include "platform/VirtualTreeView.h"
#include "report/uDirectoryList.h"
#include "tests/support/LogLines.h"
#include "tests/support/ReportBuilder.h"
#include "viewer/ufWaitForm.h"

#include <QAction>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// Ids 1 to 7 in this order.
const char *const Drive = "D A\n  D A1\n    D A2\n      F deep.txt 1\nD B\nD C\nD D\n";

class NavigationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Temp.File("config")));
        SetLogFolder(Temp.Path() + "/");
        SearchMode = false;
        Form.reset();
        const std::string path = support::ReportBuilder().Tree(Drive).Write(Temp.File("r.db3"));
        Form = std::make_unique<TMainForm>(nullptr,
                                           QStringList{QStringLiteral("v"), QString::fromStdString(path)});
        ASSERT_TRUE(QTest::qWaitFor([this] {
            auto r = Folders()->GetFirst();
            return r && r->ChildCount > 0;
        }));
    }
    void TearDown() override
    {
        Form.reset();
        SetLogFolder("");
    }
    TVirtualStringTree *Folders() const { return Form->tv_FolderTree; }
    PVirtualNode Node(const QString &Name) const
    {
        for (PVirtualNode n = Folders()->GetFirst(); n; n = Folders()->GetNext(n))
            if (GetNodeItem(n, Folders())->name == Name)
                return n;
        return nullptr;
    }
    // As a click on the folder's row.
    void Focus(const QString &Name)
    {
        Folders()->SetFocusedNode(Node(Name));
        Folders()->SetSelected(Node(Name), true);
    }
    // The focused folder ("?" before it when it is not selected), "<" and ">" for the enabled buttons.
    QString Where() const
    {
        PVirtualNode f = Folders()->FocusedNode();
        return (f && !TVirtualStringTree::Selected(f) ? "?" : "") +
               (f ? GetNodeItem(f, Folders())->name : "-") + (Form->tb_Prev->isEnabled() ? " <" : "") +
               (Form->tb_Next->isEnabled() ? " >" : "");
    }
    QString History() const
    {
        THistoryItem *e = HistoryCurrent;
        while (e->Prev)
            e = e->Prev;
        QStringList names;
        for (; e; e = e->Next)
            names << (e == HistoryCurrent ? "*" : "") + GetNodeItem(e->Node, Folders())->name;
        return names.join(QLatin1Char(' '));
    }
    static qsizetype Loads()
    {
        return support::LogLines().count(QStringLiteral("ThreadExpand.Execute - start read data from base"));
    }

    support::TempDir Temp;
    std::unique_ptr<TMainForm> Form;
};

// Actions: a name focuses that folder, "<" ">" "^" click Previous, Next, Up, "<!" runs Back while the
// current entry has no previous one (the button enabled by hand).
TEST_F(NavigationTest, StepsThroughTheHistoryAndUpWithButtonsMatchingIt)
{
    const struct
    {
        const char *Action, *Where;
    } steps[] = {
        {"A", "A"},     {"B", "B <"},   {"C", "C <"}, {"<", "B < >"},   {"<", "A >"},
        {"<!", "A >"},  {">", "B < >"}, {"D", "D <"}, {"^", "r.db3 <"}, {"^", "r.db3 <"},
        {"<", "D < >"}, {"<", "B < >"}, {"<", "A >"}, {"A1", "A1 <"},   {"^", "A <"},
    };
    for (const auto &s : steps) {
        const QString action = QLatin1String(s.Action);
        if (action == "<!") {
            Form->tb_Prev->setEnabled(true);
            Form->tb_PrevClick();
        } else if (action == "<" || action == ">" || action == "^") {
            (action == "<" ? Form->tb_Prev : action == ">" ? Form->tb_Next : Form->tb_Up)->click();
        } else {
            Focus(action);
        }
        EXPECT_EQ(Where().toStdString(), s.Where) << s.Action;
    }
    EXPECT_EQ(History().toStdString(), "A A1 *A");
}

// A hand-made result page whose rows are no children of the focused folder; a right click on a row
// (or below the rows) then Go to folder, or a double click on a row.
TEST_F(NavigationTest, GoToFolderAndADoubleClickLoadEachFolderOnTheWayOnce)
{
    const struct
    {
        const char *Row;
        bool DoubleClick;
        const char *Where, *Rows;
        int Loads;
    } cases[] = {
        {"deep.txt", false, "A2", "deep.txt", 4}, // A, A1, A2 and the file itself
        {"A1", false, "A", "A1", 2},
        {"A2", true, "A2", "deep.txt", 3},
        {nullptr, false, "-", "Select all", 0},
    };
    for (const auto &c : cases) {
        SetUp();
        std::vector<std::unique_ptr<TDirectoryList>> items;
        const auto add = [&](const char *Name, int64_t ID, bool Folder, PVirtualNode Parent) {
            items.push_back(
                std::make_unique<TDirectoryList>(QLatin1String(Name), ID, 0, 0, Folder, false, 0, 0, 0, 0));
            return AddInTreeView(Form->tv_FilesTree, Parent, items.back().get());
        };
        TVirtualStringTree *files = Form->tv_FilesTree;
        PVirtualNode page = add("Select all", SearchRootID, false, nullptr);
        PVirtualNode rows[] = {add("deep.txt", 4, false, page), add("A1", 2, true, page),
                               add("A2", 3, true, page)};
        files->SetExpanded(page, true);
        SearchMode = true;
        const qsizetype before = Loads();
        PVirtualNode row = nullptr;
        for (PVirtualNode r : rows)
            if (c.Row && GetNodeItem(r, files)->name == QLatin1String(c.Row))
                row = r;
        if (c.DoubleClick) {
            files->SetFocusedNode(row);
            Form->tv_FilesTreeDblClick(files);
        } else {
            auto *view = Form->tv_FilesTreeView;
            const QPoint at = row ? view->visualRect(view->IndexOf(row)).center()
                                  : QPoint(5, view->viewport()->height() - 2);
            files->OnMouseDown(files, Qt::RightButton, {}, at.x(), at.y());
            Form->mi_GoToFolder->trigger();
        }
        EXPECT_EQ(Where().toStdString(), c.Where) << c.Row;
        EXPECT_EQ(GetNodeItem(files->GetFirst(), files)->name.toStdString(), c.Rows) << c.Row;
        EXPECT_EQ(Loads() - before, c.Loads) << c.Row;
        Form.reset(); // before the page's items
    }
}

class TDeleter : public TThread
{
public:
    explicit TDeleter(std::function<void()> Work) : TThread(true), FWork(std::move(Work))
    {
        FreeOnTerminate = true;
    }

protected:
    void Execute() override { FWork(); }
    std::function<void()> FWork;
};

// A's children are freed as unloading frees them: the items, then the nodes through the control, on a
// worker while the window waits. Back to the first entry, then Next to the last, must visit Steps.
TEST_F(NavigationTest, HistoryEntriesGoWithNodesAWorkerDeletesAndStepsStillLand)
{
    const struct
    {
        QStringList Focus;
        int Backs;
        const char *History, *Where, *Steps;
    } cases[] = {
        {{"A", "A1", "A", "B"}, 0, "A *B", "B <", "A B"}, // the two A left side by side are one
        {{"B", "A", "A1", "C"}, 3, "*B A C", "B >", "A C"},
        {{"A", "B", "A1"}, 1, "A *B", "B <", "A B"},
    };
    for (const auto &c : cases) {
        SetUp();
        for (const QString &name : c.Focus)
            Focus(name);
        for (int i = 0; i < c.Backs; ++i)
            Form->tb_Prev->click();
        PVirtualNode a = Node(QStringLiteral("A"));
        TWaitForm *wait =
            Form->ShowWaitForm(QStringLiteral("Deallocating of outdated resources. Please wait."));
        auto *worker = new TDeleter([this, a, wait] {
            {
                const TTreeUpdateGuard update(Folders(), Form->tv_FilesTree);
                GetNodeItem(a, Folders())->ClearChildren();
                Folders()->DeleteChildren(a);
            }
            PostMessage(wait, WM_WAITFORM_CLOSE);
        });
        worker->Resume();
        wait->WMShowModal();
        wait->Close();
        EXPECT_EQ(History().toStdString(), c.History);
        EXPECT_TRUE(QTest::qWaitFor([&] { return Where() == QLatin1String(c.Where); }))
            << Where().toStdString();
        QStringList steps;
        for (QToolButton *button : {Form->tb_Prev, Form->tb_Next})
            while (button->isEnabled()) {
                button->click();
                steps << GetNodeItem(Folders()->FocusedNode(), Folders())->name;
            }
        EXPECT_EQ(steps.join(QLatin1Char(' ')).toStdString(), c.Steps);
    }
}

} // namespace
