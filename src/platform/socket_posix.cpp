#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <vector>

namespace platform {
namespace {

int Fd(const Socket& s) { return static_cast<int>(s.native()); }

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

// poll() on the given descriptors; EINTR resumes with the time left so the total wait
// never stretches. Returns poll's result.
int PollWithDeadline(pollfd* fds, nfds_t count, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    const int ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    const int r = ::poll(fds, count, ms);
    if (r >= 0 || errno != EINTR) return r;
  }
}

bool SetBlocking(int fd, bool blocking) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  return ::fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
}

// Multicast, the limited broadcast and the reserved block above them (224.0.0.0 and up), or a
// directed broadcast of one of this host's networks: the system lets a socket bind them, but
// nothing is ever sent from them.
bool IsGroupAddress(std::uint32_t address) {
  if (address >= 0xE0000000u) return true;
  for (const Ipv4Network& n : LocalIpv4Networks()) {
    const std::uint32_t host = n.prefixLength >= 31 ? 0 : 0xFFFFFFFFu >> n.prefixLength;
    if (host != 0 && address == (n.address | host)) return true;
  }
  return false;
}

}  // namespace

std::uint32_t InetAddr(const char* text) { return ntohl(::inet_addr(text)); }

std::string FormatIpv4(std::uint32_t address) {
  in_addr a{};
  a.s_addr = htonl(address);
  char buf[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a, buf, sizeof buf);
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
    ::close(static_cast<int>(handle_));
    handle_ = kInvalid;
  }
}

Socket OpenTcpSocket() { return Socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)); }
Socket OpenUdpSocket() { return Socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)); }

