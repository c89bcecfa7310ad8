// Loopback ports for tests.
#pragma once

namespace tests::support {

// A port on 127.0.0.1 that was free a moment ago (bound to port 0, then
// released): nothing listens there, so a connection is refused. A server
// started on it may find it taken in between and must retry.
int FreeLoopbackPort();

// Waits until something accepts connections on 127.0.0.1:port; false when
// nothing did within timeoutMs.
bool WaitForPort(int port, int timeoutMs);

} // namespace tests::support
