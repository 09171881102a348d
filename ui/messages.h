#pragma once

#include <string_view>

namespace lintrel::ui {

// The texts the front ends show the user.

// A port that the user asked to connect could not be opened.
inline constexpr std::string_view kPortOpenFailMessage = "Port open fail!!\r\nPlease check the status!!";

// An error that stopped what the user asked for; the reason follows.
inline constexpr std::string_view kActionFailedMessage = "This could not be done: ";

}  // namespace lintrel::ui
