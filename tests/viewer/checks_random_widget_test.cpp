// Random review sessions on the real main window (offscreen): ticks in both trees and on result pages,
// comments typed and left, focus moves, history steps, Go to folder, searches and their pages,
// unloading passes, saves (one failing) and reopening. After every step each tick a tree shows is what
// the report says the item counts as, every comment typed is stored for the item it was typed on and
// for no other, and the comment box edits a live item.
#include "viewer/Main.h"

#include "platform/VirtualTreeView.h"
#include "report/uCheckHelper.h"
#include "report/uSQLiteFunc.h"
#include "tests/support/MainWindowRig.h"
#include "tests/support/ReportTesting.h"
#include "tests/support/TickReport.h"

#include <QLineEdit>
#include <QToolButton>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <optional>
#include <random>
#include <sstream>

namespace {

using TComments = std::map<int64_t, std::string>;

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
    // id -> the comments that hold text, from Db (the working transaction or the report's file).
    static TComments Comments(sqlite3 *Db)
    {
        TComments out;
        std::istringstream rows(reporttest::Query(
            Db, "SELECT fileID || ' ' || comment FROM check_and_comment_map WHERE comment <> ''"));
        for (std::string row; std::getline(rows, row);)
            out[std::stoll(row)] = row.substr(row.find(' ') + 1);
        return out;
    }
    // The typed text still in the box for its item is due once the box shows anything else.
    void SettlePending(bool Due = false)
    {
        if (PendingItem &&
            (Due || Form->CommentItem() != PendingItem || Form->mem_Comments->toPlainText() != PendingText)) {
            Stored[PendingID] = PendingText.toStdString();
            PendingItem = nullptr;
        }
    }
    void Check(const std::string &Step)
    {
        SCOPED_TRACE(Step);
        bool live = !Form->CommentItem();
        for (TVirtualStringTree *tree : {Folders(), Files()})
            for (PVirtualNode n : support::ItemNodes(tree, false)) {
                const TDirectoryList *item = GetNodeItem(n, tree);
                live = live || item == Form->CommentItem();
                uint8_t state = 0, folder = 0;
                if (item->id == -1)
                    continue; // the report's root counts its own row among its children
                if (item->id != SearchRootID) {
                    ASSERT_EQ(int(n->CheckState),
                              IsCheckedInherited(ReportDB, item->id, state, folder) ? state : 0)
                        << "item " << item->id << " in tree " << tree->Tag;
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
        ASSERT_TRUE(live) << "the comment box edits a freed item";
        SettlePending();
        TComments expected = Stored, stored = Comments(ReportDB);
        if (PendingItem) {
            expected.erase(PendingID);
            stored.erase(PendingID);
        }
        ASSERT_EQ(stored, expected);
        ASSERT_TRUE(stored.empty() || (stored.begin()->first >= -1 && stored.rbegin()->first <= Count))
            << "a comment for no item of the report";
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
        SettlePending(true);
        if (boxes.Texts.isEmpty()) {
            Saved = Stored;
            EXPECT_EQ(Comments(reporttest::OpenDb(Path).get()), Saved) << "saved";
            return;
        }
        EXPECT_TRUE(boxes.Texts[0].endsWith(QLatin1String("The changes since the last save are lost.")));
        Stored = Saved;
        QString kept; // the box shows the comment the report keeps for its item
        const bool has = Form->CommentItem() && GetComment(ReportDB, kept, Form->CommentItem()->id);
        EXPECT_EQ(Form->mem_Comments->toPlainText(), has ? kept : QStringLiteral("Your comment to file"));
    }
    void Type(int Step, bool Leave)
    {
        support::WriteComment(Form->mem_Comments,
                              Rng() % 4 ? QStringLiteral(" c%1").arg(Step) : QStringLiteral(" "), false);
        SettlePending();
        if ((PendingItem = Form->CommentItem())) {
            PendingID = PendingItem->id;
            PendingText = Form->mem_Comments->toPlainText();
        }
        if (Leave)
            support::WriteComment(Form->mem_Comments, QString());
    }

    // Right-clicks Row and goes to its folder, or opens it with a double click.
    void GoFrom(PVirtualNode Row)
    {
        const QPoint at = Form->tv_FilesTreeView->visualRect(Form->tv_FilesTreeView->IndexOf(Row)).center();
        Files()->OnMouseDown(Files(), Qt::RightButton, {}, at.x(), at.y());
        support::Focus(Files(), Row);
        Rng() % 2 ? Form->mi_GoToFolderClick() : Form->tv_FilesTreeDblClick(Files());
    }
    // Up, Previous or Next.
    void StepHistory()
    {
        (Rng() % 3 == 0 ? Form->tb_Up : Rng() % 2 ? Form->tb_Prev : Form->tb_Next)->click();
    }

    std::mt19937 Rng{GetParam()};
    std::string Path;
    int Count = 0;           // the report's items have the ids 1 to Count, its root -1
    TComments Stored, Saved; // the comments the report holds, and its file since the last save
    const TDirectoryList *PendingItem = nullptr;
    int64_t PendingID = 0;
    QString PendingText;
};

TEST_P(ReviewRandom, ShownTicksAndTypedCommentsAreWhatTheReportKeeps)
{
    std::string rows;
    AddLevel(Rng, rows, 0, Count);
    Path = support::ReportBuilder().Tree(rows).WithCheckTable().Write(Temp.File("r.db3"));
    Open();
    SearchPageSize = 7;
    static const char *const Patterns[] = {"*", "f1*", "*2*", "d*;f3*"};
    for (int step = 0; step < 200 && !HasFailure(); ++step) {
        const std::vector<PVirtualNode> folders = support::ItemNodes(Folders(), true),
                                        rows = support::ItemNodes(Files(), true);
        PVirtualNode folder = folders[Rng() % folders.size()],
                     row = rows.empty() ? nullptr : rows[Rng() % rows.size()];
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
        case 4: // a row, often typed on at once
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
            StepHistory();
            break;
        case 12: // Go to folder, or a double click, on one of the first rows
            if (row = Files()->GetFirst(); row && Rng() % 2)
                row = Files()->GetNext(row);
            if (row)
                GoFrom(row);
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
            support::RunUnloadingPass();
            break;
        case 17:
        case 18:
            Save(action == 18);
            break;
        case 19: // now and then closing, which saves; the report opens again as it was left
            if (Rng() % 3) {
                Save(false);
                break;
            }
            Form->close();
            SettlePending(true);
            Saved = Stored;
            Open();
            break;
        }
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        Check("seed " + std::to_string(GetParam()) + " step " + std::to_string(step) + " action " +
              std::to_string(action));
    }
}

// A report that an earlier review left rows in (below folders without rows, unticks inside folders
// ticked whole, comments deep down, folders whose checked and checkForFolder differ). Browsing never
// changes what an item counts as, except that a folder may come to count as its children do once the
// trees show them; a tick makes the item and everything below it count as its state.
TEST_P(ReviewRandom, RowsOfAnEarlierReviewKeepWhatItemsCount)
{
    std::string rows;
    AddLevel(Rng, rows, 0, Count);
    std::map<int64_t, int64_t> parent;
    std::map<int64_t, std::vector<int64_t>> children;
    std::vector<std::tuple<int64_t, int64_t, bool>> items;
    for (const support::DriveRow &r : support::ParseTree(rows)) {
        parent[r.id] = r.parent;
        children[r.parent].push_back(r.id);
        items.emplace_back(r.id, r.parent, r.isFolder == 1);
    }
    support::ReportBuilder report;
    report.Tree(rows);
    for (const support::CheckRow &row : ticktest::EarlierReviewRows(items, Rng))
        report.Check(row);
    Path = report.Write(Temp.File("r.db3"));
    Stored = Saved = Comments(reporttest::OpenDb(Path).get());
    Open();
    SearchPageSize = 7;
    const auto counts = [&] {
        std::map<int64_t, int> out;
        for (int64_t id = -1; id <= Count; ++id) {
            uint8_t state = 0, folder = 0;
            out[id] = IsCheckedInherited(ReportDB, id, state, folder) ? state : 0;
        }
        return out;
    };
    const auto below = [&](int64_t id, int64_t above) {
        for (; id != -1; id = parent[id])
            if (parent[id] == above)
                return true;
        return false;
    };
    std::map<int64_t, int> was = counts();
    static const char *const Patterns[] = {"*", "f1*", "d*;f3*"};
    for (int step = 0; step < 150 && !HasFailure(); ++step) {
        const std::vector<PVirtualNode> folders = support::ItemNodes(Folders(), true),
                                        rows = support::ItemNodes(Files(), true);
        PVirtualNode folder = folders[Rng() % folders.size()],
                     row = rows.empty() ? nullptr : rows[Rng() % rows.size()];
        const int action = int(Rng() % 11);
        support::BoxAnswerer unexpected(false);
        std::vector<int64_t> ticked;
        switch (action) {
        case 0:
        case 1:
            Folders()->SetExpanded(folder, action == 0);
            break;
        case 2:
            Folders()->OnMouseDown(Folders(), Qt::LeftButton, {}, 0, 0);
            support::Focus(Folders(), folder);
            break;
        case 3: // a row, a comment typed on it, the box left
            Files()->OnMouseDown(Files(), Qt::LeftButton, {}, 0, 0);
            if (row)
                support::Focus(Files(), row);
            Type(step, true);
            break;
        case 4:
            support::ClickCheck(Folders(), folder);
            ticked.push_back(GetNodeItem(folder, Folders())->id);
            break;
        case 5:
            if (!row || (GetNodeItem(row, Files())->id == SearchRootID && !row->FirstChild))
                break; // "Select all" of a page without rows is left alone
            support::ClickCheck(Files(), row);
            if (const int64_t id = GetNodeItem(row, Files())->id; id != SearchRootID)
                ticked.push_back(id);
            else
                for (PVirtualNode r = row->FirstChild; r; r = r->NextSibling)
                    ticked.push_back(GetNodeItem(r, Files())->id);
            break;
        case 6:
            support::RunUnloadingPass();
            break;
        case 7:
            Form->edit_Search->setText(QLatin1String(Patterns[Rng() % 3]));
            Form->tb_FastSearchClick();
            break;
        case 8:
            if (Form->mi_MoreResults->isEnabled())
                Form->mi_MoreResultsClick();
            break;
        case 9:
            if (row)
                GoFrom(row);
            break;
        case 10:
            StepHistory();
            break;
        }
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        const std::string trace = "seed " + std::to_string(GetParam()) + " step " + std::to_string(step) +
                                  " action " + std::to_string(action);
        Check(trace);
        SCOPED_TRACE(trace);
        const std::map<int64_t, int> now = counts();
        for (int64_t id = 1; id <= Count; ++id) {
            bool free = false;
            for (int64_t x : ticked) {
                if (x == id || below(id, x)) {
                    ASSERT_NE(now.at(x), int(csMixedNormal)) << "ticked " << x;
                    ASSERT_EQ(now.at(id), now.at(x)) << "item " << id << " below the ticked " << x;
                    free = true;
                }
                free = free || below(x, id); // an ancestor, worked out again
            }
            if (free || now.at(id) == was.at(id))
                continue;
            // A folder that the trees now show as its children count.
            bool checked = false, unchecked = false;
            for (int64_t child : children[id]) {
                checked = checked || now.at(child) != csUncheckedNormal;
                unchecked = unchecked || now.at(child) != csCheckedNormal;
            }
            ASSERT_FALSE(children[id].empty()) << "item " << id << " changed from " << was.at(id);
            ASSERT_EQ(now.at(id), checked && unchecked ? csMixedNormal
                                  : checked            ? csCheckedNormal
                                                       : csUncheckedNormal)
                << "folder " << id << " changed from " << was.at(id);
        }
        was = now;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, ReviewRandom, ::testing::Values(1u, 2u, 4u, 8u, 14u, 15u, 16u, 21u));

} // namespace
