// Intrusive counts and RefPtr: exactly one deletion under concurrent use, and
// the order in which RefPtr takes and drops references.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "common/ref_count.h"
#include "common/ref_ptr.h"

namespace {

std::atomic<int> g_deleted{0};

class Shared : public COMM::RefCount {
 protected:
  ~Shared() override { ++g_deleted; }
};

class Local : public COMM::SimpleRefCount {
 protected:
  ~Local() override { ++g_deleted; }
};

class RefCountTest : public ::testing::Test {
 protected:
  void SetUp() override { g_deleted = 0; }
};

TEST_F(RefCountTest, ConcurrentAddRefAndReleaseDeleteExactlyOnce) {
  for (int round = 0; round < 20; ++round) {
    g_deleted = 0;
    auto* object = new Shared;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([object] {
        for (int i = 0; i < 20000; ++i) {
          object->AddRef();
          object->Release();
        }
      });
    }
    for (auto& t : threads)
      t.join();
    EXPECT_EQ(object->ref_count(), 1);
    EXPECT_EQ(g_deleted, 0);
    object->Release();
    EXPECT_EQ(g_deleted, 1);
  }
}

TEST_F(RefCountTest, LastReleasesRacingDeleteExactlyOnce) {
  constexpr int kHolders = 8;
  for (int round = 0; round < 200; ++round) {
    g_deleted = 0;
    auto* object = new Shared;
    for (int i = 1; i < kHolders; ++i)
      object->AddRef();
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kHolders; ++t) {
      threads.emplace_back([&go, object] {
        while (!go)
          std::this_thread::yield();
        object->Release();
      });
    }
    go = true;
    for (auto& t : threads)
      t.join();
    ASSERT_EQ(g_deleted, 1) << "round " << round;
  }
}

TEST_F(RefCountTest, SimpleCountStartsAtOneAndDeletesOnLastRelease) {
  auto* object = new Local;
  EXPECT_EQ(object->ref_count(), 1);
  object->AddRef();
  EXPECT_EQ(object->ref_count(), 2);
  object->Release();
  EXPECT_EQ(g_deleted, 0);
  object->Release();
  EXPECT_EQ(g_deleted, 1);
}

// A counted object that checks every AddRef and Release lands on a live
// object, so that a wrong order shows without a sanitizer.
std::set<const void*> g_live;
int g_misuse = 0;

class Node {
 public:
  Node() { g_live.insert(this); }
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  void AddRef() {
    if (g_live.count(this) == 0) {
      ++g_misuse;
      return;
    }
    ++count_;
  }
  void Release() {
    if (g_live.count(this) == 0) {
      ++g_misuse;
      return;
    }
    if (--count_ == 0) {
      g_live.erase(this);
      delete this;
    }
  }
  int count() const { return count_; }

  COMM::RefPtr<Node> child;

 private:
  ~Node() = default;
  int count_ = 1;
};

class RefPtrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_live.clear();
    g_misuse = 0;
  }
  void TearDown() override {
    EXPECT_EQ(g_misuse, 0);
    EXPECT_TRUE(g_live.empty()) << g_live.size() << " objects leaked";
  }
};

TEST_F(RefPtrTest, TakesOrAdoptsAReferenceAndReleasesOnDestruction) {
  Node* node = new Node;
  {
    COMM::RefPtr<Node> taken(node);
    EXPECT_EQ(node->count(), 2);
    {
      COMM::RefPtr<Node> copy = taken;
      EXPECT_EQ(node->count(), 3);
      COMM::RefPtr<Node> moved = std::move(copy);
      EXPECT_EQ(node->count(), 3);
      EXPECT_FALSE(copy);
    }
    EXPECT_EQ(node->count(), 2);
  }
  EXPECT_EQ(node->count(), 1);
  { COMM::RefPtr<Node> adopted(node, COMM::adopt_ref); }
  EXPECT_EQ(g_live.count(node), 0u);
}

TEST_F(RefPtrTest, AssigningAnObjectOnlyTheOldOneKeptAlive) {
  // The old object is the only holder of the new one.
  COMM::RefPtr<Node> p(new Node, COMM::adopt_ref);
  p->child = COMM::RefPtr<Node>(new Node, COMM::adopt_ref);
  Node* child = p->child.get();
  p = child;  // raw pointer
  EXPECT_EQ(p.get(), child);
  EXPECT_EQ(child->count(), 1);

  p->child = COMM::RefPtr<Node>(new Node, COMM::adopt_ref);
  Node* grandchild = p->child.get();
  p = p->child;  // copy from a member of the object being released
  EXPECT_EQ(p.get(), grandchild);
  EXPECT_EQ(grandchild->count(), 1);

  p->child = COMM::RefPtr<Node>(new Node, COMM::adopt_ref);
  Node* last = p->child.get();
  p = std::move(p->child);  // move from a member of the object being released
  EXPECT_EQ(p.get(), last);
  EXPECT_EQ(last->count(), 1);
}

TEST_F(RefPtrTest, SelfAssignmentKeepsTheObject) {
  COMM::RefPtr<Node> p(new Node, COMM::adopt_ref);
  Node* node = p.get();
  COMM::RefPtr<Node>& same = p;
  p = same;
  EXPECT_EQ(p.get(), node);
  EXPECT_EQ(node->count(), 1);
  p = std::move(same);
  EXPECT_EQ(p.get(), node);
  EXPECT_EQ(node->count(), 1);
  p = node;
  EXPECT_EQ(node->count(), 1);
  p.Reset(p.get());
  EXPECT_EQ(node->count(), 1);
}

TEST_F(RefPtrTest, ResetAndDetach) {
  COMM::RefPtr<Node> p(new Node, COMM::adopt_ref);
  Node* node = p.Detach();
  EXPECT_FALSE(p);
  EXPECT_EQ(node->count(), 1);
  p.Reset(node);
  EXPECT_EQ(node->count(), 2);
  node->Release();
  p.Reset();
  EXPECT_FALSE(p);
  COMM::RefPtr<Node> empty;
  empty = nullptr;
  COMM::RefPtr<Node> also_empty = empty;
  EXPECT_FALSE(also_empty);
}

}  // namespace
