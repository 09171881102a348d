#pragma once

#include <string>
#include <vector>

namespace lintrel::bench {

// What the stages between line assembly and typing cost a line, measured in this process
// (no pseudo-terminal, no X server): shaping alone, and shaping with the record stage's
// common uses.
struct StageCost {
  std::string name;
  double microseconds_per_line = 0;
};

// Runs each stage over `lines` lines (alternating between those that are typed and those
// that are not, as a scale or scanner would send them) and returns what each took a line.
std::vector<StageCost> MeasureStageCosts(int lines);

}  // namespace lintrel::bench
