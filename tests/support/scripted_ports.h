// In-process stand-ins for the device's socket (LinkPort) and the XPort's (QueryPort): what
// the tool sends is recorded, what it receives comes from a script, and nothing waits.
#pragma once

#include <cstring>
#include <deque>
#include <vector>

#include "link/link_port.h"
#include "xport/query_port.h"

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

class ScriptedLink final : public device::LinkPort {
 public:
  // Each Reply is what one receive finds; then a close (receives give 0) or a reset (one
  // receive fails); with the script used up, every wait times out.
  ScriptedLink& Reply(const Bytes& bytes) { return Add({bytes, 1}); }
  ScriptedLink& Closed() { return Add({{}, 0}); }
  ScriptedLink& Reset() { return Add({{}, -1}); }
  // Every receive finds the buffer full of pattern, over and over.
  ScriptedLink& Flood(const Bytes& pattern) { return Add({pattern, 2}); }
  // Sends fail from the nth (1-based) on, as on a connection reset under them.
  void FailSendsFrom(int n) { failSendsFrom_ = n; }

  Bytes sent;
  int sends = 0;
  bool refuseConnect = false;

  int StartLayer() override { return 0; }
  void CleanupLayer() override {}
  bool Open(bool) override { return open_ = true; }
  device::ConnectResult Connect(const platform::Ipv4Endpoint&, const platform::Ipv4Endpoint&, int,
                                const std::atomic<bool>*) override {
    return refuseConnect ? device::ConnectResult::Failed : device::ConnectResult::Connected;
  }
  platform::WaitResult WaitReadable(int) override {
    if (!open_) return platform::WaitResult::Failed;
    return script_.empty() ? platform::WaitResult::Timeout : platform::WaitResult::Ready;
  }
  long Send(const std::uint8_t* data, std::size_t size) override {
    ++sends;
    if (!open_ || (failSendsFrom_ > 0 && sends >= failSendsFrom_)) return -1;
    sent.insert(sent.end(), data, data + size);
    return static_cast<long>(size);
  }
  long Recv(std::uint8_t* buffer, std::size_t size) override {
    if (script_.empty()) return 0;
    Step& s = script_.front();
    if (s.result <= 0) return s.result;  // a close stays; a reset is seen once
    if (s.result == 2) {
      for (std::size_t i = 0; i < size; ++i) buffer[i] = s.bytes[flooded_++ % s.bytes.size()];
      return static_cast<long>(size);
    }
    const std::size_t n = std::min(size, s.bytes.size());
    std::memcpy(buffer, s.bytes.data(), n);
    script_.pop_front();
    return static_cast<long>(n);
  }
  void Shutdown() override {}
  void Close() override { open_ = false; }
  int LastError() override { return 104; }

 private:
  struct Step {
    Bytes bytes;
    int result;  // 1: bytes, 0: closed, -1: reset, 2: a flood
  };
  ScriptedLink& Add(Step s) {
    script_.push_back(std::move(s));
    return *this;
  }
  std::deque<Step> script_;
  bool open_ = false;
  int failSendsFrom_ = 0;
  std::size_t flooded_ = 0;
};

// The XPort: each request is answered by the datagrams given for it, from the XPort's own
// address; a request with none gets nothing. Open, bind and send can be refused.
class ScriptedXPort final : public xport::QueryPort {
 public:
  ScriptedXPort& Answer(std::vector<Bytes> datagrams) {
    answers_.push_back(std::move(datagrams));
    return *this;
  }

  std::vector<Bytes> requests;
  bool refuseOpen = false, refuseBind = false, refuseSend = false;
  int closes = 0;

  bool Open() override { return !refuseOpen; }
  bool Bind(const platform::Ipv4Endpoint& local) override {
    return !refuseBind && local.port == 10001;
  }
  bool SendTo(const std::uint8_t* data, std::size_t size, const platform::Ipv4Endpoint&) override {
    if (refuseSend) return false;
    requests.emplace_back(data, data + size);
    pending_.clear();
    if (!answers_.empty()) pending_.assign(answers_.front().begin(), answers_.front().end());
    if (!answers_.empty()) answers_.pop_front();
    return true;
  }
  bool WaitReadable(int) override { return !pending_.empty(); }
  long ReceiveFrom(std::uint8_t* buffer, std::size_t size, platform::Ipv4Endpoint* from,
                   bool* truncated) override {
    const Bytes d = pending_.front();
    pending_.pop_front();
    const std::size_t n = std::min(size, d.size());
    if (n > 0) std::memcpy(buffer, d.data(), n);
    *from = {platform::InetAddr("127.0.0.1"), 30718};
    *truncated = d.size() > size;
    return static_cast<long>(n);
  }
  void Close() override { ++closes; }

 private:
  std::deque<std::vector<Bytes>> answers_;
  std::deque<Bytes> pending_;
};

}  // namespace testing_support
