// Folder navigation in the real main window (offscreen): history steps and buttons, Up, Go to folder and
// the double click from a result page, and history entries whose nodes a worker deletes.
#include "viewer/Main.h"

#include "platform/VirtualTreeView.h"
#include "report/uDirectoryList.h"
#include "tests/support/LogLines.h"
#include "tests/support/MainWindowRig.h"
#include "tests/support/WaitSpy.h"
#include "viewer/ufWaitForm.h"

#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Ids 1 to 13 in this order, then 60 empty folders that list before them and push them out of sight.
const std::string Drive = [] {
    std::string drive = "D A\n  D A1\n    D A2\n      F deep.txt 1\nD B\n  D B1\n    D B2\n      F b.txt 1\n"
                        "D C\n  F c.txt 1\nD D\n  F d.txt 1\n";
    for (int i = 10; i < 70; ++i)
        drive += "D 0" + std::to_string(i) + "\n";
    return drive;
}();

qsizetype Loads()
{
    return support::LogLines().count(QStringLiteral("ThreadExpand.Execute - start read data from base"));
}

// The focused folder ("?" before it when not selected), the enabled buttons, the folders loaded since.
QString Where(TMainForm &Form, qsizetype LoadsBefore)
{
    PVirtualNode f = Form.tv_FolderTree->FocusedNode();
    const qsizetype loads = Loads() - LoadsBefore;
    return (f && !TVirtualStringTree::Selected(f) ? "?" : "") +
           (f ? GetNodeItem(f, Form.tv_FolderTree)->name : "-") + (Form.tb_Prev->isEnabled() ? " <" : "") +
           (Form.tb_Next->isEnabled() ? " >" : "") + (loads ? " +" + QString::number(loads) : "");
}

using support::FindNode;
using NavigationTest = support::MainWindowFixture;

// Actions: a name focuses that folder as a click does; "<" ">" "^" click Previous, Next, Up; "<!" runs
// Back with no previous entry (the button enabled by hand); "go X" right-clicks row X of a new result
// page whose rows are no children of the focused folder ("go" alone: below its rows) and picks Go to
// folder; "go! X" the same where it goes nowhere: X's parents lead round in a cycle (loop.txt) or to a
// missing row (orphan.txt), which a box says, or X is "Select all"; "dbl X" double-clicks row X; "del A"
// frees A's children as unloading does: the items, then the nodes through the control, on a worker while the
// window waits. Going to deep.txt loads A, A1, A2 and the file itself, one wait window each. Before "del A"
// the history is A2 A C A A2 A B* A1: both A2 go, the two A then side by side become one, and A1 goes.
TEST_F(NavigationTest, HistoryUpAndGoToFolderKeepTheButtonsAndNeverLandOnADeletedNode)
{
    // Each step: the action, "|", what shows after it.
    const QStringList steps =
        QStringLiteral(
            "go deep.txt|A2 +4, go A1|A <, go A1|A <, go|A <, go! loop.txt|A <, go! orphan.txt|A <, "
            "go! Select all|A <, dbl B2|B2 < +3, <|A < >, <|A2 >, <!|A2 >, "
            ">|A < >, C|C < +1, <|A < >, >|C <, ^|r.db3 <, ^|r.db3 <, <|C < >, A|A <, A2|A2 <, A|A <, "
            "B|B <, A1|A1 <, <|B < >, del A|B <, <|A < > +1, <|C < >, <|A >, >|C < >, >|A < >, >|B <")
            .split(QStringLiteral(", "));
    std::vector<std::unique_ptr<TDirectoryList>> items; // outlive the window that lists them
    support::ReportBuilder report;
    report.Tree(Drive).Row({.id = 100, .parent = 101, .name = "loop.txt"});
    report.Row({.id = 101, .parent = 102, .isFolder = 1, .name = "L1"});
    report.Row({.id = 102, .parent = 101, .isFolder = 1, .name = "L2"});
    report.Row({.id = 120, .parent = 121, .name = "orphan.txt"});
    OpenWindow(report.Write(Temp.File("r.db3")));
    support::BoxAnswerer boxes;
    TMainForm &form = *Form;
    TVirtualStringTree *folders = form.tv_FolderTree;
    TVirtualStringTree *files = form.tv_FilesTree;
    for (const QString &step : steps) {
        const qsizetype before = Loads();
        const QString action = step.section(QLatin1Char('|'), 0, 0).section(QLatin1Char(' '), 0, 0);
        const QString name = step.section(QLatin1Char('|'), 0, 0).section(QLatin1Char(' '), 1);
        const QString where = step.section(QLatin1Char('|'), 1);
        if (action == "<!") {
            form.tb_Prev->setEnabled(true);
            form.tb_PrevClick();
        } else if (action == "<" || action == ">" || action == "^") {
            (action == "<" ? form.tb_Prev : action == ">" ? form.tb_Next : form.tb_Up)->click();
        } else if (action.startsWith("go") || action == "dbl") {
            files->Clear();
            for (auto [row, id] : {std::pair{"Select all", SearchRootID},
                                   {"deep.txt", 4},
                                   {"A1", 2},
                                   {"B2", 7},
                                   {"loop.txt", 100},
                                   {"orphan.txt", 120}}) {
                items.push_back(
                    std::make_unique<TDirectoryList>(row, id, 0, 0, id == 2 || id == 7, false, 0, 0, 0, 0));
                AddInTreeView(files, id == SearchRootID ? nullptr : files->GetFirst(), items.back().get());
            }
            files->SetExpanded(files->GetFirst(), true);
            SearchMode = true;
            PVirtualNode row = FindNode(files, name);
            const QPoint at =
                row ? form.tv_FilesTreeView->visualRect(form.tv_FilesTreeView->IndexOf(row)).center()
                    : QPoint(5, form.tv_FilesTreeView->viewport()->height() - 2);
            files->OnMouseDown(files, Qt::RightButton, {}, at.x(), at.y());
            files->SetFocusedNode(row);
            action == "dbl" ? form.tv_FilesTreeDblClick(files) : form.mi_GoToFolder->trigger();
            // The folder's contents take the page's place, also when the folder was focused already.
            EXPECT_EQ(GetNodeItem(files->GetFirst(), files)->name == "Select all", !row || action == "go!")
                << step.toStdString();
        } else if (action == "del") {
            PVirtualNode a = FindNode(folders, name);
            TWaitForm *wait =
                form.ShowWaitForm(QStringLiteral("Deallocating of outdated resources. Please wait."));
            std::thread worker([&] {
                {
                    const TTreeUpdateGuard update(folders, files);
                    GetNodeItem(a, folders)->ClearChildren();
                    folders->DeleteChildren(a);
                }
                PostMessage(wait, WM_WAITFORM_CLOSE);
            });
            wait->WMShowModal();
            wait->Close();
            worker.join();
        } else {
            support::Focus(folders, FindNode(folders, action));
        }
        // The buttons follow a deletion once the wait window has gone.
        EXPECT_TRUE(QTest::qWaitFor([&] { return Where(form, before) == where; }, 1000))
            << step.toStdString() << ": " << Where(form, before).toStdString();
        // The focused folder is in sight, also where its folders had to be opened for it.
        const QRect shown =
            form.tv_FolderTreeView->visualRect(form.tv_FolderTreeView->IndexOf(folders->FocusedNode()));
        EXPECT_TRUE(form.tv_FolderTreeView->viewport()->rect().contains(shown.center()))
            << step.toStdString();
    }
    const QString broken = QStringLiteral("Can not find the folder of \"%1\" in the report.\nIts chain of "
                                          "parent folders is broken.");
    EXPECT_EQ(boxes.Texts.join(u'|').toStdString(),
              (broken.arg("loop.txt") + u'|' + broken.arg("orphan.txt")).toStdString());
    Form.reset();
}

