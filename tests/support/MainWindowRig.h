#pragma once
// For tests of the real main window (offscreen): settings and log in a temporary folder while a test
// runs, the trees' nodes found and listed by their items' names, ticks and comments as a user gives them.
#include "platform/StatusBar.h"
#include "report/uDirectoryList.h"
#include "report/uLog.h"
#include "tests/support/BoxAnswerer.h"
#include "tests/support/FunctionThread.h"
#include "tests/support/ReportBuilder.h"
#include "tests/support/TempSettings.h"
#include "viewer/Main.h"
#include "viewer/udImg.h"
#include "viewer/ufWaitForm.h"
#include "viewer/utFreeMemThread.h"

#include <QApplication>
#include <QDateTime>
#include <QFocusEvent>
#include <QLocale>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

namespace support {

// Settings and log go to Temp; the window, when one was made, goes before they are restored.
class MainWindowFixture : public ::testing::Test
{
protected:
    void SetUp() override { SetLogFolder(Temp.Path() + "/"); }
    void TearDown() override
    {
        Form.reset();
        SetLogFolder("");
    }

    TempDir Temp;
    TempSettings Settings{Temp.File("config")};
    ModalGuard Guard; // a modal show nothing ends fails the test instead of hanging it
    std::unique_ptr<TMainForm> Form;

    // A new window on the report at Path, started as from the command line, once the root's
    // children are loaded.
    void OpenWindow(const std::string &Path)
    {
        Form.reset();
        Form =
            std::make_unique<TMainForm>(nullptr, QStringList{"ParvixViewer", QString::fromStdString(Path)});
        ASSERT_TRUE(QTest::qWaitFor(
            [this] {
                return ReportDB && Form->tv_FolderTree->GetFirst() &&
                       Form->tv_FolderTree->GetFirst()->ChildCount;
            },
            10000));
    }
};

inline QString NodeName(TVirtualStringTree *Tree, PVirtualNode Node)
{
    return GetNodeItem(Node, Tree)->name;
}

// Node's children names in the tree's order; hidden ones in brackets.
inline QStringList ChildNames(TVirtualStringTree *Tree, PVirtualNode Node)
{
    QStringList names;
    for (PVirtualNode c = Node->FirstChild; c; c = c->NextSibling)
        names << (TVirtualStringTree::IsVisible(c) ? NodeName(Tree, c) : u'[' + NodeName(Tree, c) + u']');
    return names;
}

// Node's children (the top-level nodes when Node is null), in order.
inline std::vector<PVirtualNode> ChildNodes(TVirtualStringTree *Tree, PVirtualNode Node = nullptr)
{
    std::vector<PVirtualNode> nodes;
    for (PVirtualNode c = Node ? Node->FirstChild : Tree->GetFirst(); c; c = c->NextSibling)
        nodes.push_back(c);
    return nodes;
}

// The first node named Name below Node (anywhere in the tree when Node is null); nodes without an
// item are passed over.
inline PVirtualNode FindNode(TVirtualStringTree *Tree, const QString &Name, PVirtualNode Node = nullptr)
{
    for (PVirtualNode n = Node ? Node->FirstChild : Tree->GetFirst(); n;
         n = Node ? n->NextSibling : Tree->GetNext(n))
        if (GetNodeItem(n, Tree) && NodeName(Tree, n) == Name)
            return n;
    return nullptr;
}

// Whether a time cell's text shows the moment "yyyy-MM-dd HH:mm:ss": its day in the user's short date
// format, then its time of day unless that is midnight.
inline ::testing::AssertionResult ShowsMoment(const QString &Text, const char *Moment)
{
    const QDateTime at =
        QDateTime::fromString(QString::fromLatin1(Moment), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (Text.section(u' ', 0, 0) == QLocale().toString(at.date(), QLocale::ShortFormat) &&
        Text.contains(u':') == (at.time() != QTime(0, 0)))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << Text.toStdString() << " shows no " << Moment;
}

// Node focused and selected, as a click on it leaves it.
inline void Focus(TVirtualStringTree *Tree, PVirtualNode Node)
{
    Tree->SetFocusedNode(Node);
    Tree->SetSelected(Node, true);
}

// A press on Node's box and its release: the tick is the user's.
inline void ClickCheck(TVirtualStringTree *Tree, PVirtualNode Node)
{
    Tree->OnMouseDown(Tree, Qt::LeftButton, {}, 0, 0);
    Tree->ToggleCheck(Node);
}

// Enters the comment box, types Text at its end and, with Leave, leaves it, which stores the comment.
inline void WriteComment(QPlainTextEdit *Box, const QString &Text, bool Leave = true)
{
    QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
    QApplication::sendEvent(Box, &in);
    Box->moveCursor(QTextCursor::End);
    Box->insertPlainText(Text);
    if (!Leave)
        return;
    QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
    QApplication::sendEvent(Box, &out);
}

// Whether the status bar shows the deleted mark at its left.
inline bool DeletedMarkShown(TMainForm *Form)
{
    const QImage bar = Form->sb_InfoStatusBar->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage mark = dmImg->ilObjType.Image(ObjTypeDeletedImage).toImage();
    for (int y = 0; y < mark.height(); ++y)
        for (int x = 0; x < mark.width(); ++x)
            if (qAlpha(mark.pixel(x, y)) == 255 && bar.pixel(x, y + 2) != mark.pixel(x, y))
                return false;
    return true;
}

// The tree's nodes that carry an item, in order; with VisibleOnly those drawn only.
inline std::vector<PVirtualNode> ItemNodes(TVirtualStringTree *Tree, bool VisibleOnly)
{
    std::vector<PVirtualNode> nodes;
    for (PVirtualNode n = Tree->GetFirst(); n; n = Tree->GetNext(n))
        if (GetNodeItem(n, Tree) && (!VisibleOnly || TVirtualStringTree::IsVisible(n)))
            nodes.push_back(n);
    return nodes;
}

// One unloading pass of FreeMemThread now, run from a thread of its own as its own thread would.
inline void RunUnloadingPass()
{
    std::atomic<bool> done{false};
    FunctionThread pass([&done](FunctionThread &) {
        FreeMemThread->FreeOldNodes();
        done = true;
    });
    pass.Resume();
    ASSERT_TRUE(QTest::qWaitFor([&] { return done && !(WaitForm && WaitForm->InModalShow()); }, 10000));
    pass.WaitFor();
}

} // namespace support
