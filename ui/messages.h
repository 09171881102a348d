#pragma once

#include <string>
#include <string_view>

#include "common/port_number.h"

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

// The Options dialog's group of line shaping while no port is picked.
inline constexpr std::string_view kSharedLinesGroup = "Lines of every port";

// The title of the notice about lines that were kept out of Lintrel's own windows.
inline constexpr std::string_view kLineNotTypedTitle = "Line not typed";

// The title of the notice that a request to a port's device went wrong ("COM5: no reply to
// the poll"), told once per cause.
inline constexpr std::string_view kRequestProblemTitle = "Device not answering";

// The title of the notice that a port followed its device to another name, and the text.
inline constexpr std::string_view kPortMovedTitle = "Device found again";
inline std::string PortMovedText(int port_number, int device_port) {
  return PortName(port_number) + " is now " + PortName(device_port);
}

// The title of the notice that the connected ports could not be remembered.
inline constexpr std::string_view kNotRememberedTitle = "Connections not remembered";

// The title of the notice about a damaged value of a port's stored settings, and of the
// notice that a port's settings could not be stored.
inline constexpr std::string_view kProfileWarningTitle = "Port settings damaged";
inline constexpr std::string_view kProfileNotSavedTitle = "Port settings not saved";

// The titles of the notices about lines that wait for their port's target application, that
// no longer wait, and that are typed as Unicode characters for a remote session.
inline constexpr std::string_view kLinesWaitingTitle = "Lines waiting";
inline constexpr std::string_view kLinesReleasedTitle = "Lines no longer waiting";
inline constexpr std::string_view kTypedAsUnicodeTitle = "Typed as Unicode";

// The title of a notice about something that went wrong beside a line that was typed (the
// clipboard not put back after a paste).
inline constexpr std::string_view kTypingWarningTitle = "Typing warning";
// The title and text of the notice that a port's hotkey could not be taken: another program
// has it, or the system refuses the combination. Told once a run for each port and hotkey.
inline constexpr std::string_view kHotkeyRefusedTitle = "Hotkey not available";
inline std::string HotkeyRefusedText(int port_number, std::string_view hotkey, std::string_view reason) {
  return "The hotkey " + std::string(hotkey) + " of " + PortName(port_number) + " does not work: " +
         std::string(reason) + ". Choose another one under Options, Requests.";
}

// The Monitor button with no port picked in the Port list.
inline constexpr std::string_view kMonitorNoPortMessage = "Pick the port to monitor in the Port list first.";

}  // namespace lintrel::ui
