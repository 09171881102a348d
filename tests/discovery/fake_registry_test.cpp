#include "fakes/fake_registry.h"

#include <gtest/gtest.h>

#include <string>

namespace lintrel::testing {
namespace {

// The discovery tests lean on the fake failing reads exactly where the real 100-byte
// buffers make them fail.
TEST(FakeRegistryTest, ReadsFailWhereTheBuffersAreTooSmall) {
  FakeRegistry registry;
  const std::string path = "Some\\Key";
  registry.AddBinary(path, std::string(99, 'n'), "x");
  registry.AddBinary(path, std::string(100, 'n'), "x");
  registry.AddBinary(path, "full", std::string(100, 'd'));
  registry.AddBinary(path, "over", std::string(101, 'd'));

  const auto key = registry.OpenKey("SOME\\key");
  ASSERT_NE(key, FakeRegistry::kNoKey);
  EXPECT_EQ(registry.CountValues(key), 4u);
  EXPECT_TRUE(registry.ReadValue(key, 0).has_value());
  EXPECT_FALSE(registry.ReadValue(key, 1).has_value());
  EXPECT_TRUE(registry.ReadValue(key, 2).has_value());
  EXPECT_FALSE(registry.ReadValue(key, 3).has_value());
  EXPECT_FALSE(registry.ReadValue(key, 4).has_value());
  EXPECT_EQ(registry.open_key_count(), 1u);
  registry.CloseKey(key);
  registry.CloseKey(key);
  EXPECT_EQ(registry.open_key_count(), 0u);
  EXPECT_EQ(registry.bad_closes(), 1);
}

TEST(FakeRegistryTest, MissingKeysAndFailedCounts) {
  FakeRegistry registry;
  registry.FailCount("Broken");
  EXPECT_EQ(registry.OpenKey("Missing"), FakeRegistry::kNoKey);
  EXPECT_FALSE(registry.CountValues(FakeRegistry::kNoKey).has_value());
  const auto broken = registry.OpenKey("broken");
  ASSERT_NE(broken, FakeRegistry::kNoKey);
  EXPECT_FALSE(registry.CountValues(broken).has_value());
  registry.CloseKey(broken);
  registry.CloseKey(FakeRegistry::kNoKey);
  EXPECT_EQ(registry.open_key_count(), 0u);
  EXPECT_EQ(registry.bad_closes(), 0);
  EXPECT_EQ(registry.OpenCount("MISSING"), 1);
}

}  // namespace
}  // namespace lintrel::testing
