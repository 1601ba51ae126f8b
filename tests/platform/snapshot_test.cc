#include "platform/snapshot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace vek::platform {
namespace {

// A thread's remembered value never outlives a publication, and two
// snapshots of the same type never hand out each other's value (also when
// one is destroyed and another takes its place).
TEST(SnapshotTest, ReadersOftenSeeEveryPublicationOfTheirOwnSnapshot) {
  Snapshot<std::string> a(std::make_shared<const std::string>("a1"));
  Snapshot<std::string> b(std::make_shared<const std::string>("b1"));
  EXPECT_EQ(*a.getOften(), "a1");
  EXPECT_EQ(*b.getOften(), "b1");
  EXPECT_EQ(*a.getOften(), "a1");
  a.publish(std::string("a2"));
  EXPECT_EQ(*a.getOften(), "a2");
  EXPECT_EQ(*b.getOften(), "b1");
  {
    auto c = std::make_unique<Snapshot<std::string>>(std::make_shared<const std::string>("c1"));
    EXPECT_EQ(*c->getOften(), "c1");
    c.reset();
    Snapshot<std::string> d(std::make_shared<const std::string>("d1"));
    EXPECT_EQ(*d.getOften(), "d1");
  }
  // Other threads reading while one publishes end on the last value.
  std::atomic<bool> stop{false};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t)
    readers.emplace_back([&] {
      while (!stop.load()) EXPECT_FALSE(a.getOften()->empty());
      EXPECT_EQ(*a.getOften(), "a100");
    });
  for (int i = 3; i <= 100; ++i) a.publish("a" + std::to_string(i));
  stop = true;
  for (auto& r : readers) r.join();
}

}  // namespace
}  // namespace vek::platform
