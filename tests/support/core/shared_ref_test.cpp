#include "support/core/shared_ref.h"

#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

namespace Velk {
namespace {

// Counts destructions; may hold a handle to another node (a chain).
struct node {
  static inline int destroyed = 0;
  explicit node(int v) : value(v) {}
  ~node() { ++destroyed; }
  int value;
  shared_ref<node> next;
};

class SharedRefTest : public ::testing::Test {
 protected:
  void SetUp() override { node::destroyed = 0; }
};

TEST_F(SharedRefTest, CopiesCountAndTheLastHolderReleases) {
  {
    shared_ref<node> a = make_shared_ref<node>(1);
    EXPECT_EQ(a.use_count(), 1u);
    EXPECT_TRUE(a.is_unique());
    {
      shared_ref<node> b = a;
      shared_ref<node> c;
      c = b;
      EXPECT_EQ(a.use_count(), 3u);
      EXPECT_EQ(c->value, 1);
      EXPECT_FALSE(a.is_unique());
    }
    EXPECT_EQ(a.use_count(), 1u);
    EXPECT_EQ(node::destroyed, 0);
  }
  EXPECT_EQ(node::destroyed, 1);
}

TEST_F(SharedRefTest, MovesTransferWithoutCounting) {
  shared_ref<node> a = make_shared_ref<node>(2);
  shared_ref<node> b = std::move(a);
  EXPECT_FALSE(a);
  EXPECT_EQ(a.use_count(), 0u);
  EXPECT_EQ(b.use_count(), 1u);
  shared_ref<node> c = make_shared_ref<node>(3);
  c = std::move(b);  // c's old object is released, b's moves in
  EXPECT_EQ(node::destroyed, 1);
  EXPECT_FALSE(b);
  EXPECT_EQ(c->value, 2);
  EXPECT_EQ(c.use_count(), 1u);
  c.release();
  EXPECT_EQ(node::destroyed, 2);
  EXPECT_FALSE(c);
}

TEST_F(SharedRefTest, SelfAssignmentAndSelfMoveKeepTheObject) {
  shared_ref<node> a = make_shared_ref<node>(4);
  shared_ref<node>& same = a;
  a = same;
  EXPECT_EQ(a.use_count(), 1u);
  a = std::move(same);
  EXPECT_TRUE(a);
  EXPECT_EQ(a->value, 4);
  EXPECT_EQ(a.use_count(), 1u);
  EXPECT_EQ(node::destroyed, 0);
}

// The source lives inside the object that the assignment lets go.
TEST_F(SharedRefTest, AssigningFromInsideTheHeldObject) {
  shared_ref<node> head = make_shared_ref<node>(1);
  head->next = make_shared_ref<node>(2);
  head->next->next = make_shared_ref<node>(3);
  head = head->next;  // copy from a member of the object being released
  EXPECT_EQ(node::destroyed, 1);
  EXPECT_EQ(head->value, 2);
  EXPECT_EQ(head.use_count(), 1u);
  head = std::move(head->next);  // move from a member
  EXPECT_EQ(node::destroyed, 2);
  EXPECT_EQ(head->value, 3);
  head.release();
  EXPECT_EQ(node::destroyed, 3);
}

TEST_F(SharedRefTest, HandleWithoutCounterReleasesNothing) {
  node local(5);
  {
    shared_ref<node> view(&local, nullptr);
    shared_ref<node> copy = view;
    EXPECT_EQ(copy.get(), &local);
    EXPECT_EQ(copy.use_count(), 0u);
  }
  EXPECT_EQ(node::destroyed, 0);
}

// Copies dropped on other threads while the owner watches the count: the
// object is destroyed exactly once, by whichever holder is last.
TEST_F(SharedRefTest, CopiesDroppedOnOtherThreads) {
  for (int round = 0; round < 100; ++round) {
    shared_ref<node> owner = make_shared_ref<node>(round);
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
      threads.emplace_back([copy = owner]() mutable {
        EXPECT_GE(copy->value, 0);
        copy.release();
      });
    while (!owner.is_unique()) std::this_thread::yield();
    owner->value = -1;  // sole holder: may write
    for (std::thread& t : threads) t.join();
  }
  EXPECT_EQ(node::destroyed, 100);
}

}  // namespace
}  // namespace Velk
