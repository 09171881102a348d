#include "capture/port_table.h"

#include <algorithm>

#include "capture/reader_thread.h"

namespace lintrel {

PortSlot::PortSlot() = default;
PortSlot::~PortSlot() = default;

int PortTable::OpenPortCount() const {
  return static_cast<int>(
      std::count_if(slots.begin(), slots.end(), [](const PortSlot& slot) { return slot.reader != nullptr; }));
}

bool PortTable::TogglePause(int port_number) {
  PortSlot& slot = (*this)[port_number];
  if (slot.connected.load()) slot.paused.store(!slot.paused.load());
  return slot.paused.load();
}

}  // namespace lintrel
