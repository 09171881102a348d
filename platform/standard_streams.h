#pragma once

namespace lintrel::platform {

// Makes sure standard input, output and error are open, on the null device where they
// were closed when the program started; false if that failed. Call it first thing in
// main(): otherwise the first file the program opens would get one of their numbers, and
// what is written to standard output would go into it.
bool EnsureStandardStreams();

}  // namespace lintrel::platform
