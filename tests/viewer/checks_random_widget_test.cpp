// Random review sessions on the real main window (offscreen): ticks in both trees and on result pages,
// comments typed and left, focus moves, history steps, Go to folder, searches and their pages,
// unloading passes, saves (one failing) and reopening. After every step each tick a tree shows is what
// the report says the item counts as, every comment typed is stored for the item it was typed on and
// for no other, and the comment box edits a live item.
#include "viewer/Main.h"

#include "platform/VirtualTreeView.h"
#include "report/uCheckHelper.h"
#include "report/uDirectoryList.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/FunctionThread.h"
#include "tests/support/MainWindowRig.h"
#include "tests/support/ReportTesting.h"
#include "viewer/ufWaitForm.h"
#include "viewer/utFreeMemThread.h"

#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <optional>
#include <random>

namespace {

const QString Placeholder = QStringLiteral("Your comment to file");

} // namespace

// Comments readable in a failure's message.
void PrintTo(const QString &Text, std::ostream *Out)
{
    *Out << '"' << Text.toStdString() << '"';
}

namespace {

class ReviewRandom : public support::MainWindowFixture, public ::testing::WithParamInterface<unsigned>
{
protected:
    // Folders d<n> of up to three levels below the root, with subfolders and files f<n>.txt.
    static void AddLevel(std::mt19937 &Rng, std::string &Rows, int Depth, int &Count)
    {
        const int folders = Depth == 3 ? 0 : 2 + int(Rng() % 3), files = 1 + int(Rng() % 3);
        for (int i = 0; i < folders + files; ++i) {
            const bool folder = i < folders;
            Rows += std::string(2 * size_t(Depth), ' ') + (folder ? "D d" : "F f") + std::to_string(++Count) +
                    (folder ? "\n" : ".txt 1\n");
            if (folder)
                AddLevel(Rng, Rows, Depth + 1, Count);
        }
    }
    void Open()
    {
        SearchMode = CheckChanged = UserCheckAction = MouseDownPending = NavigatingHistory = false;
        OpenWindow(Path);
        // Passes only when the session asks for one.
        delete FreeMemThread;
        FreeMemThread = new TFreeMemThread(Folders(), Files(), Form.get(), 3600 * 1000);
        support::Focus(Folders(), Folders()->GetFirst());
    }
    TVirtualStringTree *Folders() const { return Form->tv_FolderTree; }
    TVirtualStringTree *Files() const { return Form->tv_FilesTree; }
    template <class T> T Pick(const std::vector<T> &From)
    {
        return From.empty() ? T() : From[Rng() % From.size()];
    }
    std::vector<PVirtualNode> Nodes(TVirtualStringTree *Tree, bool VisibleOnly = true) const
    {
        std::vector<PVirtualNode> nodes;
        for (PVirtualNode n = Tree->GetFirst(); n; n = Tree->GetNext(n))
            if (GetNodeItem(n, Tree) && (!VisibleOnly || TVirtualStringTree::IsVisible(n)))
                nodes.push_back(n);
        return nodes;
    }
    static uint8_t Counts(int64_t ID)
    {
        uint8_t state = 0, folder = 0;
        return IsCheckedInherited(ReportDB, ID, state, folder) ? state : 0;
    }
    // id -> comment of the rows that hold one, from Db or the report's file.
    static std::map<int64_t, QString> Comments(sqlite3 *Db)
    {
        std::map<int64_t, QString> out;
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(Db, "SELECT fileID, comment FROM check_and_comment_map WHERE comment <> ''", -1,
                           &stmt, nullptr);
        while (sqlite3_step(stmt) == SQLITE_ROW)
            out[sqlite3_column_int64(stmt, 0)] =
                QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1)));
        sqlite3_finalize(stmt);
        return out;
    }
    static void DropEmpty(std::map<int64_t, QString> &Map)
    {
        std::erase_if(Map, [](const auto &Entry) { return Entry.second.isEmpty(); });
    }
    // The typed text still in the box for its item is due once the box shows anything else.
    void SettlePending()
    {
        if (PendingItem &&
            (Form->CommentItem() != PendingItem || Form->mem_Comments->toPlainText() != PendingText)) {
            Stored[PendingID] = PendingText;
            PendingItem = nullptr;
        }
    }
    void Check(const std::string &Step)
    {
        SCOPED_TRACE(Step);
        for (TVirtualStringTree *tree : {Folders(), Files()})
            for (PVirtualNode n : Nodes(tree, false)) {
                const int64_t id = GetNodeItem(n, tree)->id;
                if (id == -1)
                    continue; // the report's root counts its own row among its children
                if (id != SearchRootID) {
                    ASSERT_EQ(int(n->CheckState), Counts(id)) << "item " << id << " in tree " << tree->Tag;
                    continue;
                }
                // "Select all" as its rows: all checked, all unchecked, or mixed.
                bool checked = false, unchecked = false;
                for (PVirtualNode r = n->FirstChild; r; r = r->NextSibling) {
                    checked = checked || r->CheckState != csUncheckedNormal;
                    unchecked = unchecked || r->CheckState != csCheckedNormal;
                }
                ASSERT_EQ(int(n->CheckState), checked && unchecked ? csMixedNormal
                                              : checked            ? csCheckedNormal
                                                                   : csUncheckedNormal);
            }
        const TDirectoryList *item = Form->CommentItem();
        bool live = !item;
        for (TVirtualStringTree *tree : {Folders(), Files()})
            for (PVirtualNode n : Nodes(tree, false))
                live = live || GetNodeItem(n, tree).Item() == item;
        ASSERT_TRUE(live) << "the comment box edits a freed item";
        SettlePending();
        std::map<int64_t, QString> expected = Stored, stored = Comments(ReportDB);
        DropEmpty(expected);
        if (PendingItem) {
            expected.erase(PendingID);
            stored.erase(PendingID);
        }
        ASSERT_EQ(stored, expected);
    }
    void Save(bool Fails)
    {
        support::BoxAnswerer boxes(Fails);
        if (Fails)
            sqlite3_commit_hook(
                ReportDB, [](void *) { return 1; }, nullptr);
        Form->tb_SaveButton->click();
        sqlite3_commit_hook(ReportDB, nullptr, nullptr);
        // Saving stores the box's text first (a save with nothing to write does not fail).
        if (PendingItem)
            Stored[PendingID] = PendingText;
        PendingItem = nullptr;
        if (boxes.Texts.isEmpty()) {
            Saved = Stored;
            DropEmpty(Saved);
            reporttest::Db file = reporttest::OpenDb(Path);
            EXPECT_EQ(Comments(file.get()), Saved) << "saved";
            return;
        }
        EXPECT_TRUE(boxes.Texts[0].endsWith(QLatin1String("The changes since the last save are lost.")));
        Stored = Saved;
        PendingItem = nullptr;
        // The box shows the comment the report keeps for its item.
        QString kept;
        const bool has = Form->CommentItem() && GetComment(ReportDB, kept, Form->CommentItem()->id);
        EXPECT_EQ(Form->mem_Comments->toPlainText(), has ? kept : Placeholder);
    }
    void Pass()
    {
        std::atomic<bool> done{false};
        support::FunctionThread pass([&](support::FunctionThread &) {
            FreeMemThread->FreeOldNodes();
            done = true;
        });
        pass.Resume();
        ASSERT_TRUE(QTest::qWaitFor([&] { return done && !(WaitForm && WaitForm->InModalShow()); }, 10000));
        pass.WaitFor();
    }
    // Enters the comment box, types at its end and, with Leave, leaves it.
    void Type(int Step, bool Leave)
    {
        QPlainTextEdit *box = Form->mem_Comments;
        QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
        QApplication::sendEvent(box, &in);
        box->moveCursor(QTextCursor::End);
        box->insertPlainText(Rng() % 4 ? QStringLiteral(" c%1").arg(Step) : QStringLiteral(" "));
        SettlePending();
        if (Form->CommentItem()) {
            PendingItem = Form->CommentItem();
            PendingID = PendingItem->id;
            PendingText = box->toPlainText();
        }
        if (!Leave)
            return;
        QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
        QApplication::sendEvent(box, &out);
    }
    void RightClick(PVirtualNode Row)
    {
        const QPoint at = Form->tv_FilesTreeView->visualRect(Form->tv_FilesTreeView->IndexOf(Row)).center();
        Files()->OnMouseDown(Files(), Qt::RightButton, {}, at.x(), at.y());
    }

    std::mt19937 Rng{GetParam()};
    std::string Path;
    std::map<int64_t, QString> Stored, Saved; // comments the report holds, and its file since the last save
    const TDirectoryList *PendingItem = nullptr;
    int64_t PendingID = 0;
    QString PendingText;
};

