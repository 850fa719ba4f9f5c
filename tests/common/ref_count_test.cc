// Intrusive counts and the order of RefPtr's references (atomicity is std::atomic's).
#include <gtest/gtest.h>
#include <set>

#include "common/ref_count.h"
#include "common/ref_ptr.h"

namespace {

int g_deleted = 0;
template <class Count>
class Counted : public Count {
 protected:
  ~Counted() override { ++g_deleted; }
};

TEST(RefCountTest, BothCountsStartAtOneAndDeleteOnTheLastRelease) {
  auto check = [](auto* object) {
    g_deleted = 0;
    object->AddRef();
    EXPECT_EQ(object->ref_count(), 2);
    object->Release();
    object->Release();
    EXPECT_EQ(g_deleted, 1);
  };
  check(new Counted<COMM::RefCount>);
  check(new Counted<COMM::SimpleRefCount>);
}

// A counted object that checks every AddRef and Release lands on a live
// object, so that a wrong order shows without a sanitizer.
std::set<const void*> g_live;
int g_misuse = 0;

class Node {
 public:
  Node() { g_live.insert(this); }
  void AddRef() { count_ += Live() ? 1 : 0; }
  void Release() {
    if (Live() && --count_ == 0) {
      g_live.erase(this);
      delete this;
    }
  }
  int count() const { return count_; }
  COMM::RefPtr<Node> child;

 private:
  ~Node() = default;
  bool Live() const {
    g_misuse += g_live.count(this) == 0 ? 1 : 0;
    return g_live.count(this) != 0;
  }
  int count_ = 1;
};

class RefPtrTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(g_misuse, 0);
    EXPECT_TRUE(g_live.empty()) << g_live.size() << " objects leaked";
  }
};

TEST_F(RefPtrTest, TakesAdoptsDetachesAndReleasesOnDestruction) {
  Node* node = new Node;
  {
    COMM::RefPtr<Node> taken(node);
    COMM::RefPtr<Node> copy = taken;
    EXPECT_EQ(node->count(), 3);
    COMM::RefPtr<Node> moved = std::move(copy);  // a move takes no reference
    EXPECT_FALSE(copy);
  }
  COMM::RefPtr<Node> p(node, COMM::adopt_ref);
  EXPECT_TRUE(p.Detach() == node && !p);
  p.Reset(node);  // takes a reference
  node->Release();
  p.Reset();
  EXPECT_EQ(g_live.count(node), 0u);
}

TEST_F(RefPtrTest, AssigningKeepsTheNewObjectEvenWhenOnlyTheOldOneHeldIt) {
  COMM::RefPtr<Node> p(new Node, COMM::adopt_ref);
  p->child = COMM::RefPtr<Node>(new Node, COMM::adopt_ref);
  Node* child = p->child.get();
  p = child;  // raw pointer
  EXPECT_EQ(child->count(), 1);
  p->child = COMM::RefPtr<Node>(new Node, COMM::adopt_ref);
  Node* grandchild = p->child.get();
  p = p->child;  // copy from a member of the object being released
  EXPECT_EQ(grandchild->count(), 1);
  p->child = COMM::RefPtr<Node>(new Node, COMM::adopt_ref);
  Node* last = p->child.get();
  p = std::move(p->child);  // move from a member of the object being released
  EXPECT_EQ(last->count(), 1);
  // Assigning the object itself, in every form, keeps it.
  COMM::RefPtr<Node>& same = p;
  p = same;
  p = std::move(same);
  p = last;
  p.Reset(p.get());
  EXPECT_EQ(last->count(), 1);
}

}  // namespace
