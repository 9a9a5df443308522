// The node tree of the tree control, without a view: structure, three-state tracking, events,
// expansion marks, focus, deletion and sorting.
#include "platform/VirtualStringTree.h"
#include "platform/VirtualTreeModel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Node names through the data cell, and an event log.
struct TFixture
{
    TVirtualStringTree Tree;
    std::vector<std::string> Names; // index = (intptr_t)Data
    std::vector<std::string> Log;

    PVirtualNode Add(PVirtualNode Parent, const std::string &Name, TCheckType Type = ctTriStateCheckBox)
    {
        Names.push_back(Name);
        PVirtualNode n =
            Tree.AddChild(Parent, reinterpret_cast<void *>(static_cast<intptr_t>(Names.size() - 1)));
        Tree.SetCheckType(n, Type);
        return n;
    }
    std::string Name(PVirtualNode n) const
    {
        return n ? Names[static_cast<size_t>(reinterpret_cast<intptr_t>(n->Data))] : "-";
    }
    void LogChecks()
    {
        Tree.OnChecking = [this](TVirtualStringTree *, PVirtualNode n, TCheckState &s, bool &) {
            Log.push_back("checking " + Name(n) + " " + std::to_string(s));
        };
        Tree.OnChecked = [this](TVirtualStringTree *, PVirtualNode n) {
            Log.push_back("checked " + Name(n));
        };
    }
    std::string Children(PVirtualNode Parent) const
    {
        std::string s;
        for (PVirtualNode c = TVirtualStringTree::GetFirstChild(Parent); c; c = c->NextSibling)
            s += Name(c);
        return s;
    }
};

} // namespace

TEST(VirtualTree, ChildrenAreAppendedInOrderAndCounted)
{
    TFixture f;
    PVirtualNode a = f.Add(nullptr, "a");
    PVirtualNode b = f.Add(nullptr, "b");
    PVirtualNode a1 = f.Add(a, "1");
    PVirtualNode a2 = f.Add(a, "2");
    PVirtualNode a21 = f.Add(a2, "x");

    EXPECT_EQ(f.Tree.TotalCount(), 5u);
    EXPECT_EQ(f.Tree.ChildCount(nullptr), 2u);
    EXPECT_EQ(f.Children(a), "12");
    EXPECT_EQ(a2->Index, 1u);
    EXPECT_EQ(a->Parent, f.Tree.RootNode());
    EXPECT_EQ(f.Tree.NodeParent(a), nullptr);
    EXPECT_EQ(f.Tree.NodeParent(a21), a2);
    EXPECT_EQ(f.Tree.GetNodeLevel(a), 0);
    EXPECT_EQ(f.Tree.GetNodeLevel(a21), 2);
    EXPECT_TRUE(TVirtualStringTree::HasChildren(a));
    EXPECT_FALSE(TVirtualStringTree::HasChildren(b));
    EXPECT_EQ(*TVirtualStringTree::GetNodeData(a1), a1->Data);

    std::string order;
    for (PVirtualNode n = f.Tree.GetFirst(); n; n = f.Tree.GetNext(n))
        order += f.Name(n);
    EXPECT_EQ(order, "a12xb");
}

TEST(VirtualTree, CheckedParentPushesItsStateDownToEveryDescendant)
{
    TFixture f;
    PVirtualNode p = f.Add(nullptr, "p");
    PVirtualNode c1 = f.Add(p, "c1");
    PVirtualNode c2 = f.Add(p, "c2");
    PVirtualNode g = f.Add(c2, "g");
    f.Tree.SetVisible(c1, false); // hidden nodes are tracked as well

    EXPECT_TRUE(f.Tree.SetCheckState(p, csCheckedNormal));
    EXPECT_EQ(c1->CheckState, csCheckedNormal);
    EXPECT_EQ(c2->CheckState, csCheckedNormal);
    EXPECT_EQ(g->CheckState, csCheckedNormal);

    f.Tree.SetCheckState(p, csUncheckedNormal);
    EXPECT_EQ(g->CheckState, csUncheckedNormal);
    EXPECT_EQ(c1->CheckState, csUncheckedNormal);

    // Mixed is not pushed down.
    f.Tree.SetCheckState(p, csMixedNormal);
    EXPECT_EQ(c2->CheckState, csUncheckedNormal);
}

