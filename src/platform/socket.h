// The socket layer: the only door to the operating system's sockets. No OS header is
// included here; socket_posix.cpp and socket_win32.cpp provide it.
//
// Thread notes: a Socket belongs to one thread at a time. LastSocketError() is per thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace platform {

// An IPv4 address and port, both in host byte order.
struct Ipv4Endpoint {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  bool operator==(const Ipv4Endpoint&) const = default;
};

// Dotted-decimal text to an address, with inet_addr's rules: a text that is no address
// gives 0xFFFFFFFF (255.255.255.255), which callers use unchanged.
std::uint32_t InetAddr(const char* text);
// "a.b.c.d" for an address in host byte order.
std::string FormatIpv4(std::uint32_t address);

// Owns one socket handle. Move-only; closes on destruction. After Close() or release()
// the object holds the invalid marker, so a handle is never closed twice and a reused
// descriptor number is never touched by a stale owner.
class Socket {
 public:
  using Native = std::intptr_t;
  static constexpr Native kInvalid = -1;

  Socket() = default;
  explicit Socket(Native handle) : handle_(handle) {}
  ~Socket() { Close(); }
  Socket(Socket&& other) noexcept : handle_(other.release()) {}
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool valid() const { return handle_ != kInvalid; }
  Native native() const { return handle_; }
  // Gives up ownership without closing.
  Native release() {
    Native h = handle_;
    handle_ = kInvalid;
    return h;
  }
  // Closes the handle if one is held (plain close, no shutdown). Safe to call repeatedly.
  void Close();

 private:
  Native handle_ = kInvalid;
};

// Creation. An invalid Socket means failure; LastSocketError() says why.
Socket OpenTcpSocket();
Socket OpenUdpSocket();

// Each returns true on success; on failure LastSocketError() holds the platform's code.
bool Connect(Socket& s, const Ipv4Endpoint& peer);  // blocking, platform's own time-out
bool Bind(Socket& s, const Ipv4Endpoint& local);
bool Listen(Socket& s, int backlog);
bool SetReuseAddress(Socket& s);
bool SetNoDelay(Socket& s);
// Lets a datagram socket send to the limited broadcast address 255.255.255.255.
bool SetBroadcast(Socket& s);
// Linux re-arms quick ACKs after every receive; elsewhere a no-op returning true.
bool SetQuickAck(Socket& s);
bool LocalEndpoint(const Socket& s, Ipv4Endpoint* out);
// Shuts down both directions; errors ignored.
void ShutdownBoth(Socket& s);
// Closes the connection with a reset (RST) instead of the orderly close: the linger time
// is set to zero first. The Socket is invalid afterwards, as after Close().
void ResetAndClose(Socket& s);
// A send that cannot go on for ms milliseconds (the peer reads nothing) fails instead of
// blocking for ever.
bool SetSendTimeout(Socket& s, int ms);

enum class ConnectResult {
  Connected,  // the socket is connected and back in blocking mode
  Refused,    // refused or any other failure; LastSocketError() says why
  TimedOut,   // no answer within the bound; LastSocketError() gives TimedOutCode()
  Stopped,    // *stop was set; LastSocketError() gives the interrupted-call code
};

// A TCP connect that ends within timeoutMs (negative counts as 0) or soon after *stop is
// set (stop may be null), whichever comes first: a peer that drops the SYN does not hold
// the caller for the kernel's two minutes. The wait is cut into slices of at most 100 ms,
// and the stop mark is read before the connect and after every slice. A stop mark set
// before the call gives Stopped without connecting. On every result but Connected the
// socket is left unusable for another connect: close it.
ConnectResult ConnectWithin(Socket& s, const Ipv4Endpoint& peer, int timeoutMs,
                            const std::atomic<bool>* stop);

// Accepts one connection; invalid Socket on failure.
Socket Accept(Socket& listener, Ipv4Endpoint* peer);

// One send / receive call. Returns the count, or -1 on failure. Recv returns 0 when
// the peer has closed the connection. Never raises SIGPIPE.
long Send(Socket& s, const void* data, std::size_t length);
long Recv(Socket& s, void* buffer, std::size_t size);

long SendTo(Socket& s, const void* data, std::size_t length, const Ipv4Endpoint& to);
// Receives one datagram into buffer. *truncated is set when the datagram was longer
// than size (its tail is lost). Returns the number of bytes stored, or -1.
long RecvFrom(Socket& s, void* buffer, std::size_t size, Ipv4Endpoint* from, bool* truncated);

enum class WaitResult {
  Ready,     // the socket is readable
  Timeout,   // the time passed with nothing readable
  Failed,    // the wait itself failed (LastSocketError() says why)
  NotReady,  // the wait reported readiness, but not for this socket
};

// Waits until the socket is readable or timeoutMs passes. An interrupted wait resumes
// with the time that is left, so the total never stretches past timeoutMs.
WaitResult WaitReadable(const Socket& s, int timeoutMs);

// Waits until any of the sockets is readable. Returns the index of the first readable
// one, -1 on time-out, -2 on failure. Invalid sockets in the list are skipped.
int WaitAnyReadable(std::span<const Socket* const> sockets, int timeoutMs);

// The error code of the last failed socket call on this thread (errno / WSAGetLastError).
int LastSocketError();
// The codes LastSocketError() gives for a refused and for a reset connection.
int ConnectionRefusedCode();
int ConnectionResetCode();
// The code LastSocketError() gives after ConnectWithin timed out (ETIMEDOUT, WSAETIMEDOUT).
int TimedOutCode();

// True when address (host byte order) is one this host can send from, so that a socket can
// be bound to it: 0 (any address), all of 127.0.0.0/8, and every unicast address of an
// interface that is up. Never a multicast or broadcast address, though the system may let
// a socket bind one.
bool IsLocalAddress(std::uint32_t address);

// One IPv4 address of this host and the length of its network's prefix: the network is
// address with its low (32 - prefixLength) bits cleared.
struct Ipv4Network {
  std::uint32_t address = 0;  // host byte order
  int prefixLength = 0;
  bool operator==(const Ipv4Network&) const = default;
};
// The addresses of the interfaces that are up, loopback left out, in the system's order of
// interfaces. Empty when there are none or they cannot be listed.
std::vector<Ipv4Network> LocalIpv4Networks();

// The start-up and clean-up of the sockets layer. POSIX needs none: StartSocketLayer
// returns 0 and CleanupSocketLayer does nothing. On platforms that count start-ups, an
// unmatched clean-up must do nothing.
int StartSocketLayer();
void CleanupSocketLayer();

}  // namespace platform
