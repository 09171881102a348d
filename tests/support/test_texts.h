#pragma once

#include <string_view>

namespace lintrel::testing {

// Every printable ASCII character, space to tilde, in order.
inline constexpr std::string_view kPrintableAscii =
    " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";

}  // namespace lintrel::testing
