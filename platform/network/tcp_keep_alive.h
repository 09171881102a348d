#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace lintrel::platform {

// TCP keep-alive as network ports set it: after 10 s without traffic the system sends a
// probe, and a peer that answers none of them is given up 25 s after the last traffic (10 s,
// then 3 probes 5 s apart on Linux; 10 probes 1.5 s apart on Windows, which fixes their
// number). On Linux a request the server never acknowledges is given up after the same 25 s.
// A device server that was switched off or unplugged from the network is thus a lost link
// within about 25 s even while its device sends nothing.
inline constexpr std::chrono::seconds kKeepAliveDetection{25};

// Turns keep-alive on for the connected socket; false and *error when the system refused.
bool SetTcpKeepAlive(std::uintptr_t socket, std::string* error);

}  // namespace lintrel::platform
