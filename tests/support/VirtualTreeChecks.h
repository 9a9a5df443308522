#pragma once
// Checks shared by the tree control's view tests.
#include "platform/VirtualStringTree.h"
#include "platform/VirtualTreeModel.h"
#include "platform/VirtualTreeView.h"

#include <QAbstractItemModelTester>
#include <QStringList>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

// A view of Tree, shown (offscreen) and exposed.
inline std::unique_ptr<TVirtualTreeView> ShowView(TVirtualStringTree &Tree)
{
    auto view = std::make_unique<TVirtualTreeView>(&Tree);
    view->resize(400, 300);
    view->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    return view;
}

// Watches Model with QAbstractItemModelTester while it lives; every rule the model breaks fails the test.
class TModelWatch
{
public:
    explicit TModelWatch(QAbstractItemModel *Model) : FPrevious(qInstallMessageHandler(Collect))
    {
        Failures().clear();
        FTester = std::make_unique<QAbstractItemModelTester>(
            Model, QAbstractItemModelTester::FailureReportingMode::Warning);
    }
    ~TModelWatch()
    {
        FTester.reset();
        qInstallMessageHandler(FPrevious);
        EXPECT_TRUE(Failures().isEmpty()) << Failures().join(QLatin1Char('\n')).toStdString();
    }

private:
    static QStringList &Failures()
    {
        static QStringList failures;
        return failures;
    }
    static void Collect(QtMsgType, const QMessageLogContext &context, const QString &message)
    {
        if (context.category && QByteArray(context.category).startsWith("qt.modeltest"))
            Failures().append(message);
    }
    QtMessageHandler FPrevious;
    std::unique_ptr<QAbstractItemModelTester> FTester;
};

// Compares what the model shows below Parent with the tree's visible children, and the view's
// expansion with the tree's, for every level the view has expanded.
inline void ExpectMirrors(TVirtualTreeView &View, PVirtualNode Parent, const QModelIndex &ParentIndex)
{
    TVirtualTreeModel *m = View.Model();
    std::vector<PVirtualNode> visible;
    for (PVirtualNode c = Parent->FirstChild; c; c = c->NextSibling)
        if (TVirtualStringTree::IsVisible(c))
            visible.push_back(c);
    ASSERT_EQ(m->rowCount(ParentIndex), static_cast<int>(visible.size()));
    for (size_t r = 0; r < visible.size(); ++r) {
        const QModelIndex i = m->index(static_cast<int>(r), 0, ParentIndex);
        ASSERT_EQ(m->NodeOf(i), visible[r]);
        ASSERT_EQ(m->parent(i), ParentIndex);
        ASSERT_EQ(View.isExpanded(i), TVirtualStringTree::Expanded(visible[r]));
        if (View.isExpanded(i))
            ExpectMirrors(View, visible[r], i);
    }
}

inline void ExpectMirrors(TVirtualTreeView &View)
{
    ExpectMirrors(View, View.Tree()->RootNode(), QModelIndex());
}