bool Connect(Socket& s, const Ipv4Endpoint& peer) {
  if (!s.valid()) {
    errno = EBADF;
    return false;
  }
  const sockaddr_in sa = ToSockaddr(peer);
  int r;
  do {
    r = ::connect(Fd(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  } while (r != 0 && errno == EINTR);
  return r == 0;
}

ConnectResult ConnectWithin(Socket& s, const Ipv4Endpoint& peer, int timeoutMs,
                            const std::atomic<bool>* stop) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  const auto stopped = [stop] { return stop && stop->load(); };
  if (!s.valid()) {
    errno = EBADF;
    return ConnectResult::Refused;
  }
  if (stopped()) {
    errno = EINTR;
    return ConnectResult::Stopped;
  }
  if (!SetBlocking(Fd(s), false)) return ConnectResult::Refused;
  const sockaddr_in sa = ToSockaddr(peer);
  // An interrupted non-blocking connect goes on in the background, as one in progress does.
  if (::connect(Fd(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 &&
      errno != EINPROGRESS && errno != EINTR) {
    return ConnectResult::Refused;
  }
  int error = 0;
  for (;;) {
    pollfd fds[1] = {pollfd{Fd(s), POLLOUT, 0}};
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    const int r = ::poll(fds, 1, static_cast<int>(std::clamp<long long>(left.count(), 0, 100)));
    if (r < 0 && errno != EINTR) return ConnectResult::Refused;
    if (r > 0) {
      socklen_t length = sizeof error;
      if (::getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
      break;
    }
    if (stopped()) {
      errno = EINTR;
      return ConnectResult::Stopped;
    }
    if (Clock::now() >= deadline) {
      errno = ETIMEDOUT;
      return ConnectResult::TimedOut;
    }
  }
  if (error == 0 && !SetBlocking(Fd(s), true)) error = errno;
  errno = error;
  if (error == 0) return ConnectResult::Connected;
  return error == ETIMEDOUT ? ConnectResult::TimedOut : ConnectResult::Refused;
}

bool Bind(Socket& s, const Ipv4Endpoint& local) {
  const sockaddr_in sa = ToSockaddr(local);
  return ::bind(Fd(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool Listen(Socket& s, int backlog) { return ::listen(Fd(s), backlog) == 0; }

bool SetReuseAddress(Socket& s) {
  const int on = 1;
  return ::setsockopt(Fd(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

bool SetNoDelay(Socket& s) {
  const int on = 1;
  return ::setsockopt(Fd(s), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

bool SetBroadcast(Socket& s) {
  const int on = 1;
  return ::setsockopt(Fd(s), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
}

bool SetQuickAck(Socket& s) {
#ifdef TCP_QUICKACK
  const int on = 1;
  return ::setsockopt(Fd(s), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on) == 0;
#else
  (void)s;
  return true;
#endif
}

bool LocalEndpoint(const Socket& s, Ipv4Endpoint* out) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(Fd(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return false;
  *out = FromSockaddr(sa);
  return true;
}

void ShutdownBoth(Socket& s) {
  if (s.valid()) ::shutdown(Fd(s), SHUT_RDWR);
}

void ResetAndClose(Socket& s) {
  if (!s.valid()) return;
  const linger lg{1, 0};
  ::setsockopt(Fd(s), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  s.Close();
}

bool SetSendTimeout(Socket& s, int ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  return ::setsockopt(Fd(s), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

Socket Accept(Socket& listener, Ipv4Endpoint* peer) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  int fd;
  do {
    fd = ::accept4(Fd(listener), reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0 && peer) *peer = FromSockaddr(sa);
  return Socket(fd);
}

long Send(Socket& s, const void* data, std::size_t length) {
  if (!s.valid()) {
    errno = EBADF;
    return -1;
  }
  ssize_t r;
  do {
    r = ::send(Fd(s), data, length, MSG_NOSIGNAL);
  } while (r < 0 && errno == EINTR);
  return static_cast<long>(r);
}

long Recv(Socket& s, void* buffer, std::size_t size) {
  if (!s.valid()) {
    errno = EBADF;
    return -1;
  }
  ssize_t r;
  do {
    r = ::recv(Fd(s), buffer, size, 0);
  } while (r < 0 && errno == EINTR);
  return static_cast<long>(r);
}

long SendTo(Socket& s, const void* data, std::size_t length, const Ipv4Endpoint& to) {
  const sockaddr_in sa = ToSockaddr(to);
  ssize_t r;
  do {
    r = ::sendto(Fd(s), data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa),
                 sizeof sa);
  } while (r < 0 && errno == EINTR);
  return static_cast<long>(r);
}

long RecvFrom(Socket& s, void* buffer, std::size_t size, Ipv4Endpoint* from, bool* truncated) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  ssize_t r;
  // MSG_TRUNC makes the call report the datagram's real length, so an over-long one is
  // told apart from one that exactly fills the buffer.
  do {
    r = ::recvfrom(Fd(s), buffer, size, MSG_TRUNC, reinterpret_cast<sockaddr*>(&sa), &len);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return -1;
  if (from) *from = FromSockaddr(sa);
  const bool cut = static_cast<std::size_t>(r) > size;
  if (truncated) *truncated = cut;
  return cut ? static_cast<long>(size) : static_cast<long>(r);
}

WaitResult WaitReadable(const Socket& s, int timeoutMs) {
  if (!s.valid()) {
    errno = EBADF;
    return WaitResult::Failed;
  }
  pollfd fds[1] = {pollfd{Fd(s), POLLIN, 0}};
  const int r = PollWithDeadline(fds, 1, timeoutMs);
  if (r < 0) return WaitResult::Failed;
  if (r == 0) return WaitResult::Timeout;
  if (fds[0].revents & POLLNVAL) {
    errno = EBADF;
    return WaitResult::Failed;
  }
  // A hang-up or error counts as readable: the receive that follows reports it.
  if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) return WaitResult::Ready;
  return WaitResult::NotReady;
}

int WaitAnyReadable(std::span<const Socket* const> sockets, int timeoutMs) {
  std::vector<pollfd> fds;
  std::vector<int> index;
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    if (sockets[i] && sockets[i]->valid()) {
      fds.push_back(pollfd{Fd(*sockets[i]), POLLIN, 0});
      index.push_back(static_cast<int>(i));
    }
  }
  const int r = PollWithDeadline(fds.data(), fds.size(), timeoutMs);
  if (r < 0) return -2;
  for (std::size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) return index[i];
  }
  return -1;
}

int LastSocketError() { return errno; }
int ConnectionRefusedCode() { return ECONNREFUSED; }
int ConnectionResetCode() { return ECONNRESET; }
int TimedOutCode() { return ETIMEDOUT; }

bool IsLocalAddress(std::uint32_t address) {
  if (address == 0) return true;
  if (IsGroupAddress(address)) return false;
  Socket probe = OpenUdpSocket();
  return probe.valid() && Bind(probe, {address, 0});
}

std::vector<Ipv4Network> LocalIpv4Networks() {
  std::vector<Ipv4Network> networks;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return networks;
  for (const ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP) ||
        (i->ifa_flags & IFF_LOOPBACK)) {
      continue;
    }
    const auto* address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
    const auto* mask = reinterpret_cast<const sockaddr_in*>(i->ifa_netmask);
    const std::uint32_t bits = mask ? ntohl(mask->sin_addr.s_addr) : 0xFFFFFFFFu;
    networks.push_back({ntohl(address->sin_addr.s_addr), std::popcount(bits)});
  }
  ::freeifaddrs(list);
  return networks;
}

int StartSocketLayer() { return 0; }
void CleanupSocketLayer() {}

}  // namespace platform
