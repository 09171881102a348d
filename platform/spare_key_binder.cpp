#include "platform/spare_key_binder.h"

#include <algorithm>
#include <set>

namespace lintrel::platform {

void SpareKeyBinder::Offer(const std::vector<uint8_t>& keycodes, const std::vector<uint8_t>& level_modifiers) {
  const bool same_levels = level_modifiers == level_modifiers_;
  std::vector<Slot> slots;
  slots.reserve(keycodes.size() * level_modifiers.size());
  for (uint8_t modifiers : level_modifiers) {
    for (uint8_t keycode : keycodes) {
      Slot slot{.place = {keycode, modifiers}};
      const auto kept =
          std::find_if(slots_.begin(), slots_.end(), [&](const Slot& old) { return old.place == slot.place; });
      if (same_levels && kept != slots_.end()) slot = *kept;
      slots.push_back(slot);
    }
  }
  keycodes_ = keycodes;
  level_modifiers_ = level_modifiers;
  slots_ = std::move(slots);
}

void SpareKeyBinder::Forget(uint8_t keycode) {
  for (Slot& slot : slots_) {
    if (slot.place.keycode == keycode) slot.character = 0;
  }
}

void SpareKeyBinder::ForgetAll() {
  for (Slot& slot : slots_) slot.character = 0;
}

std::vector<char32_t> SpareKeyBinder::CharactersOn(uint8_t keycode) const {
  std::vector<char32_t> levels;
  for (const Slot& slot : slots_) {
    if (slot.place.keycode == keycode) levels.push_back(slot.character);
  }
  return levels;
}

std::vector<uint8_t> SpareKeyBinder::BoundKeycodes() const {
  std::set<uint8_t> bound;
  for (const Slot& slot : slots_) {
    if (slot.character != 0) bound.insert(slot.place.keycode);
  }
  return {bound.begin(), bound.end()};
}

std::optional<SpareSlot> SpareKeyBinder::SlotOf(char32_t character) const {
  for (const Slot& slot : slots_) {
    if (slot.character == character) return slot.place;
  }
  return std::nullopt;
}

SpareKeyBinder::Slot* SpareKeyBinder::FreeSlot() {
  for (Slot& slot : slots_) {
    if (slot.character == 0) return &slot;
  }
  Slot* oldest = nullptr;
  for (Slot& slot : slots_) {
    if (slot.last_part <= read_up_to_ && (oldest == nullptr || slot.last_part < oldest->last_part)) oldest = &slot;
  }
  return oldest;
}

SpareKeyBinder::Binding SpareKeyBinder::BindingOf(uint8_t keycode) const { return {keycode, CharactersOn(keycode)}; }

std::vector<SpareKeyBinder::Part> SpareKeyBinder::Plan(std::u32string_view characters) {
  std::vector<Part> parts;
  if (characters.empty() || slots_.empty()) return parts;
  Part part;
  uint64_t number = ++part_count_;
  std::set<uint8_t> changed;
  const auto finish = [&](std::size_t end) {
    part.end = end;
    for (uint8_t keycode : changed) part.bindings.push_back(BindingOf(keycode));
    parts.push_back(std::move(part));
    part = Part{};
    changed.clear();
  };
  for (std::size_t i = 0; i < characters.size(); ++i) {
    const char32_t character = characters[i];
    auto slot = std::find_if(slots_.begin(), slots_.end(), [&](const Slot& s) { return s.character == character; });
    Slot* taken = slot != slots_.end() ? &*slot : nullptr;
    if (taken == nullptr) {
      taken = FreeSlot();
      if (taken == nullptr && !part.fence_first) {
        // Levels used before this part become free once the receiver has read them.
        const uint64_t read_before = read_up_to_;
        read_up_to_ = number - 1;
        taken = FreeSlot();
        part.fence_first = taken != nullptr;
        if (taken == nullptr) read_up_to_ = read_before;
      }
      if (taken == nullptr) {
        // Every level holds a character of this part: the rest goes in another part.
        finish(i);
        number = ++part_count_;
        part.fence_first = true;
        read_up_to_ = number - 1;
        taken = FreeSlot();
      }
      taken->character = character;
      changed.insert(taken->place.keycode);
    }
    taken->last_part = number;
    part.slots.push_back(taken->place);
  }
  finish(characters.size());
  return parts;
}

}  // namespace lintrel::platform