TEST_P(ReviewRandom, ShownTicksAndTypedCommentsAreWhatTheReportKeeps)
{
    std::string rows;
    int count = 0;
    AddLevel(Rng, rows, 0, count);
    Path = support::ReportBuilder().Tree(rows).WithCheckTable().Write(Temp.File("r.db3"));
    Open();
    SearchPageSize = 7;
    static const char *const Patterns[] = {"*", "f1*", "*2*", "d*;f3*"};
    for (int step = 0; step < 200 && !HasFailure(); ++step) {
        const std::vector<PVirtualNode> folders = Nodes(Folders()), rows = Nodes(Files());
        PVirtualNode folder = Pick(folders), row = Pick(rows);
        const int action = int(Rng() % 20);
        std::optional<support::BoxAnswerer> unexpected;
        if (action != 18)
            unexpected.emplace(false);
        switch (action) {
        case 0: // expand or collapse
        case 1:
            Folders()->SetExpanded(folder, action == 0);
            break;
        case 2: // a folder by the mouse, by the keyboard
        case 3:
            if (action == 2)
                Folders()->OnMouseDown(Folders(), Qt::LeftButton, {}, 0, 0);
            support::Focus(Folders(), folder);
            break;
        case 4: // a row
            Files()->OnMouseDown(Files(), Qt::LeftButton, {}, 0, 0);
            if (row)
                support::Focus(Files(), row);
            if (Rng() % 2)
                Type(step, false);
            break;
        case 5: // a tick in the folder tree, by the mouse or the Space key on the focused folder
        case 6:
            if (action == 5) {
                support::ClickCheck(Folders(), folder);
            } else if (PVirtualNode focused = Folders()->FocusedNode()) {
                int key = Qt::Key_Space;
                Folders()->OnKeyDown(Folders(), key, {});
                Folders()->ToggleCheck(focused);
            }
            break;
        case 7: // a tick of a row, "Select all" too
        case 8:
            if (row)
                support::ClickCheck(Files(), row);
            break;
        case 9: // typing, and leaving the box
        case 10:
            Type(step, action == 10);
            break;
        case 11:
            (Rng() % 3 == 0 ? Form->tb_Up : Rng() % 2 ? Form->tb_Prev : Form->tb_Next)->click();
            break;
        case 12: // Go to folder, or a double click, on one of the first rows
            if (row && Files()->GetFirst()) {
                row = Rng() % 2 ? Files()->GetFirst() : Files()->GetNext(Files()->GetFirst());
                if (!row)
                    break;
                RightClick(row);
                support::Focus(Files(), row);
                Rng() % 2 ? Form->mi_GoToFolderClick() : Form->tv_FilesTreeDblClick(Files());
            }
            break;
        case 13:
            Form->edit_Search->setText(QLatin1String(Patterns[Rng() % 4]));
            Form->tb_FastSearchClick();
            break;
        case 14:
            if (Form->mi_MoreResults->isEnabled())
                Form->mi_MoreResultsClick();
            break;
        case 15:
        case 16:
            Pass();
            break;
        case 17:
            Save(false);
            break;
        case 18:
            Save(true);
            break;
        case 19: // now and then closing, which saves; the report opens again as it was left
            if (Rng() % 3) {
                Save(false);
                break;
            }
            Form->close();
            SettlePending();
            Saved = Stored;
            DropEmpty(Saved);
            PendingItem = nullptr;
            Open();
            break;
        }
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        Check("seed " + std::to_string(GetParam()) + " step " + std::to_string(step) + " action " +
              std::to_string(action));
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, ReviewRandom, ::testing::Range(1u, 5u));

} // namespace
