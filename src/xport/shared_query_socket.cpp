#include "xport/shared_query_socket.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace xport {
namespace {

// Large enough for any datagram the client would take (it refuses more than 1023 bytes);
// a longer one is kept as truncated, so that the client refuses it as it would.
constexpr std::size_t kDatagramBytes = 2048;
// A flood from one XPort cannot grow a mailbox without end; an exchange takes one reply.
constexpr std::size_t kMailboxDepth = 16;
// How often the receiving thread looks whether it should end.
constexpr int kReceivePollMs = 100;

}  // namespace

class SharedQuerySocket::Port final : public QueryPort {
 public:
  explicit Port(SharedQuerySocket& shared) : shared_(shared) {}
  ~Port() override { Close(); }

  bool Open() override { return shared_.EnsureSocket(); }
  bool Bind(const platform::Ipv4Endpoint& local) override { return shared_.EnsureBound(local); }
  bool SendTo(const std::uint8_t* data, std::size_t size,
              const platform::Ipv4Endpoint& to) override {
    // Routed before the request leaves, so that the quickest reply finds its exchange.
    if (!shared_.Route(to.address, &mailbox_)) return false;
    return shared_.Send(data, size, to);
  }
  bool WaitReadable(int ms) override {
    std::unique_lock lock(shared_.mu_);
    return mailbox_.arrived.wait_for(lock, std::chrono::milliseconds(std::max(ms, 0)),
                                     [this] { return !mailbox_.queue.empty(); });
  }
  long ReceiveFrom(std::uint8_t* buffer, std::size_t size, platform::Ipv4Endpoint* from,
                   bool* truncated) override {
    std::lock_guard lock(shared_.mu_);
    if (mailbox_.queue.empty()) return -1;
    Datagram d = std::move(mailbox_.queue.front());
    mailbox_.queue.pop_front();
    const std::size_t n = std::min(size, d.bytes.size());
    if (n > 0) std::memcpy(buffer, d.bytes.data(), n);
    if (from) *from = d.from;
    if (truncated) *truncated = d.truncated || d.bytes.size() > size;
    return static_cast<long>(n);
  }
  // The exchange ends: nothing more is routed here, and what came too late is dropped.
  void Close() override { shared_.Unroute(&mailbox_); }

 private:
  SharedQuerySocket& shared_;
  Mailbox mailbox_;
};

SharedQuerySocket::~SharedQuerySocket() {
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  if (receiver_.joinable()) receiver_.join();
  socket_.Close();
  if (layerStarted_) platform::CleanupSocketLayer();
}

std::unique_ptr<QueryPort> SharedQuerySocket::NewPort() {
  return std::make_unique<Port>(*this);
}

int SharedQuerySocket::Dropped() const {
  std::lock_guard lock(mu_);
  return dropped_;
}

bool SharedQuerySocket::EnsureSocket() {
  std::lock_guard lock(mu_);
  if (socket_.valid()) return true;
  if (!layerStarted_) {
    if (platform::StartSocketLayer() != 0) return false;
    layerStarted_ = true;
  }
  socket_ = platform::OpenUdpSocket();
  return socket_.valid();
}

bool SharedQuerySocket::EnsureBound(const platform::Ipv4Endpoint& local) {
  std::lock_guard lock(mu_);
  if (!socket_.valid()) return false;
  if (bound_) return local == local_;
  // Tried again by every exchange until it succeeds, as a socket per exchange would be.
  if (!platform::Bind(socket_, local)) return false;
  bound_ = true;
  local_ = local;
  receiver_ = std::thread([this] { ReceiveLoop(); });
  return true;
}

bool SharedQuerySocket::Route(std::uint32_t address, Mailbox* mailbox) {
  std::lock_guard lock(mu_);
  const auto [it, fresh] = routes_.emplace(address, mailbox);
  return fresh || it->second == mailbox;
}

void SharedQuerySocket::Unroute(Mailbox* mailbox) {
  std::lock_guard lock(mu_);
  std::erase_if(routes_, [mailbox](const auto& route) { return route.second == mailbox; });
  mailbox->queue.clear();
}

bool SharedQuerySocket::Send(const std::uint8_t* data, std::size_t size,
                             const platform::Ipv4Endpoint& to) {
  std::lock_guard lock(mu_);
  return bound_ && platform::SendTo(socket_, data, size, to) >= 0;
}

void SharedQuerySocket::ReceiveLoop() {
  std::vector<std::uint8_t> buffer(kDatagramBytes);
  for (;;) {
    {
      std::lock_guard lock(mu_);
      if (stopping_) return;
    }
    // Only this thread receives; the socket itself is never replaced while it runs.
    const platform::WaitResult ready = platform::WaitReadable(socket_, kReceivePollMs);
    if (ready == platform::WaitResult::Failed) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kReceivePollMs));
      continue;
    }
    if (ready != platform::WaitResult::Ready) continue;
    Datagram d;
    const long n = platform::RecvFrom(socket_, buffer.data(), buffer.size(), &d.from, &d.truncated);
    if (n < 0) continue;
    d.bytes.assign(buffer.begin(), buffer.begin() + n);
    std::lock_guard lock(mu_);
    const auto it = routes_.find(d.from.address);
    if (it == routes_.end() || it->second->queue.size() >= kMailboxDepth) {
      ++dropped_;
      continue;
    }
    it->second->queue.push_back(std::move(d));
    it->second->arrived.notify_all();
  }
}

}  // namespace xport