TEST(VirtualTree, AncestorsAreRecomputedFromTheirChildren)
{
    TFixture f;
    PVirtualNode top = f.Add(nullptr, "top");
    PVirtualNode p = f.Add(top, "p");
    PVirtualNode sib = f.Add(top, "sib");
    PVirtualNode c1 = f.Add(p, "c1");
    PVirtualNode c2 = f.Add(p, "c2");
    PVirtualNode plain = f.Add(p, "plain", ctNone); // has no box: does not count

    f.Tree.SetCheckState(c1, csCheckedNormal);
    EXPECT_EQ(p->CheckState, csMixedNormal);
    EXPECT_EQ(top->CheckState, csMixedNormal);

    f.Tree.SetCheckState(c2, csCheckedNormal);
    EXPECT_EQ(p->CheckState, csCheckedNormal); // all (boxed) children checked
    EXPECT_EQ(plain->CheckState, csUncheckedNormal);
    EXPECT_EQ(top->CheckState, csMixedNormal); // sib is still unchecked

    f.Tree.SetCheckState(sib, csCheckedNormal);
    EXPECT_EQ(top->CheckState, csCheckedNormal);

    f.Tree.SetCheckState(c1, csUncheckedNormal);
    f.Tree.SetCheckState(c2, csMixedNormal); // a mixed child makes its parent mixed
    EXPECT_EQ(p->CheckState, csMixedNormal);
    f.Tree.SetCheckState(c2, csUncheckedNormal);
    EXPECT_EQ(p->CheckState, csUncheckedNormal); // none checked, none mixed
    EXPECT_EQ(top->CheckState, csMixedNormal);
}

TEST(VirtualTree, EventsComeForEveryChangedNodeCheckedOnesLast)
{
    TFixture f;
    PVirtualNode p = f.Add(nullptr, "p");
    PVirtualNode c1 = f.Add(p, "c1");
    f.Add(p, "c2");
    f.Add(c1, "g");
    f.LogChecks();

    f.Tree.SetCheckState(c1, csCheckedNormal);
    const std::vector<std::string> want = {"checking c1 2", "checking g 2", "checking p 4",
                                           "checked c1",    "checked g",    "checked p"};
    EXPECT_EQ(f.Log, want);

    // An unchanged state raises nothing.
    f.Log.clear();
    EXPECT_FALSE(f.Tree.SetCheckState(c1, csCheckedNormal));
    EXPECT_TRUE(f.Log.empty());
}

TEST(VirtualTree, CheckingEventCanRefuseOrChangeTheState)
{
    TFixture f;
    PVirtualNode p = f.Add(nullptr, "p");
    PVirtualNode c = f.Add(p, "c");
    PVirtualNode d = f.Add(p, "d");
    int checked = 0;
    f.Tree.OnChecked = [&](TVirtualStringTree *, PVirtualNode) { ++checked; };

    f.Tree.OnChecking = [](TVirtualStringTree *, PVirtualNode, TCheckState &, bool &Allowed) {
        Allowed = false;
    };
    EXPECT_FALSE(f.Tree.SetCheckState(c, csCheckedNormal));
    EXPECT_EQ(c->CheckState, csUncheckedNormal);
    EXPECT_EQ(p->CheckState, csUncheckedNormal);
    EXPECT_EQ(checked, 0);

    // Refusing one child of a push-down keeps that child (and its subtree) as it is.
    f.Tree.OnChecking = [&](TVirtualStringTree *, PVirtualNode n, TCheckState &, bool &Allowed) {
        Allowed = n != d;
    };
    f.Tree.SetCheckState(p, csCheckedNormal);
    EXPECT_EQ(c->CheckState, csCheckedNormal);
    EXPECT_EQ(d->CheckState, csUncheckedNormal);

    // The handler may replace the new state.
    f.Tree.OnChecking = [](TVirtualStringTree *, PVirtualNode, TCheckState &s, bool &) { s = csMixedNormal; };
    f.Tree.SetCheckState(d, csCheckedNormal);
    EXPECT_EQ(d->CheckState, csMixedNormal);
}

