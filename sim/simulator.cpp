// The simulator's transport: its sockets, its thread and the timing of the device's
// replies. What is answered is decided by the XPort (sim/xport.h) and the device
// (sim/device.h), which never see a socket.
#include "sim/simulator.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <chrono>
#include <limits>
#include <thread>

#include "platform/clock.h"
#include "platform/socket.h"
#include "sim/device.h"
#include "sim/fault_names.h"
#include "sim/xport.h"

namespace sim {
namespace {

using detail::Reply;

// The loop's longest wait: Stop() is seen within one tick.
constexpr int kTickMs = 20;
// Between the pieces of a fragmented reply, so that they arrive as separate receives.
constexpr int kFragmentGapUs = 1000;
// A peer that stops reading cannot hold the simulator's thread longer than this.
constexpr int kSendTimeoutMs = 1000;

std::string Endpoint(const platform::Ipv4Endpoint& e) {
  return platform::FormatIpv4(e.address) + ":" + std::to_string(e.port);
}

}  // namespace

// The due time of an output held until the tool's next bytes arrive.
constexpr std::int64_t kHeldUs = std::numeric_limits<std::int64_t>::max() / 2;

struct Simulator::Impl {
  explicit Impl(Config c)
      : config(std::move(c)),
        device(config, journal),
        xport(config, journal, platform::InetAddr(config.address.c_str())),
        fragments(config.faults.seed) {
    xport.AnnounceLocalPort(config.localPort.value_or(config.tcpPort));
  }

  // One output waiting for its time on the connection.
  struct Pending {
    std::int64_t dueUs = 0;
    Reply::Kind kind = Reply::Kind::Send;
    std::vector<std::uint8_t> bytes;
    std::string note;
  };

  Config config;
  detail::Journal journal;
  detail::Device device;
  detail::XPort xport;
  detail::Rng fragments;

  bool portAnnounced = false;  // the bound TCP port is in the record

  std::atomic<int> connections{0};
  std::atomic<bool> linkOpen{false};  // mirrors link.valid() for other threads
  std::atomic<std::uint16_t> tcpPort{0};

  std::mutex lifeMutex;  // Start and Stop
  std::thread thread;
  std::atomic<bool> stopping{false};
  bool socketLayer = false;

  // Owned by the thread while it runs.
  platform::Socket udp, listener, link;
  std::deque<Pending> pending;
  std::int64_t lastDueUs = 0;
  unsigned rotation = 0;

