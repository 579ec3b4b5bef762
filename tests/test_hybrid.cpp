// Grain list: building, unlinking, and the links staying consistent.
#include "support.h"

#include <gtest/gtest.h>

namespace
{

// Walks the list both ways and checks that the links agree; returns its length.
int checked_length()
{
    int n = 0;
    grain *last = nullptr;
    for (grain *g = head; g; g = g->next) {
        EXPECT_EQ(g->prev, last);
        last = g;
        n++;
    }
    EXPECT_EQ(last, tail);
    return n;
}

using List = fresh_world;

TEST_F(List, FirstCallMakesTwoNodesAndEachLaterCallOne)
{
    grain *made = creer();
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(made, tail);
    EXPECT_NE(head, tail);
    EXPECT_EQ(head->next, tail);
    EXPECT_EQ(tail->prev, head);
    EXPECT_EQ(head->prev, nullptr);
    EXPECT_EQ(tail->next, nullptr);
    for (int i = 0; i < 9; i++)
        EXPECT_EQ(creer(), tail);
    EXPECT_EQ(checked_length(), 11);
}

TEST_F(List, RemovesHeadSecondInnerAndTail)
{
    std::vector<grain *> n = make_list(4); // A B C D E
    detruire(n[1]);                        // the second node goes too
    EXPECT_EQ(head, n[0]);
    EXPECT_EQ(n[0]->next, n[2]);
    EXPECT_EQ(n[2]->prev, n[0]);
    EXPECT_EQ(checked_length(), 4);

    detruire(n[0]); // head: C becomes the head
    EXPECT_EQ(head, n[2]);
    EXPECT_EQ(head->prev, nullptr);
    detruire(n[3]); // the new second node
    EXPECT_EQ(n[2]->next, n[4]);
    detruire(n[4]); // tail: C is the tail and the only node
    EXPECT_EQ(tail, n[2]);
    EXPECT_EQ(tail->next, nullptr);
    EXPECT_EQ(checked_length(), 1);
}

TEST_F(List, InnerNodeIsUnlinkedBetweenItsNeighbours)
{
    std::vector<grain *> n = make_list(4); // A B C D E
    detruire(n[2]);
    EXPECT_EQ(n[1]->next, n[3]);
    EXPECT_EQ(n[3]->prev, n[1]);
    EXPECT_EQ(checked_length(), 4);
}

TEST_F(List, RemovingTheOnlyNodeEmptiesTheList)
{
    std::vector<grain *> n = make_list(1);
    detruire(n[1]);
    detruire(n[0]);
    EXPECT_EQ(head, nullptr);
    EXPECT_EQ(tail, nullptr);
    // A list emptied this way can be built again.
    creer();
    EXPECT_EQ(checked_length(), 2);
}

TEST_F(List, RandomRemovalsKeepTheLinksConsistent)
{
    std::vector<grain *> n = make_list(999);
    // Remove every node whose index has a 1 in bit 0 or 3, in a scrambled order.
    int removed = 0;
    for (int k = 0; k < 1000; k++) {
        int i = (k * 617) % 1000;
        if (i & 9) {
            detruire(n[i]);
            removed++;
        }
    }
    EXPECT_EQ(checked_length(), 1000 - removed);
}

} // namespace

namespace
{

TEST_F(List, CreerOutOfMemoryLeavesTheListAsItWas)
{
    malloc_budget = 1; // the first call needs two nodes
    EXPECT_EQ(creer(), nullptr);
    EXPECT_EQ(head, nullptr);
    EXPECT_EQ(tail, nullptr);
    malloc_budget = 2;
    EXPECT_NE(creer(), nullptr);
    EXPECT_EQ(creer(), nullptr);
    malloc_budget = -1;
    EXPECT_EQ(checked_length(), 2);
}

} // namespace
