#pragma once

#include <memory>

#include "platform/serial_port.h"

namespace lintrel::platform {

// Opens the network ports "rfc2217://HOST:PORT" and "tcp://HOST:PORT" (common/
// network_address.h): a serial device behind a device server, reached over TCP.
//
// Open() returns at once with a port that connects in its reader's waits (ConnectsLater()):
// a name is resolved on a thread of its own, which the driver joins when it ends (the system's
// resolver cannot be cancelled, and a port closed meanwhile must not wait for it); connecting
// is asynchronous and given up after 10 s. The socket has TCP keep-alive on (see
// tcp_keep_alive.h). Everything the socket does runs in the reader's WaitForEvent(); Write()
// and Wake() only hand work to it, so a network port obeys SerialPort's thread contract
// without a lock around the socket.
std::unique_ptr<SerialDriver> MakeNetworkSerialDriver();

}  // namespace lintrel::platform