  bool Bind(std::string* error);
  void Run();
  void ServeUdp();
  void ServeListener();
  void ServeLink();
  void Schedule(std::vector<Reply>& replies);
  void Flush();
  bool SendAll(const std::vector<std::uint8_t>& bytes);
  void DropLink(const std::string& why, bool reset);
};

Simulator::Simulator(Config config) : impl_(std::make_unique<Impl>(std::move(config))) {}

Simulator::~Simulator() {
  Stop();
}

bool Simulator::Impl::Bind(std::string* error) {
  auto fail = [&](const std::string& what) {
    if (error) {
      *error = what + " on " + config.address + " (error " +
               std::to_string(platform::LastSocketError()) + ")";
    }
    udp.Close();
    listener.Close();
    return false;
  };
  const std::uint32_t address = platform::InetAddr(config.address.c_str());
  if (platform::FormatIpv4(address) != config.address) {
    if (error) *error = "'" + config.address + "' is not an IPv4 address";
    return false;
  }
  for (const auto& f : config.faults.blocks) {
    if (!ParsePhase(f.phase)) {
      if (error) *error = "unknown fault phase '" + f.phase + "'";
      return false;
    }
  }
  udp = platform::OpenUdpSocket();
  if (!udp.valid()) return fail("cannot create the UDP socket");
  if (!platform::Bind(udp, {address, config.udpPort})) {
    return fail("cannot bind UDP port " + std::to_string(config.udpPort));
  }
  listener = platform::OpenTcpSocket();
  if (!listener.valid()) return fail("cannot create the TCP socket");
  platform::SetReuseAddress(listener);
  if (!platform::Bind(listener, {address, config.tcpPort})) {
    return fail("cannot bind TCP port " + std::to_string(config.tcpPort));
  }
  if (!platform::Listen(listener, 4)) return fail("cannot listen on the TCP port");
  platform::Ipv4Endpoint local;
  if (!platform::LocalEndpoint(listener, &local)) return fail("cannot read the TCP port");
  tcpPort = local.port;
  return true;
}

bool Simulator::Start(std::string* error) {
  Impl& m = *impl_;
  std::lock_guard life(m.lifeMutex);
  if (m.thread.joinable()) {
    if (error) *error = "already running";
    return false;
  }
  if (platform::StartSocketLayer() != 0) {
    if (error) *error = "the sockets layer cannot be started";
    return false;
  }
  m.socketLayer = true;
  if (!m.Bind(error)) {
    platform::CleanupSocketLayer();
    m.socketLayer = false;
    return false;
  }
  // Once: afterwards the record is the XPort's, and a set request may have changed it.
  if (!m.portAnnounced) {
    m.xport.AnnounceLocalPort(m.config.localPort.value_or(m.tcpPort.load()));
    m.portAnnounced = true;
  }
  m.journal.Restart();
  m.journal.Add("ready " + m.config.address + " udp " + std::to_string(m.config.udpPort) + " tcp " +
                std::to_string(m.tcpPort.load()));
  m.stopping = false;
  m.pending.clear();
  m.lastDueUs = 0;
  m.xport.Restart();
  m.thread = std::thread([&m] { m.Run(); });
  return true;
}

void Simulator::Stop() {
  Impl& m = *impl_;
  std::lock_guard life(m.lifeMutex);
  if (!m.thread.joinable()) return;
  m.stopping = true;
  m.thread.join();
  if (m.link.valid()) m.DropLink("simulator stopped", false);
  m.listener.Close();
  m.udp.Close();
  m.journal.Add("stopped");
  if (m.socketLayer) {
    platform::CleanupSocketLayer();
    m.socketLayer = false;
  }
}

void Simulator::Impl::Run() {
  while (!stopping.load(std::memory_order_relaxed)) {
    int timeout = kTickMs;
    if (!pending.empty()) {
      const std::int64_t left = pending.front().dueUs - platform::MonotonicUs();
      timeout =
          left <= 0 ? 0 : static_cast<int>(std::min<std::int64_t>((left + 999) / 1000, kTickMs));
    }
    // The order turns every round, so a flood on one socket cannot starve the others.
    const platform::Socket* all[3] = {&link, &listener, &udp};
    const platform::Socket* order[3];
    for (unsigned i = 0; i < 3; ++i) order[i] = all[(i + rotation) % 3];
    ++rotation;
    const int ready = platform::WaitAnyReadable(order, timeout);
    if (ready == -2) {
      journal.Add("wait failed (error " + std::to_string(platform::LastSocketError()) + ")");
      platform::RealSleeper().SleepMs(kTickMs);
    } else if (ready >= 0) {
      const platform::Socket* s = order[ready];
      if (s == &link) {
        ServeLink();
      } else if (s == &listener) {
        ServeListener();
      } else {
        ServeUdp();
      }
    }
    Flush();
  }
}

void Simulator::Impl::ServeUdp() {
  std::uint8_t buf[2048];
  platform::Ipv4Endpoint from;
  bool truncated = false;
  const long n = platform::RecvFrom(udp, buf, sizeof buf, &from, &truncated);
  if (n < 0) {
    journal.Add("udp receive failed (error " + std::to_string(platform::LastSocketError()) + ")");
    return;
  }
  const std::string sender = Endpoint(from);
  const auto reply = xport.Take({buf, static_cast<std::size_t>(n)}, truncated, sender,
                                platform::MonotonicUs());
  if (!reply) return;
  if (platform::SendTo(udp, reply->bytes.data(), reply->bytes.size(), from) < 0) {
    journal.Add("udp tx " + reply->what + " to " + sender + " failed (error " +
                std::to_string(platform::LastSocketError()) + ")");
  } else {
    journal.Add("udp tx " + reply->what + " to " + sender);
  }
  if (!reply->afterward.empty()) journal.Add(reply->afterward);
}

void Simulator::Impl::ServeListener() {
  platform::Ipv4Endpoint peer;
  platform::Socket s = platform::Accept(listener, &peer);
  if (!s.valid()) {
    journal.Add("tcp accept failed (error " + std::to_string(platform::LastSocketError()) + ")");
    return;
  }
  if (link.valid()) DropLink("replaced by a new connection from " + Endpoint(peer), false);
  link = std::move(s);
  linkOpen = true;
  platform::SetNoDelay(link);
  platform::SetQuickAck(link);
  platform::SetSendTimeout(link, kSendTimeoutMs);
  ++connections;
  device.NewConnection();
  journal.Add("tcp accept " + Endpoint(peer));
}

void Simulator::Impl::ServeLink() {
  std::uint8_t buf[4096];
  const long n = platform::Recv(link, buf, sizeof buf);
  if (n == 0) {
    DropLink("closed by the peer", false);
    return;
  }
  if (n < 0) {
    DropLink("receive failed (error " + std::to_string(platform::LastSocketError()) + ")", false);
    return;
  }
  platform::SetQuickAck(link);
  // Whatever was held for the tool's next bytes goes out before they are answered.
  for (Pending& p : pending) {
    if (p.dueUs == kHeldUs) p.dueUs = platform::MonotonicUs();
  }
  if (xport.HoldsDeviceSilent()) {
    journal.Add("tcp rx " + std::to_string(n) +
                " bytes not passed on: the XPort's connect settings hold the device silent");
    return;
  }
  std::vector<Reply> replies;
  device.Feed({buf, static_cast<std::size_t>(n)}, &replies);
  Schedule(replies);
}

void Simulator::Impl::Schedule(std::vector<Reply>& replies) {
  const std::int64_t now = platform::MonotonicUs();
  for (Reply& r : replies) {
    std::int64_t due = std::max(now, lastDueUs) + std::int64_t{r.pauseMs} * 1000;
    if (r.startsReply) due += std::int64_t{config.faults.replyDelayMs} * 1000;
    if (r.holdUntilInput) {
      pending.push_back(Pending{kHeldUs, r.kind, std::move(r.bytes), std::move(r.note)});
      continue;
    }
    if (r.kind == Reply::Kind::Send && config.faults.fragmentAll && r.bytes.size() > 1) {
      // Two to five pieces at random cuts.
      const std::size_t size = r.bytes.size();
      const std::size_t pieces =
          2 + fragments.Below(static_cast<std::uint32_t>(std::min<std::size_t>(size, 5) - 1));
      std::vector<std::size_t> cuts = {0, size};
      while (cuts.size() < pieces + 1) {
        const std::size_t c = 1 + fragments.Below(static_cast<std::uint32_t>(size - 1));
        if (std::find(cuts.begin(), cuts.end(), c) == cuts.end()) cuts.push_back(c);
      }
      std::sort(cuts.begin(), cuts.end());
      for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        Pending p;
        p.dueUs = due + static_cast<std::int64_t>(i) * kFragmentGapUs;
        p.bytes.assign(r.bytes.begin() + static_cast<std::ptrdiff_t>(cuts[i]),
                       r.bytes.begin() + static_cast<std::ptrdiff_t>(cuts[i + 1]));
        if (i + 2 == cuts.size()) p.note = r.note + " in " + std::to_string(pieces) + " pieces";
        lastDueUs = p.dueUs;
        pending.push_back(std::move(p));
      }
      continue;
    }
    pending.push_back(Pending{due, r.kind, std::move(r.bytes), std::move(r.note)});
    lastDueUs = due;
  }
  Flush();
}

