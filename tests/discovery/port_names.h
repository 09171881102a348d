#pragma once

#include <string>
#include <vector>

#include "discovery/port_list.h"

namespace lintrel::testing {

// The names of a Port list's entries, in its order.
inline std::vector<std::string> Names(const PortList& list) {
  std::vector<std::string> names;
  for (const PortEntry& entry : list.entries()) names.push_back(entry.name);
  return names;
}

}  // namespace lintrel::testing