TEST(VirtualTree, DetachedEventsAreNotCalledAndTrackingGoesOn)
{
    TFixture f;
    PVirtualNode p = f.Add(nullptr, "p");
    PVirtualNode c = f.Add(p, "c");
    int calls = 0;
    f.Tree.OnChecking = [&](TVirtualStringTree *, PVirtualNode, TCheckState &, bool &) { ++calls; };
    f.Tree.OnChecked = [&](TVirtualStringTree *, PVirtualNode) { ++calls; };
    f.Tree.OnChecking = nullptr;
    f.Tree.OnChecked = nullptr;

    f.Tree.SetCheckState(c, csCheckedNormal);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(p->CheckState, csCheckedNormal);
}

TEST(VirtualTree, DirectWritesChangeOneNodeAndRaiseNothing)
{
    TFixture f;
    PVirtualNode p = f.Add(nullptr, "p");
    PVirtualNode c = f.Add(p, "c");
    PVirtualNode g = f.Add(c, "g");
    f.LogChecks();

    c->CheckState = csCheckedNormal;
    EXPECT_TRUE(f.Log.empty());
    EXPECT_EQ(p->CheckState, csUncheckedNormal);
    EXPECT_EQ(g->CheckState, csUncheckedNormal);

    // A user's toggle: mixed and unchecked go to checked, checked to unchecked.
    EXPECT_EQ(TVirtualStringTree::NextCheckState(csMixedNormal), csCheckedNormal);
    EXPECT_EQ(TVirtualStringTree::NextCheckState(csCheckedNormal), csUncheckedNormal);
    EXPECT_EQ(TVirtualStringTree::NextCheckState(csUncheckedNormal), csCheckedNormal);
}

TEST(VirtualTree, TrackingCanBeSwitchedOff)
{
    TFixture f;
    PVirtualNode p = f.Add(nullptr, "p");
    PVirtualNode c = f.Add(p, "c");
    TVirtualTreeOptions o = f.Tree.Options();
    o.AutoTristateTracking = false;
    f.Tree.SetOptions(o);
    f.Tree.SetCheckState(p, csCheckedNormal);
    EXPECT_EQ(c->CheckState, csUncheckedNormal);
}

TEST(VirtualTree, ExpandingEventCanRefuseAndTheTogglingMarkBlocksToggles)
{
    TFixture f;
    PVirtualNode a = f.Add(nullptr, "a");
    bool allow = false;
    int expanded = 0;
    f.Tree.OnExpanding = [&](TVirtualStringTree *, PVirtualNode, bool &Allowed) { Allowed = allow; };
    f.Tree.OnExpanded = [&](TVirtualStringTree *, PVirtualNode) { ++expanded; };

    EXPECT_FALSE(f.Tree.SetExpanded(a, true));
    EXPECT_FALSE(TVirtualStringTree::Expanded(a));
    EXPECT_EQ(expanded, 0);

    // Even a node without children and without the mark is asked for: the event loads them.
    allow = true;
    EXPECT_TRUE(f.Tree.SetExpanded(a, true));
    EXPECT_EQ(expanded, 1);

    // A node loaded outside a toggle keeps a toggling mark set by its loader and is not toggled.
    PVirtualNode b = f.Add(nullptr, "b");
    f.Tree.SetToggling(b, true);
    EXPECT_FALSE(f.Tree.SetExpanded(b, true));
    EXPECT_TRUE(TVirtualStringTree::Toggling(b));
}

