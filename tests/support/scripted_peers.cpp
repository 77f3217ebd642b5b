#include "support/scripted_peers.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace testing_support {
namespace {

constexpr int kPollMs = 20;
constexpr std::size_t kFloodChunk = 64 * 1024;

// A send that ran into its time-out: the client is busy, not gone (10060: WSAETIMEDOUT).
bool SendTimedOut(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == ETIMEDOUT || error == 10060;
}

}  // namespace

ScriptedTcpPeer::ScriptedTcpPeer(const std::string& address) {
  listener_ = platform::OpenTcpSocket();
  platform::SetReuseAddress(listener_);
  platform::Bind(listener_, platform::Ipv4Endpoint{platform::InetAddr(address.c_str()), 0});
  platform::Listen(listener_, 1);
  platform::Ipv4Endpoint local{};
  if (platform::LocalEndpoint(listener_, &local)) port_ = local.port;
}

ScriptedTcpPeer::~ScriptedTcpPeer() {
  stop_ = true;
  cv_.notify_all();
  Join();
}

void ScriptedTcpPeer::Cue() {
  std::lock_guard lock(mu_);
  ++cues_;
  cv_.notify_all();
}

void ScriptedTcpPeer::WaitScriptDone() {
  std::unique_lock lock(mu_);
  cv_.wait(lock, [this] { return scriptDone_ || stop_; });
}

Bytes ScriptedTcpPeer::Received() const {
  std::lock_guard lock(mu_);
  return received_;
}

// Takes n bytes (any number when n is 0) into received_ and out; false once the client has
// gone.
bool ScriptedTcpPeer::ReadExactly(platform::Socket& s, std::size_t n, std::uint8_t* out) {
  std::uint8_t buf[256];
  for (std::size_t got = 0; n == 0 || got < n;) {
    if (stop_) return false;
    if (platform::WaitReadable(s, kPollMs) != platform::WaitResult::Ready) continue;
    const long r = platform::Recv(s, buf, n == 0 ? sizeof buf : std::min(sizeof buf, n - got));
    if (r <= 0) return false;
    platform::SetQuickAck(s);  // re-armed after every receive, or delayed ACKs apply
    std::lock_guard lock(mu_);
    received_.insert(received_.end(), buf, buf + r);
    if (out) std::memcpy(out + got, buf, static_cast<std::size_t>(r));
    got += static_cast<std::size_t>(r);
  }
  return true;
}

void ScriptedTcpPeer::Run() {
  platform::Socket conn;
  while (!stop_ && !conn.valid()) {
    if (platform::WaitReadable(listener_, kPollMs) == platform::WaitResult::Ready) {
      conn = platform::Accept(listener_, nullptr);
    }
  }
  listener_.Close();
  platform::SetNoDelay(conn);
  platform::SetQuickAck(conn);

  bool open = true;
  for (const Step& step : script_) {
    if (stop_ || !open) break;
    switch (step.kind) {
      case Step::Read:
        open = ReadExactly(conn, step.count);
        break;
      case Step::Send:
        platform::Send(conn, step.bytes.data(), step.bytes.size());
        break;
      case Step::Pause:
        std::this_thread::sleep_for(std::chrono::milliseconds(step.count));
        break;
      case Step::Close:
        conn.Close();
        open = false;
        break;
      case Step::Cue: {
        std::unique_lock lock(mu_);
        cv_.wait(lock, [this] { return cues_ > 0 || stop_; });
        if (cues_ > 0) --cues_;
        break;
      }
      case Step::Data:
        while (!stop_ && platform::WaitReadable(conn, kPollMs) != platform::WaitResult::Ready) {
        }
        break;
      case Step::Echo: {
        open = ReadExactly(conn, 5);
        std::uint8_t block[8];
        for (std::size_t b = 0; open && b < step.count; ++b) {
          if (!(open = ReadExactly(conn, 8, block))) break;
          std::uint8_t echo[18] = {};
          for (int i = 0; i < 4; ++i) {
            echo[4 * i + 2] = block[2 * i];
            echo[4 * i + 3] = block[2 * i + 1];
          }
          echo[16] = 'E';
          platform::Send(conn, echo, sizeof echo);
        }
        break;
      }
      case Step::Flood: {
        Bytes chunk;
        while (!step.bytes.empty() && chunk.size() < kFloodChunk) {
          chunk.insert(chunk.end(), step.bytes.begin(), step.bytes.end());
        }
        // The time-out lets the loop see stop_ while the client reads nothing.
        platform::SetSendTimeout(conn, kPollMs);
        while (!stop_ && !chunk.empty()) {
          const long n = platform::Send(conn, chunk.data(), chunk.size());
          if (n > 0) {
            flooded_ += static_cast<std::uint64_t>(n);
          } else if (!SendTimedOut(platform::LastSocketError())) {
            break;
          }
        }
        open = false;
        break;
      }
    }
  }
  {
    std::lock_guard lock(mu_);
    scriptDone_ = true;
  }
  cv_.notify_all();
  if (open) ReadExactly(conn, 0);  // until the client closes
}

ScriptedUdpPeer::~ScriptedUdpPeer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

bool ScriptedUdpPeer::Start(std::string* error) {
  socket_ = platform::OpenUdpSocket();
  forger_ = platform::OpenUdpSocket();
  if (!platform::Bind(socket_, {platform::InetAddr(address_.c_str()), port_}) ||
      !platform::Bind(forger_, {platform::InetAddr(forgerAddress_.c_str()), 0})) {
    if (error) *error = "bind failed, error " + std::to_string(platform::LastSocketError());
    return false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void ScriptedUdpPeer::ReplyNext(const std::vector<Datagram>& replies) {
  std::lock_guard lock(mu_);
  replies_.push_back(replies);
}

std::vector<Bytes> ScriptedUdpPeer::Requests() const {
  std::lock_guard lock(mu_);
  return requests_;
}

std::vector<platform::Ipv4Endpoint> ScriptedUdpPeer::Sources() const {
  std::lock_guard lock(mu_);
  return sources_;
}

void ScriptedUdpPeer::Run() {
  std::vector<std::uint8_t> datagram(4096);
  while (!stop_) {
    if (platform::WaitReadable(socket_, kPollMs) != platform::WaitResult::Ready) continue;
    platform::Ipv4Endpoint from{};
    bool truncated = false;
    const long r = platform::RecvFrom(socket_, datagram.data(), datagram.size(), &from, &truncated);
    if (r < 0) continue;
    std::vector<Datagram> answer;
    {
      std::lock_guard lock(mu_);
      requests_.emplace_back(datagram.begin(), datagram.begin() + r);
      sources_.push_back(from);
      if (answered_ < replies_.size()) answer = replies_[answered_++];
    }
    for (const Datagram& d : answer) {
      if (d.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(d.delayMs));
      platform::SendTo(d.forged ? forger_ : socket_, d.bytes.data(), d.bytes.size(), from);
    }
  }
}

}  // namespace testing_support
