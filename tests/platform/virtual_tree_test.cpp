// The node tree of the tree control, without a view: three-state tracking, the check and expanding
// handlers.
#include "platform/VirtualStringTree.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Nodes carry their name (a literal) in the data cell; the check events go to Log.
class VirtualTree : public ::testing::Test
{
protected:
    TVirtualStringTree Tree;
    std::vector<std::string> Log;

    VirtualTree()
    {
        Tree.OnChecking = [this](TVirtualStringTree *, PVirtualNode n, TCheckState &s, bool &) {
            Log.push_back("checking " + Name(n) + " " + std::to_string(s));
        };
        Tree.OnChecked = [this](TVirtualStringTree *, PVirtualNode n) {
            Log.push_back("checked " + Name(n));
        };
    }
    PVirtualNode Add(PVirtualNode Parent, const char *Name, TCheckType Type = ctTriStateCheckBox)
    {
        PVirtualNode n = Tree.AddChild(Parent, const_cast<char *>(Name));
        Tree.SetCheckType(n, Type);
        return n;
    }
    static std::string Name(PVirtualNode n)
    {
        return n && n->Data ? static_cast<const char *>(n->Data) : "-";
    }
    // The check state of every node in tree order: u, c, m (capital when pressed).
    std::string States() const
    {
        std::string s;
        for (PVirtualNode n = Tree.GetFirst(); n; n = Tree.GetNext(n))
            s += "uUcCmM"[n->CheckState];
        return s;
    }
};

} // namespace

TEST_F(VirtualTree, ThreeStateTrackingPushesDownAndRecomputesAncestors)
{
    // In tree order: top, p, c1, c2, g, plain, sib.
    PVirtualNode top = Add(nullptr, "top");
    PVirtualNode p = Add(top, "p");
    PVirtualNode c1 = Add(p, "c1");
    PVirtualNode c2 = Add(p, "c2");
    Add(c2, "g");
    Add(p, "plain", ctNone); // has no box: neither set nor counted
    PVirtualNode sib = Add(top, "sib");
    Tree.SetVisible(c1, false); // hidden nodes are tracked as well

    const struct
    {
        PVirtualNode Node;
        TCheckState State;
        const char *States;
    } steps[] = {
        {p, csCheckedNormal, "mccccuu"},   // pushed down to every descendant
        {p, csUncheckedNormal, "uuuuuuu"}, // and back
        {p, csMixedNormal, "mmuuuuu"},     // mixed is not pushed
        {c1, csCheckedNormal, "mmcuuuu"},  // some children checked: mixed
        {c2, csCheckedNormal, "mccccuu"},  // all boxed children checked: checked
        {sib, csCheckedNormal, "cccccuc"},  {c1, csUncheckedNormal, "mmuccuc"},
        {c2, csMixedNormal, "mmumcuc"},     // a mixed child makes its parent mixed
        {c2, csUncheckedNormal, "muuuuuc"}, // none checked, none mixed: unchecked
    };
    for (const auto &step : steps) {
        Tree.SetCheckState(step.Node, step.State);
        EXPECT_EQ(States(), step.States) << Name(step.Node) << " " << int(step.State);
    }

    TVirtualTreeOptions o = Tree.Options();
    o.AutoTristateTracking = false;
    Tree.SetOptions(o);
    Tree.SetCheckState(p, csCheckedNormal);
    EXPECT_EQ(States(), "mcuuuuc");
}

TEST_F(VirtualTree, CheckHandlersThatDetachThemselvesKeepTheirCapturesUntilTheyReturn)
{
    // Statics only inside the handlers: their own captures are what is at stake.
    static TVirtualStringTree *tree;
    static std::weak_ptr<int> watch[2];
    static std::vector<bool> aliveAfterDetach;
    tree = &Tree;
    auto checking = std::make_shared<int>(0), checked = std::make_shared<int>(0); // the handlers' alone
    watch[0] = checking;
    watch[1] = checked;
    Tree.OnChecking = [checking](TVirtualStringTree *, PVirtualNode, TCheckState &, bool &) {
        tree->OnChecking = nullptr;
        aliveAfterDetach.push_back(!watch[0].expired());
    };
    Tree.OnChecked = [checked](TVirtualStringTree *, PVirtualNode) {
        tree->OnChecked = nullptr;
        aliveAfterDetach.push_back(!watch[1].expired());
    };
    checking.reset();
    checked.reset();
    Tree.SetCheckState(Add(nullptr, "n"), csCheckedNormal);
    EXPECT_EQ(aliveAfterDetach, (std::vector<bool>{true, true}));
}

TEST_F(VirtualTree, ExpandingEventCanRefuseAndIsAskedForANodeWithoutChildren)
{
    PVirtualNode a = Add(nullptr, "a");
    bool allow = false;
    int expanded = 0;
    Tree.OnExpanding = [&](TVirtualStringTree *, PVirtualNode, bool &Allowed) { Allowed = allow; };
    Tree.OnExpanded = [&](TVirtualStringTree *, PVirtualNode) { ++expanded; };

    EXPECT_FALSE(Tree.SetExpanded(a, true));
    EXPECT_FALSE(TVirtualStringTree::Expanded(a));
    EXPECT_EQ(expanded, 0);
    // Even a node without children and without the mark is asked for: the event loads them.
    allow = true;
    EXPECT_TRUE(Tree.SetExpanded(a, true));
    EXPECT_EQ(expanded, 1);
}
