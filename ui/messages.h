#pragma once

#include <string_view>

namespace lintrel::ui {

// The texts the front ends show the user.

// The program's name as its windows and message boxes are captioned.
inline constexpr std::string_view kProgramTitle = "Lintrel";

// A port that the user asked to connect could not be opened.
inline constexpr std::string_view kPortOpenFailMessage = "Port open fail!!\r\nPlease check the status!!";

// An error that stopped what the user asked for; the reason follows.
inline constexpr std::string_view kActionFailedMessage = "This could not be done: ";

// The status line while no port is connected or waiting.
inline constexpr std::string_view kNoPortConnectedStatus = "No port connected.";

// The title of the notice about lines that were kept out of Lintrel's own windows.
inline constexpr std::string_view kLineNotTypedTitle = "Line not typed";

}  // namespace lintrel::ui