TEST(VirtualTree, CollapseAskedForDuringTheNodesOwnExpansionHasNoEffect)
{
    TFixture f;
    PVirtualNode folder = f.Add(nullptr, "folder");
    f.Tree.OnExpanding = [&](TVirtualStringTree *t, PVirtualNode n, bool &) {
        // What the loader does for a folder that turns out to hold only files.
        PVirtualNode file = t->AddChild(n);
        t->SetVisible(file, false);
        t->SetHasChildren(n, false);
        t->SetToggling(n, true);
        EXPECT_FALSE(t->SetExpanded(n, false));
    };
    EXPECT_TRUE(f.Tree.SetExpanded(folder, true));
    EXPECT_TRUE(TVirtualStringTree::Expanded(folder));
    EXPECT_FALSE(TVirtualStringTree::Toggling(folder)); // the tree's own toggle cleared it
    EXPECT_FALSE(TVirtualStringTree::HasChildren(folder));
    EXPECT_EQ(folder->ChildCount, 1u);
}

TEST(VirtualTree, FocusChangingCanRefuseAndSelectionIsSingle)
{
    TFixture f;
    PVirtualNode a = f.Add(nullptr, "a");
    PVirtualNode b = f.Add(nullptr, "b");
    bool allow = true;
    f.Tree.OnFocusChanging = [&](TVirtualStringTree *, PVirtualNode Old, PVirtualNode New, int, int,
                                 bool &Allowed) {
        f.Log.push_back("changing " + f.Name(Old) + ">" + f.Name(New));
        Allowed = allow;
    };
    f.Tree.OnFocusChanged = [&](TVirtualStringTree *, PVirtualNode n, int) {
        f.Log.push_back("changed " + f.Name(n));
    };

    EXPECT_TRUE(f.Tree.SetFocusedNode(a));
    allow = false;
    EXPECT_FALSE(f.Tree.SetFocusedNode(b));
    EXPECT_EQ(f.Tree.FocusedNode(), a);
    EXPECT_EQ(f.Log, (std::vector<std::string>{"changing ->a", "changed a", "changing a>b"}));

    f.Tree.SetSelected(a, true);
    f.Tree.SetSelected(b, true);
    EXPECT_FALSE(TVirtualStringTree::Selected(a));
    EXPECT_EQ(f.Tree.GetFirstSelected(), b);
    EXPECT_EQ(f.Tree.SelectedCount(), 1u);
}

TEST(VirtualTree, DeletingFreesChildrenFirstAndLeavesFocusAndSelection)
{
    TFixture f;
    PVirtualNode a = f.Add(nullptr, "a");
    PVirtualNode b = f.Add(nullptr, "b");
    PVirtualNode c = f.Add(nullptr, "c");
    PVirtualNode a1 = f.Add(a, "a1");
    f.Add(a1, "a11");
    f.Tree.OnFreeNode = [&](TVirtualStringTree *, PVirtualNode n) { f.Log.push_back(f.Name(n)); };
    f.Tree.SetFocusedNode(a1);
    f.Tree.SetSelected(a1, true);

    f.Tree.DeleteNode(a);
    EXPECT_EQ(f.Log, (std::vector<std::string>{"a11", "a1", "a"}));
    EXPECT_EQ(f.Tree.FocusedNode(), nullptr);
    EXPECT_EQ(f.Tree.GetFirstSelected(), nullptr);
    EXPECT_EQ(f.Tree.TotalCount(), 2u);
    EXPECT_EQ(b->Index, 0u);
    EXPECT_EQ(c->Index, 1u);
    EXPECT_EQ(f.Tree.GetFirst(), b);

    // Children go, the parent keeps its expand button unless told otherwise.
    f.Add(b, "b1");
    f.Add(b, "b2");
    f.Tree.DeleteChildren(b);
    EXPECT_EQ(b->ChildCount, 0u);
    EXPECT_EQ(b->FirstChild, nullptr);
    EXPECT_TRUE(TVirtualStringTree::HasChildren(b));
    f.Tree.Clear();
    EXPECT_EQ(f.Tree.TotalCount(), 0u);
    EXPECT_EQ(f.Tree.GetFirst(), nullptr);
}

