#include "platform/key_injection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lintrel::platform {
namespace {

// A system whose answers the test sets; it records what was injected.
class FakeInjectionSystem : public KeyInjectionSystem {
 public:
  TargetRights rights = TargetRights::kNotHigher;
  std::size_t takes = 1000;  // at most this many events of a call
  std::string error_text;
  std::vector<std::size_t> injected;  // the size of each call

  TargetRights ForegroundWindowRights() override { return rights; }
  std::size_t Inject(std::span<const KeyEvent> events) override {
    injected.push_back(events.size());
    return std::min(takes, events.size());
  }
  std::string LastErrorText() override { return error_text; }
};

TEST(KeyInjectionTest, ALineIsOneInjectionAndItsResultIsChecked) {
  const std::vector<KeyEvent> line = {{0x10, true}, {0x41, true}, {0x41, false}, {0x10, false}};
  struct Case {
    const char* name;
    TargetRights rights;
    std::size_t takes;
    std::string error_text;
    std::vector<std::size_t> injected;
    std::size_t accepted;
    std::string error;
  };
  const std::string higher =
      "the window in front belongs to a program running with higher rights (as administrator), which Windows "
      "keeps key presses from";
  const Case cases[] = {
      {"all taken", TargetRights::kNotHigher, 1000, "", {4}, 4, ""},
      {"rights unknown: sent all the same", TargetRights::kUnknown, 1000, "", {4}, 4, ""},
      {"window of higher rights: nothing sent", TargetRights::kHigher, 1000, "", {}, 0, higher},
      {"fewer taken", TargetRights::kNotHigher, 2, "", {4}, 2, "Windows took 2 of 4 key events"},
      {"none taken, with the reason", TargetRights::kNotHigher, 0, "Access is denied (error 5)", {4}, 0,
       "Windows took 0 of 4 key events: Access is denied (error 5)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeInjectionSystem system;
    system.rights = c.rights;
    system.takes = c.takes;
    system.error_text = c.error_text;
    const KeyOutputResult result = InjectKeys(system, line);
    EXPECT_EQ(system.injected, c.injected);
    EXPECT_EQ(result.accepted, c.accepted);
    EXPECT_EQ(result.error, c.error);
    EXPECT_FALSE(result.output_lost);
  }
}

TEST(KeyInjectionTest, AnEmptyLineInjectsNothing) {
  FakeInjectionSystem system;
  EXPECT_EQ(InjectKeys(system, {}).error, "");
  EXPECT_TRUE(system.injected.empty());
}

// The decision behind a window of higher rights, on integrity levels as Windows reports
// them (no such window can be made under Wine).
TEST(KeyInjectionTest, OnlyAHigherIntegrityLevelInFrontIsHigherRights) {
  constexpr uint32_t kMedium = 0x2000;
  constexpr uint32_t kHigh = 0x3000;
  constexpr uint32_t kSystem = 0x4000;
  EXPECT_EQ(CompareIntegrity(kMedium, kHigh), TargetRights::kHigher);
  EXPECT_EQ(CompareIntegrity(kMedium, kSystem), TargetRights::kHigher);
  EXPECT_EQ(CompareIntegrity(kMedium, kMedium), TargetRights::kNotHigher);
  EXPECT_EQ(CompareIntegrity(kHigh, kMedium), TargetRights::kNotHigher);
  EXPECT_EQ(CompareIntegrity(std::nullopt, kHigh), TargetRights::kUnknown);
  EXPECT_EQ(CompareIntegrity(kMedium, std::nullopt), TargetRights::kUnknown);
}

}  // namespace
}  // namespace lintrel::platform