void Simulator::Impl::Flush() {
  while (!pending.empty() && pending.front().dueUs <= platform::MonotonicUs()) {
    Pending p = std::move(pending.front());
    pending.pop_front();
    switch (p.kind) {
      case Reply::Kind::Send:
        if (!SendAll(p.bytes)) {
          DropLink("send failed (error " + std::to_string(platform::LastSocketError()) + ")",
                   false);
          return;
        }
        if (!p.note.empty()) journal.Add(p.note);
        break;
      case Reply::Kind::Close:
        DropLink("closed by a fault", false);
        return;
      case Reply::Kind::Reset:
        DropLink("reset by a fault", true);
        return;
    }
  }
}

bool Simulator::Impl::SendAll(const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const long n = platform::Send(link, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void Simulator::Impl::DropLink(const std::string& why, bool reset) {
  device.ConnectionEnded(why);
  pending.clear();
  lastDueUs = 0;
  if (reset) {
    platform::ResetAndClose(link);
  } else {
    link.Close();
  }
  linkOpen = false;
}

std::uint16_t Simulator::TcpPort() const {
  return impl_->tcpPort.load();
}
Memory Simulator::ProgramMemory() const {
  return impl_->device.ProgramMemory();
}
std::uint16_t Simulator::VersionWord() const {
  return impl_->device.VersionWord();
}
Record Simulator::SetupRecord() const {
  return impl_->xport.CurrentRecord();
}
std::vector<std::string> Simulator::Events() const {
  return impl_->journal.Lines();
}
int Simulator::Connections() const {
  return impl_->connections.load();
}
int Simulator::LeaveCommands() const {
  return impl_->device.LeaveCommands();
}
bool Simulator::WaitForNoConnection(int timeoutMs) const {
  const std::int64_t deadline = platform::MonotonicMs() + timeoutMs;
  while (impl_->linkOpen.load()) {
    if (platform::MonotonicMs() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

int Simulator::UdpRequests() const {
  return impl_->xport.Requests();
}
int Simulator::SetRequests() const {
  return impl_->xport.SetRequests();
}
int Simulator::DataBlocks() const {
  return impl_->device.DataBlocks();
}

}  // namespace sim
