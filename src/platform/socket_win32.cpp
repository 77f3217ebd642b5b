#include "platform/socket.h"

// winsock2.h must come before windows.h (which would pull in the old winsock.h).
#include <winsock2.h>

#include <iphlpapi.h>
#include <mstcpip.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace platform {
namespace {

SOCKET Sock(const Socket& s) {
  return static_cast<SOCKET>(s.native());
}

sockaddr_in ToSockaddr(const Ipv4Endpoint& e) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(e.port);
  sa.sin_addr.s_addr = htonl(e.address);
  return sa;
}

Ipv4Endpoint FromSockaddr(const sockaddr_in& sa) {
  return Ipv4Endpoint{ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port)};
}

// Winsock counts start-ups itself, but a clean-up without a start-up of ours would take
// away one that belongs to someone else in the process (the simulator beside the link in
// a test). Our own count makes an unmatched clean-up do nothing.
std::mutex g_layerMutex;
int g_layerCount = 0;

// Sockets are also made by code that never starts the layer (test peers, the simulator's
// helpers). One start-up that lasts the whole process keeps socket() usable for them; it
// is taken lazily and never counted by StartSocketLayer/CleanupSocketLayer.
void EnsureLayerForProcess() {
  static const int once = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 0), &data);
  }();
  (void)once;
}

Socket OpenSocket(int type) {
  EnsureLayerForProcess();
  const SOCKET s =
      ::WSASocketW(AF_INET, type, 0, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return Socket();
  return Socket(static_cast<Socket::Native>(s));
}

// select() on the given set until something is ready or the deadline passes. An
// interrupted call resumes with the time that is left. Returns select's result.
int SelectWithDeadline(fd_set* readable, fd_set* failed, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  const fd_set readableIn = *readable;
  const fd_set failedIn = *failed;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now());
    const long long us = left.count() > 0 ? left.count() : 0;
    timeval tv{};
    tv.tv_sec = static_cast<long>(us / 1000000);
    tv.tv_usec = static_cast<long>(us % 1000000);
    *readable = readableIn;
    *failed = failedIn;
    const int r = ::select(0, readable, nullptr, failed, &tv);
    if (r != SOCKET_ERROR || WSAGetLastError() != WSAEINTR) return r;
  }
}

bool Ready(SOCKET s, fd_set* readable, fd_set* failed) {
  // An error (a refused or reset connection) counts as readable: the receive that
  // follows reports it.
  return FD_ISSET(s, readable) || FD_ISSET(s, failed);
}

bool SetBlocking(SOCKET s, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  return ::ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}

}  // namespace

std::uint32_t InetAddr(const char* text) {
  return ntohl(::inet_addr(text));
}

std::string FormatIpv4(std::uint32_t address) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", static_cast<unsigned>(address >> 24),
                static_cast<unsigned>((address >> 16) & 0xFF),
                static_cast<unsigned>((address >> 8) & 0xFF),
                static_cast<unsigned>(address & 0xFF));
  return buf;
}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.release();
  }
  return *this;
}

void Socket::Close() {
  if (handle_ != kInvalid) {
    ::closesocket(static_cast<SOCKET>(handle_));
    handle_ = kInvalid;
  }
}

Socket OpenTcpSocket() {
  return OpenSocket(SOCK_STREAM);
}

Socket OpenUdpSocket() {
  Socket s = OpenSocket(SOCK_DGRAM);
  if (s.valid()) {
    // Without this, an ICMP "port unreachable" for an earlier sendto makes the next
    // recvfrom fail with WSAECONNRESET, which a datagram exchange must not see.
    BOOL off = FALSE;
    DWORD returned = 0;
    ::WSAIoctl(Sock(s), SIO_UDP_CONNRESET, &off, sizeof off, nullptr, 0, &returned, nullptr,
               nullptr);
  }
  return s;
}