TEST(VirtualTree, NodesDeletedDuringAnUpdateStayReadableUntilItEnds)
{
    TFixture f;
    PVirtualNode a = f.Add(nullptr, "a");
    PVirtualNode a1 = f.Add(a, "a1");
    f.Tree.BeginUpdate();
    f.Tree.DeleteNode(a);
    EXPECT_EQ(f.Tree.TotalCount(), 0u);
    EXPECT_TRUE(a->States & vsDeleted);
    EXPECT_TRUE(a1->States & vsDeleted);
    EXPECT_EQ(f.Name(a1), "a1");
    f.Tree.EndUpdate();
    EXPECT_EQ(f.Tree.GetFirst(), nullptr);
}

TEST(VirtualTree, SortsByTheCompareEventBothWaysAndStably)
{
    TFixture f;
    PVirtualNode p = f.Add(nullptr, "p");
    for (const char *name : {"c", "a", "b", "a"})
        f.Add(p, name);
    PVirtualNode firstA = p->FirstChild->NextSibling;
    PVirtualNode inner = f.Add(p->FirstChild, "z");
    f.Add(p->FirstChild, "y");
    int column = -2;
    f.Tree.OnCompareNodes = [&](TVirtualStringTree *, PVirtualNode n1, PVirtualNode n2, int Column,
                                int &Result) {
        column = Column;
        Result = f.Name(n1).compare(f.Name(n2));
    };

    f.Tree.Sort(p, 3, sdAscending);
    EXPECT_EQ(f.Children(p), "aabc");
    EXPECT_EQ(p->FirstChild, firstA); // equal nodes keep their order
    EXPECT_EQ(column, 3);
    EXPECT_EQ(p->LastChild->Index, 3u);
    EXPECT_EQ(f.Children(inner->Parent), "zy"); // not recursive

    f.Tree.SortTree(0, sdDescending);
    EXPECT_EQ(f.Children(p), "cbaa");
    EXPECT_EQ(p->FirstChild->NextSibling->NextSibling, firstA);
    EXPECT_EQ(f.Children(inner->Parent), "zy");
    f.Tree.SortTree(0, sdAscending);
    EXPECT_EQ(f.Children(inner->Parent), "yz");
    EXPECT_EQ(inner->Index, 1u);
    EXPECT_EQ(inner->PrevSibling->NextSibling, inner);
}

TEST(VirtualTree, HiddenNodesAreNotCountedByTheView)
{
    TFixture f;
    PVirtualNode a = f.Add(nullptr, "a");
    PVirtualNode b = f.Add(nullptr, "b");
    f.Add(nullptr, "c");
    f.Add(b, "b1");
    f.Tree.SetVisible(b, false);
    for (int i = 0; i < 3; ++i)
        f.Tree.SetVisible(f.Add(a, "file"), false);
    f.Add(a, "dir");

    TVirtualTreeModel model(&f.Tree);
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.NodeOf(model.index(1, 0)), b->NextSibling);
    const QModelIndex ia = model.index(0, 0);
    EXPECT_EQ(model.rowCount(ia), 1);
    EXPECT_EQ(model.NodeOf(model.index(0, 0, ia)), a->LastChild);
    EXPECT_FALSE(model.IndexOf(b->FirstChild).isValid()); // below a hidden node
    EXPECT_EQ(f.Tree.TotalCount(), 8u);                   // the tree itself counts them all
}
