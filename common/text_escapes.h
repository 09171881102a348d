#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/code_page.h"

namespace lintrel {

// The texts a user gives for shaping (prefix text, suffix, replacements) are characters:
// inside the program they are UTF-8, and they are matched against the characters a line's
// bytes decode to, never against its bytes.

// A text as the user typed it (UTF-8) with C-style escapes: \t, \r, \n, \\, \xHH (two hex
// digits: the character U+00HH, so \xE9 is é whatever the port's encoding) and \u{H...} (one
// to six hex digits: the character of that code point). Any other character stands for
// itself.
//
// Returns the characters (UTF-8), or nullopt with *error saying what is wrong ("\q is not an
// escape", or text that is not UTF-8): a wrong escape is never typed as it stands.
std::optional<std::string> ParseEscapes(std::string_view text, std::string* error);

// A text for showing where the user edits it: backslash and every control character (C0,
// DEL and C1) written as escapes, every other character as itself, so that
// ParseEscapes(FormatEscapes(text)) == text. A byte that is no UTF-8 shows as U+FFFD.
std::string FormatEscapes(std::string_view text);

// A text as the settings keep it: printable ASCII alone, every other character written as an
// escape (\u{HH...} beyond ASCII). Read through any code page, and by older versions, it is
// the same text.
std::string FormatStoredText(std::string_view text);

// A stored text read back, as this version wrote it (FormatStoredText) or as an older one
// did. Older versions kept a text's bytes: \xHH was the byte HH and \u{...} its UTF-8 bytes,
// other characters were stored as the bytes they had (bytes of the ANSI code page when they
// came from a Windows dialog or command line), and on Windows the registry's ANSI calls
// turned those bytes into characters through the code page. So a stored text reads as:
//  1. With `older_code_page` (a store written through it: the registry on Windows), each
//     character of that code page beyond ASCII is turned back into its byte (a character
//     U+0080..U+00FF of a byte the code page leaves out, into that byte, as Windows maps
//     them); other characters stay as they are (UTF-8).
//  2. The escapes give bytes: \xHH the byte HH, \u{...} the character's UTF-8 bytes.
//  3. Bytes that are UTF-8 are their characters (as older versions typed them); any other
//     byte is the character the user wrote: from \xHH U+00HH, else the code page's character
//     for it (U+00HH without a code page).
// A text this version stored (ASCII, and \xHH only below 0x80) reads the same by these steps
// as by ParseEscapes. Null `older_code_page`: a store that keeps UTF-8 (the settings file).
// Nullopt with *error for a wrong escape.
std::optional<std::string> ParseStoredText(std::string_view stored, const CodePage* older_code_page,
                                           std::string* error);

}  // namespace lintrel