bool Connect(Socket& s, const Ipv4Endpoint& peer) {
  if (!s.valid()) {
    WSASetLastError(WSAENOTSOCK);
    return false;
  }
  const sockaddr_in sa = ToSockaddr(peer);
  return ::connect(Sock(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

ConnectResult ConnectWithin(Socket& s, const Ipv4Endpoint& peer, int timeoutMs,
                            const std::atomic<bool>* stop) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  const auto stopped = [stop] { return stop && stop->load(); };
  if (!s.valid()) {
    WSASetLastError(WSAENOTSOCK);
    return ConnectResult::Refused;
  }
  if (stopped()) {
    WSASetLastError(WSAEINTR);
    return ConnectResult::Stopped;
  }
  if (!SetBlocking(Sock(s), false)) return ConnectResult::Refused;
  const sockaddr_in sa = ToSockaddr(peer);
  if (::connect(Sock(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 &&
      WSAGetLastError() != WSAEWOULDBLOCK) {
    return ConnectResult::Refused;
  }
  int error = 0;
  for (;;) {
    // A connect that succeeds marks the socket writable; one that fails marks it in the
    // exception set.
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(Sock(s), &writable);
    FD_SET(Sock(s), &failed);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    const long long ms = std::clamp<long long>(left.count(), 0, 100);
    timeval tv{};
    tv.tv_usec = static_cast<long>(ms * 1000);
    const int r = ::select(0, nullptr, &writable, &failed, &tv);
    if (r == SOCKET_ERROR && WSAGetLastError() != WSAEINTR) return ConnectResult::Refused;
    if (r > 0) {
      int length = sizeof error;
      if (::getsockopt(Sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) !=
          0) {
        error = WSAGetLastError();
      }
      if (error == 0 && FD_ISSET(Sock(s), &failed)) error = WSAECONNREFUSED;
      break;
    }
    if (stopped()) {
      WSASetLastError(WSAEINTR);
      return ConnectResult::Stopped;
    }
    if (Clock::now() >= deadline) {
      WSASetLastError(WSAETIMEDOUT);
      return ConnectResult::TimedOut;
    }
  }
  if (error == 0 && !SetBlocking(Sock(s), true)) error = WSAGetLastError();
  WSASetLastError(error);
  if (error == 0) return ConnectResult::Connected;
  return error == WSAETIMEDOUT ? ConnectResult::TimedOut : ConnectResult::Refused;
}

bool Bind(Socket& s, const Ipv4Endpoint& local) {
  const sockaddr_in sa = ToSockaddr(local);
  return ::bind(Sock(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool Listen(Socket& s, int backlog) {
  return ::listen(Sock(s), backlog) == 0;
}

bool SetReuseAddress(Socket& s) {
  const BOOL on = TRUE;
  return ::setsockopt(Sock(s), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on),
                      sizeof on) == 0;
}

bool SetNoDelay(Socket& s) {
  const BOOL on = TRUE;
  return ::setsockopt(Sock(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                      sizeof on) == 0;
}

bool SetBroadcast(Socket& s) {
  const BOOL on = TRUE;
  return ::setsockopt(Sock(s), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                      sizeof on) == 0;
}

bool SetQuickAck(Socket&) {
  return true;
}

bool LocalEndpoint(const Socket& s, Ipv4Endpoint* out) {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (::getsockname(Sock(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return false;
  *out = FromSockaddr(sa);
  return true;
}

void ShutdownBoth(Socket& s) {
  if (s.valid()) ::shutdown(Sock(s), SD_BOTH);
}

void ResetAndClose(Socket& s) {
  if (!s.valid()) return;
  linger lg{};
  lg.l_onoff = 1;
  lg.l_linger = 0;
  ::setsockopt(Sock(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof lg);
  s.Close();
}

bool SetSendTimeout(Socket& s, int ms) {
  const DWORD timeout = ms < 0 ? 0 : static_cast<DWORD>(ms);
  return ::setsockopt(Sock(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout),
                      sizeof timeout) == 0;
}

Socket Accept(Socket& listener, Ipv4Endpoint* peer) {
  sockaddr_in sa{};
  int len = sizeof sa;
  const SOCKET s = ::accept(Sock(listener), reinterpret_cast<sockaddr*>(&sa), &len);
  if (s == INVALID_SOCKET) return Socket();
  if (peer) *peer = FromSockaddr(sa);
  return Socket(static_cast<Socket::Native>(s));
}

long Send(Socket& s, const void* data, std::size_t length) {
  if (!s.valid()) {
    WSASetLastError(WSAENOTSOCK);
    return -1;
  }
  const int r = ::send(Sock(s), static_cast<const char*>(data), static_cast<int>(length), 0);
  return r == SOCKET_ERROR ? -1 : r;
}

long Recv(Socket& s, void* buffer, std::size_t size) {
  if (!s.valid()) {
    WSASetLastError(WSAENOTSOCK);
    return -1;
  }
  const int r = ::recv(Sock(s), static_cast<char*>(buffer), static_cast<int>(size), 0);
  return r == SOCKET_ERROR ? -1 : r;
}

long SendTo(Socket& s, const void* data, std::size_t length, const Ipv4Endpoint& to) {
  const sockaddr_in sa = ToSockaddr(to);
  const int r = ::sendto(Sock(s), static_cast<const char*>(data), static_cast<int>(length), 0,
                         reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  return r == SOCKET_ERROR ? -1 : r;
}

long RecvFrom(Socket& s, void* buffer, std::size_t size, Ipv4Endpoint* from, bool* truncated) {
  sockaddr_in sa{};
  int len = sizeof sa;
  const int r = ::recvfrom(Sock(s), static_cast<char*>(buffer), static_cast<int>(size), 0,
                           reinterpret_cast<sockaddr*>(&sa), &len);
  // There is no MSG_TRUNC here: an over-long datagram fills the buffer and the call fails
  // with WSAEMSGSIZE (the tail is dropped).
  const bool cut = r == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE;
  if (r == SOCKET_ERROR && !cut) return -1;
  if (from) *from = FromSockaddr(sa);
  if (truncated) *truncated = cut;
  return cut ? static_cast<long>(size) : r;
}

WaitResult WaitReadable(const Socket& s, int timeoutMs) {
  if (!s.valid()) {
    WSASetLastError(WSAENOTSOCK);
    return WaitResult::Failed;
  }
  fd_set readable;
  fd_set failed;
  FD_ZERO(&readable);
  FD_ZERO(&failed);
  FD_SET(Sock(s), &readable);
  FD_SET(Sock(s), &failed);
  const int r = SelectWithDeadline(&readable, &failed, timeoutMs);
  if (r == SOCKET_ERROR) return WaitResult::Failed;
  if (r == 0) return WaitResult::Timeout;
  return Ready(Sock(s), &readable, &failed) ? WaitResult::Ready : WaitResult::NotReady;
}

int WaitAnyReadable(std::span<const Socket* const> sockets, int timeoutMs) {
  fd_set readable;
  fd_set failed;
  FD_ZERO(&readable);
  FD_ZERO(&failed);
  std::vector<std::size_t> index;
  for (std::size_t i = 0; i < sockets.size() && index.size() < FD_SETSIZE; ++i) {
    if (sockets[i] && sockets[i]->valid()) {
      FD_SET(Sock(*sockets[i]), &readable);
      FD_SET(Sock(*sockets[i]), &failed);
      index.push_back(i);
    }
  }
  if (index.empty()) {
    // select() refuses empty sets; nothing can become readable, so only the time passes.
    ::Sleep(static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs));
    return -1;
  }
  const int r = SelectWithDeadline(&readable, &failed, timeoutMs);
  if (r == SOCKET_ERROR) return -2;
  for (std::size_t i : index) {
    if (Ready(Sock(*sockets[i]), &readable, &failed)) return static_cast<int>(i);
  }
  return -1;
}

int LastSocketError() {
  return WSAGetLastError();
}
int ConnectionRefusedCode() {
  return WSAECONNREFUSED;
}
int ConnectionResetCode() {
  return WSAECONNRESET;
}
int TimedOutCode() {
  return WSAETIMEDOUT;
}

bool IsLocalAddress(std::uint32_t address) {
  if (address == 0 || address >> 24 == 127) return true;
  // The adapters' own unicast addresses rather than a trial bind: Wine binds an address that
  // is not the host's to any address instead of failing as Windows does.
  for (const Ipv4Network& n : LocalIpv4Networks()) {
    if (n.address == address) return true;
  }
  return false;
}

std::vector<Ipv4Network> LocalIpv4Networks() {
  std::vector<Ipv4Network> networks;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  std::vector<unsigned char> buffer(16 * 1024);
  ULONG size = static_cast<ULONG>(buffer.size());
  ULONG r = ERROR_BUFFER_OVERFLOW;
  // The list can grow between the call that sizes it and the call that fills it.
  for (int tries = 0; tries < 3 && r == ERROR_BUFFER_OVERFLOW; ++tries) {
    buffer.resize(size);
    r = ::GetAdaptersAddresses(AF_INET, flags, nullptr,
                               reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (r != NO_ERROR) return networks;
  for (auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); a; a = a->Next) {
    if (a->OperStatus != IfOperStatusUp || a->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
    for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
      const sockaddr* sa = u->Address.lpSockaddr;
      if (!sa || sa->sa_family != AF_INET) continue;
      const auto* in = reinterpret_cast<const sockaddr_in*>(sa);
      networks.push_back({ntohl(in->sin_addr.s_addr), static_cast<int>(u->OnLinkPrefixLength)});
    }
  }
  return networks;
}

int StartSocketLayer() {
  std::lock_guard<std::mutex> lock(g_layerMutex);
  WSADATA data{};
  const int r = WSAStartup(MAKEWORD(2, 0), &data);
  if (r == 0) ++g_layerCount;
  return r;
}

void CleanupSocketLayer() {
  std::lock_guard<std::mutex> lock(g_layerMutex);
  if (g_layerCount == 0) return;
  --g_layerCount;
  WSACleanup();
}

}  // namespace platform
