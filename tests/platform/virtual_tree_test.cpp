// The node tree of the tree control, without a view: three-state tracking, the check and expanding
// handlers.
#include "platform/VirtualStringTree.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

// Nodes carry their name (a literal) in the data cell; the check events go to Log.
class VirtualTree : public ::testing::Test
{
protected:
    TVirtualStringTree Tree;
    std::string Log;           // "?name state" per checking event, "!name" per checked event
    std::string Refuses = "-"; // the node whose checking event refuses

    VirtualTree()
    {
        Tree.OnChecking = [this](TVirtualStringTree *, PVirtualNode n, TCheckState &s, bool &Allowed) {
            Log += " ?" + Name(n) + std::to_string(s);
            Allowed = Name(n) != Refuses;
        };
        Tree.OnChecked = [this](TVirtualStringTree *, PVirtualNode n) { Log += " !" + Name(n); };
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

    // Each node that changes is asked first (the node, then down, then up) and told after.
    for (const auto &[node, state, states, events, refuses] :
         std::vector<std::tuple<PVirtualNode, TCheckState, std::string, std::string, const char *>>{
             {p, csCheckedNormal, "mccccuu", " ?p2 ?c12 ?c22 ?g2 ?top4 !p !c1 !c2 !g !top", "-"}, // down
             {p, csUncheckedNormal, "uuuuuuu", " ?p0 ?c10 ?c20 ?g0 ?top0 !p !c1 !c2 !g !top", "-"},
             {p, csMixedNormal, "mmuuuuu", " ?p4 ?top4 !p !top", "-"},         // mixed is not pushed
             {c1, csCheckedNormal, "mmcuuuu", " ?c12 !c1", "-"},               // some children checked: mixed
             {c2, csCheckedNormal, "mccccuu", " ?c22 ?g2 ?p2 !c2 !g !p", "-"}, // all boxed children checked
             {sib, csCheckedNormal, "cccccuc", " ?sib2 ?top2 !sib !top", "-"},
             {c1, csUncheckedNormal, "mmuccuc", " ?c10 ?p4 ?top4 !c1 !p !top", "-"},
             {c2, csMixedNormal, "mmumcuc", " ?c24 !c2", "-"}, // a mixed child: mixed parent
             {c2, csUncheckedNormal, "muuuuuc", " ?c20 ?g0 ?p0 !c2 !g !p", "-"}, // none checked or mixed
             {c2, csUncheckedNormal, "muuuuuc", "", "-"},                        // no change, no event
             {p, csCheckedNormal, "muuuuuc", " ?p2", "p"},                       // a refusing node stays
             {p, csCheckedNormal, "cccuuuc", " ?p2 ?c12 ?c22 ?top2 !p !c1 !top", "c2"}, // and its subtree
         }) {
        Log.clear();
        Refuses = refuses;
        Tree.SetCheckState(node, state);
        EXPECT_EQ(States() + Log, states + events) << Name(node) << " " << int(state);
    }

    TVirtualTreeOptions o = Tree.Options();
    o.AutoTristateTracking = false;
    Tree.SetOptions(o);
    Tree.SetCheckState(p, csUncheckedNormal);
    EXPECT_EQ(States(), "cucuuuc");
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
