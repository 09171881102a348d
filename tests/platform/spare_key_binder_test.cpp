// The plan by which characters no key types are bound to the levels of spare keys: parts,
// fences, reuse and eviction, with two keys of two levels (Shift the second).

#include "platform/spare_key_binder.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/layout_keymap.h"

namespace lintrel::platform {
namespace {

using Binding = SpareKeyBinder::Binding;
using Part = SpareKeyBinder::Part;

constexpr uint8_t kKeyA = 93;
constexpr uint8_t kKeyB = 97;

SpareKeyBinder TwoKeysTwoLevels() {
  SpareKeyBinder binder;
  binder.Offer({kKeyA, kKeyB}, {0, kModifierShift});
  return binder;
}

// Each character's slot, part after part, and a check that no part holds two characters
// on one slot.
std::u32string Checked(const std::vector<Part>& parts, std::u32string_view characters) {
  std::u32string problems;
  std::size_t begin = 0;
  for (const Part& part : parts) {
    EXPECT_EQ(part.slots.size(), part.end - begin);
    for (std::size_t i = begin; i < part.end; ++i) {
      for (std::size_t j = begin; j < i; ++j) {
        const bool same_slot = part.slots[i - begin] == part.slots[j - begin];
        if (same_slot != (characters[i] == characters[j])) problems += characters[i];
      }
    }
    begin = part.end;
  }
  EXPECT_EQ(begin, characters.size());
  return problems;
}

TEST(SpareKeyBinderTest, PlainLevelsFillFirstAndALineThatFitsIsOnePart) {
  SpareKeyBinder binder = TwoKeysTwoLevels();
  const std::u32string line = U"丁万丈丁万";
  const std::vector<Part> parts = binder.Plan(line);
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_FALSE(parts[0].fence_first);
  EXPECT_EQ(parts[0].bindings, (std::vector<Binding>{{kKeyA, {U'丁', U'丈'}}, {kKeyB, {U'万', 0}}}));
  EXPECT_EQ(parts[0].slots,
            (std::vector<SpareSlot>{{kKeyA, 0}, {kKeyB, 0}, {kKeyA, kModifierShift}, {kKeyA, 0}, {kKeyB, 0}}));
  EXPECT_EQ(Checked(parts, line), U"");
  EXPECT_EQ(binder.SlotOf(U'丈'), (SpareSlot{kKeyA, kModifierShift}));
  EXPECT_EQ(binder.BoundKeycodes(), (std::vector<uint8_t>{kKeyA, kKeyB}));
}

// More distinct characters than levels: parts of at most four, each after a fence, each
// binding only what it lacks; a character of an earlier part comes back on a level that no
// other character of its part holds.
TEST(SpareKeyBinderTest, ALineWithMoreCharactersThanLevelsGoesInFencedParts) {
  SpareKeyBinder binder = TwoKeysTwoLevels();
  const std::u32string line = U"一二三四五六一七八九十";
  const std::vector<Part> parts = binder.Plan(line);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].end, 4u);
  EXPECT_FALSE(parts[0].fence_first);
  EXPECT_EQ(parts[1].end, 8u);
  EXPECT_TRUE(parts[1].fence_first);
  EXPECT_EQ(parts[2].end, 11u);
  EXPECT_TRUE(parts[2].fence_first);
  EXPECT_EQ(Checked(parts, line), U"");
  // 五 and 六 evict the oldest (一, 二); 一 comes back on 三's level, 七 on 四's.
  EXPECT_EQ(parts[1].bindings, (std::vector<Binding>{{kKeyA, {U'五', U'一'}}, {kKeyB, {U'六', U'七'}}}));
}

TEST(SpareKeyBinderTest, CharactersBoundByEarlierLinesAreReusedWithoutBindingAgain) {
  SpareKeyBinder binder = TwoKeysTwoLevels();
  for (char32_t character : std::u32string_view(U"丁万丈")) {
    ASSERT_EQ(binder.Plan(std::u32string(1, character)).size(), 1u);
  }
  const std::vector<Part> parts = binder.Plan(U"丈万丁");
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_FALSE(parts[0].fence_first);
  EXPECT_TRUE(parts[0].bindings.empty());
  EXPECT_EQ(parts[0].slots, (std::vector<SpareSlot>{{kKeyA, kModifierShift}, {kKeyB, 0}, {kKeyA, 0}}));
}

// Once every level is bound, a new character takes the one used longest ago: at once when
// the receiver is known to have read it, after a fence otherwise.
TEST(SpareKeyBinderTest, EvictionTakesTheLevelUsedLongestAgoAndFencesUnlessItWasRead) {
  SpareKeyBinder binder = TwoKeysTwoLevels();
  binder.Plan(U"一二三四");
  binder.Plan(U"一");  // used again: 二 is now the oldest
  std::vector<Part> parts = binder.Plan(U"五");
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_TRUE(parts[0].fence_first);
  EXPECT_EQ(parts[0].slots, (std::vector<SpareSlot>{{kKeyB, 0}}));
  EXPECT_EQ(binder.SlotOf(U'二'), std::nullopt);

  binder.ConfirmRead();
  parts = binder.Plan(U"六");
  EXPECT_FALSE(parts[0].fence_first);
  EXPECT_EQ(parts[0].slots, (std::vector<SpareSlot>{{kKeyA, kModifierShift}}));  // 三's
}

TEST(SpareKeyBinderTest, OfferKeepsTheBindingsOfKeysStillOfferedWithTheSameLevels) {
  SpareKeyBinder binder = TwoKeysTwoLevels();
  binder.Plan(U"一二三");
  binder.Offer({kKeyB, 120}, {0, kModifierShift});
  EXPECT_EQ(binder.SlotOf(U'一'), std::nullopt);
  EXPECT_EQ(binder.SlotOf(U'二'), (SpareSlot{kKeyB, 0}));
  EXPECT_EQ(binder.Capacity(), 4u);

  binder.Forget(kKeyB);
  EXPECT_TRUE(binder.BoundKeycodes().empty());

  binder.Plan(U"四");
  binder.Offer({kKeyB, 120}, {0, kModifierShift, kModifierLevel3});
  EXPECT_TRUE(binder.BoundKeycodes().empty()) << "other levels: nothing is where it was";
  EXPECT_EQ(binder.Capacity(), 6u);
  EXPECT_EQ(binder.CharactersOn(120), (std::vector<char32_t>{0, 0, 0}));
}

TEST(SpareKeyBinderTest, NothingToPlanWithoutCharactersOrLevels) {
  SpareKeyBinder binder;
  EXPECT_TRUE(binder.Plan(U"一").empty());
  binder = TwoKeysTwoLevels();
  EXPECT_TRUE(binder.Plan(U"").empty());
}

}  // namespace
}  // namespace lintrel::platform