// A work keeps clicks and keys from the folder tree also before its window shows, which a long work does.
TEST_F(NavigationTest, ClicksAndKeysReachNoTreeWhileAWorkRunsAndALongWorkShowsItsWindow)
{
    OpenWindow(support::ReportBuilder().Tree(Drive).Write(Temp.File("r.db3")));
    TMainForm &form = *Form;
    TVirtualTreeView *view = form.tv_FolderTreeView;
    const QPoint at = view->visualRect(view->IndexOf(FindNode(form.tv_FolderTree, "010"))).center();
    ASSERT_TRUE(form.windowHandle() && !at.isNull());
    const qsizetype before = Loads();
    QStringList seen{Where(form, before)}; // at the start, after the input during the work, after it
    const auto clickAndKey = [&] {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {}, view->viewport()->mapTo(&form, at));
        QTest::keyClick(view, Qt::Key_Down);
        seen << Where(form, before);
    };
    support::WaitSpy spy;
    TWaitForm *wait = form.ShowWaitForm(QStringLiteral("Search"));
    bool hiddenAtFirst = false, closed = false;
    QTimer::singleShot(0, &form, [&] {
        hiddenAtFirst = !wait->isVisible();
        clickAndKey();
    });
    QTimer poll; // the work ends once its window is on the screen
    QObject::connect(&poll, &QTimer::timeout, &form, [&] {
        if (wait->isVisible() && !std::exchange(closed, true))
            PostMessage(wait, WM_WAITFORM_CLOSE);
    });
    poll.start(5);
    wait->WMShowModal();
    wait->Close();
    EXPECT_TRUE(hiddenAtFirst);
    EXPECT_EQ(spy.WaitOnScreen, 1);
    clickAndKey(); // the same input outside a work reaches the tree
    EXPECT_EQ(seen[1].toStdString(), seen[0].toStdString());
    EXPECT_NE(seen[2].toStdString(), seen[0].toStdString());
}

} // namespace
