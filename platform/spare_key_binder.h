#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace lintrel::platform {

// Where a character bound to a spare key sits: the key, and the modifiers (kModifierShift,
// kModifierLevel3) that reach its level.
struct SpareSlot {
  uint8_t keycode = 0;
  uint8_t modifiers = 0;

  bool operator==(const SpareSlot&) const = default;
};

// Owns the spare keys of a keyboard (keys its layout leaves empty) and the characters bound
// to them: which character each level of each key holds, and which characters the line in
// progress uses. A line's characters that no key of the layout types are planned in parts:
// each part binds what it lacks, on levels that no character of the same part holds, before
// its keys are typed. A line with more distinct characters than there are levels takes
// several parts; so may a line whose levels were used a moment ago by another one.
//
// Between a binding and the next binding of the same level, the program that receives the
// keys must have read the key events typed with the first: it looks a key event's character
// up in the keymap as the server has it when it reads the event. So a level used since the
// receiver was last known to have read everything is bound again only after a fence (the
// keyboard waits until the receiver has read all it was sent, then calls ConfirmRead()); a
// part that needs one says so. Levels never used, then those used longest ago, are bound
// first; plain levels before Shift levels before AltGr levels.
//
// Thread contract: none; one thread (the typing one) uses it.
class SpareKeyBinder {
 public:
  // A key's characters, one per level (0 for an empty level).
  struct Binding {
    uint8_t keycode = 0;
    std::vector<char32_t> levels;

    bool operator==(const Binding&) const = default;
  };

  struct Part {
    // The part types the planned characters from the previous part's end up to `end`.
    std::size_t end = 0;
    // The receiver must have read every key event typed so far before the bindings.
    bool fence_first = false;
    // The keys to bind before the part's keys are typed, as they are to be.
    std::vector<Binding> bindings;
    // The slot of each character of the part, in order.
    std::vector<SpareSlot> slots;
  };

  // The keys the binder may use and the modifiers of their levels (the first: none).
  // Bindings on keys still offered stay, unless the levels differ from before; everything
  // else is forgotten.
  void Offer(const std::vector<uint8_t>& keycodes, const std::vector<uint8_t>& level_modifiers);
  // Forgets the characters of one key (someone else changed it).
  void Forget(uint8_t keycode);
  // Forgets every binding (they were given back), keeping the keys.
  void ForgetAll();

  std::size_t Capacity() const { return slots_.size(); }
  const std::vector<uint8_t>& Keycodes() const { return keycodes_; }
  const std::vector<uint8_t>& LevelModifiers() const { return level_modifiers_; }
  // The characters bound to a key, one per level; empty for a key not offered.
  std::vector<char32_t> CharactersOn(uint8_t keycode) const;
  // The keys that hold at least one character.
  std::vector<uint8_t> BoundKeycodes() const;
  std::optional<SpareSlot> SlotOf(char32_t character) const;

  // Plans the typing of `characters`, in the order they are typed (repeats allowed), and
  // takes the plan as done: the bindings it makes are the binder's from now on. Needs a
  // capacity of at least one.
  std::vector<Part> Plan(std::u32string_view characters);

  // The receiver has read every key event typed so far: every level may be bound again.
  void ConfirmRead() { read_up_to_ = part_count_; }

 private:
  struct Slot {
    SpareSlot place;
    char32_t character = 0;
    uint64_t last_part = 0;  // the number of the last part that used it; 0: none
  };

  // The slot a new character may take: an empty one, else the one used longest ago among
  // those the receiver has read; null when there is none.
  Slot* FreeSlot();
  Binding BindingOf(uint8_t keycode) const;

  std::vector<uint8_t> keycodes_;
  std::vector<uint8_t> level_modifiers_;
  // Level by level: every key's plain level, then every key's second level, ...
  std::vector<Slot> slots_;
  uint64_t part_count_ = 0;
  // Every part up to this number has been read by the receiver.
  uint64_t read_up_to_ = 0;
};

}  // namespace lintrel::platform
