#include "platform/unique_handle.h"

#include <gtest/gtest.h>

#include <vector>

namespace carryall {
namespace {

// Handles are small integers; -1 is the invalid value (as INVALID_HANDLE_VALUE is for
// files), so that 0 is a real handle that must be closed too.
std::vector<int> closed;
struct Traits {
  using pointer = int;
  static pointer Invalid() { return -1; }
  static void Close(pointer value) { closed.push_back(value); }
};
using Handle = UniqueHandle<Traits>;

class UniqueHandleTest : public ::testing::Test {
 protected:
  void SetUp() override { closed.clear(); }
};

TEST_F(UniqueHandleTest, EveryValidValueIsClosedExactlyOnceOnEveryPath) {
  {
    Handle zero(0);  // a valid value, unlike the invalid one
    Handle none;
    Handle replaced(1);
    replaced.reset(2);  // closes 1
    Handle moved_from(3);
    Handle moved_to(std::move(moved_from));
    Handle assigned(4);
    assigned = std::move(moved_to);  // closes 4, takes 3
    Handle written(5);
    *written.put() = 6;  // closes 5 before the API writes
    Handle handed_out(7);
    EXPECT_EQ(handed_out.release(), 7);  // the new owner closes it
    EXPECT_FALSE(none.valid());
    EXPECT_FALSE(moved_from.valid());
    EXPECT_TRUE(zero.valid());
  }
  EXPECT_EQ(closed, (std::vector<int>{1, 4, 5, 6, 3, 2, 0}));
}

TEST_F(UniqueHandleTest, SelfMoveKeepsTheValue) {
  {
    Handle h(8);
    Handle& alias = h;
    h = std::move(alias);
    EXPECT_EQ(h.get(), 8);
    EXPECT_TRUE(closed.empty());
  }
  EXPECT_EQ(closed, (std::vector<int>{8}));
}

}  // namespace
}  // namespace carryall
