#pragma once

#include <chrono>
#include <cstdio>
#include <string_view>

namespace lintrel::platform {

// Makes sure standard input, output and error are open, on the null device where they
// were closed when the program started; false if that failed. Call it first thing in
// main(): otherwise the first file the program opens would get one of their numbers, and
// what is written to standard output would go into it.
bool EnsureStandardStreams();

// Writes `text` to an unbuffered stream (standard error) unless the stream takes nothing
// for `limit`: a terminal paused with Ctrl-S or a pipe nobody reads must not hold up the
// program. False when the text was not written whole. On POSIX a stream that is ready
// takes a short text (up to 256 bytes on a terminal, 4 KiB on a pipe) without blocking; a
// Windows console is written as usual.
bool WriteWithin(std::FILE* stream, std::string_view text, std::chrono::milliseconds limit);

}  // namespace lintrel::platform
