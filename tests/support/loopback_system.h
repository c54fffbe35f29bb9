#pragma once
// The system calls behind loopback.h, one file per platform
// (loopback_unix.cpp, loopback_win.cpp). Sockets are blocking; a handle of
// -1 is none.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tl8test::loopsys {

// Bound to a free port on 127.0.0.1, not listening; -1 on failure.
std::intptr_t Bound();
// Listening on 127.0.0.1 at a free port; -1 on failure.
std::intptr_t Listen(int backlog);
// The connection waiting at a listener that WaitReadable reported; -1 on failure.
std::intptr_t Accept(std::intptr_t listener);
// To 127.0.0.1:port; without `wait`, started but not awaited. -1 on failure.
std::intptr_t Connect(int port, bool wait);
int LocalPort(std::intptr_t socket);
// Limits what the socket's receive side holds to about `bytes`.
void LimitReceiveBuffer(std::intptr_t socket, int bytes);
// Sends everything; false on failure.
bool SendAll(std::intptr_t socket, const char* bytes, size_t count);
// What one receive gets: bytes (> 0), 0 when the peer has closed, < 0 on failure.
long ReceiveSome(std::intptr_t socket, char* buffer, size_t size);
// The index of the first socket that can be read, or -1 after `timeoutMs`.
int PollReadable(const std::vector<std::intptr_t>& sockets, int timeoutMs);
void Close(std::intptr_t socket);

}  // namespace tl8test::loopsys
