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

namespace sim {
namespace {

using detail::HexBytes;
using detail::Reply;

// The loop's longest wait: Stop() is seen within one tick.
constexpr int kTickMs = 20;
// Between the pieces of a fragmented reply, so that they arrive as separate receives.
constexpr int kFragmentGapUs = 1000;
// A peer that stops reading cannot hold the simulator's thread longer than this.
constexpr int kSendTimeoutMs = 1000;

constexpr std::size_t kInfoSize = 30;
constexpr std::uint8_t kInfoQuery = 0xF6, kInfoReply = 0xF7;
constexpr std::uint8_t kGetRecord = 0xF8, kRecordReply = 0xF9;
constexpr std::uint8_t kSetRecord = 0xFA, kSetAccepted = 0xFB;

bool NeedsOverride(const Record& r) {
  return (r[32] & 0x0F) == 0x01 || r[33] == 0x80;
}

bool IsRequest(const std::uint8_t* d, long n, std::uint8_t code) {
  return n >= 4 && d[0] == 0 && d[1] == 0 && d[2] == 0 && d[3] == code;
}

// A record such as a module fresh from the factory would report: addresses, serial
// settings and the connect modes, with LocalPort filled in at Start.
Record InitialRecord(const Config& config, std::uint32_t address) {
  Record r{};
  r[3] = kRecordReply;
  r[4] = static_cast<std::uint8_t>(address >> 24);  // IP address
  r[5] = static_cast<std::uint8_t>(address >> 16);
  r[6] = static_cast<std::uint8_t>(address >> 8);
  r[7] = static_cast<std::uint8_t>(address);
  r[12] = 8;    // host bits of the netmask
  r[16] = 'Q';  // telnet password
  r[17] = 'V';
  r[20] = 0x4C;                                // serial: 8 data bits, no parity, 1 stop bit
  r[21] = 0x03;                                // 9600 bit/s
  r[22] = 0x00;                                // no flow control
  r[32] = config.needsOverride ? 0x01 : 0xC0;  // ConnectMode
  r[33] = config.needsOverride ? 0x80 : 0x00;  // DisConnMode
  r[34] = 0x00;                                // flush mode
  r[36] = 0x0A;                                // pack control: idle gap
  r[38] = 0x0D;                                // pack control: send character
  r[39] = 0x0A;
  r[44] = 0x01;   // channel enabled
  r[120] = 0x5A;  // configuration check mark
  return r;
}

std::array<std::uint8_t, kInfoSize> InfoReply(const Config& config) {
  std::array<std::uint8_t, kInfoSize> info{};
  info[3] = kInfoReply;
  info[4] = 'X';  // module type
  info[5] = '5';
  info[8] = 0x06;  // firmware 6.7
  info[9] = 0x07;
  info[12] = 0x01;  // serial channels
  for (std::size_t i = 0; i < 6; ++i) info[24 + i] = config.mac[i];
  return info;
}

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
        fragments(config.faults.seed),
        record(InitialRecord(config, platform::InetAddr(config.address.c_str()))) {
    AnnounceLocalPort(config.localPort.value_or(config.tcpPort));
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
  detail::Rng fragments;

  mutable std::mutex recordMutex;
  Record record;
  bool portAnnounced = false;  // the bound TCP port is in the record

  std::atomic<int> connections{0};
  std::atomic<int> setRequests{0};
  std::atomic<int> udpRequests{0};
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
  std::int64_t settleUntilUs = 0;
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
  void AnnounceLocalPort(std::uint16_t port) {
    std::lock_guard lock(recordMutex);
    record[24] = static_cast<std::uint8_t>(port & 0xFF);
    record[25] = static_cast<std::uint8_t>(port >> 8);
  }
  Record CurrentRecord() const {
    std::lock_guard lock(recordMutex);
    return record;
  }
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
    m.AnnounceLocalPort(m.config.localPort.value_or(m.tcpPort.load()));
    m.portAnnounced = true;
  }
  m.journal.Restart();
  m.journal.Add("ready " + m.config.address + " udp " + std::to_string(m.config.udpPort) + " tcp " +
                std::to_string(m.tcpPort.load()));
  m.stopping = false;
  m.pending.clear();
  m.lastDueUs = 0;
  m.settleUntilUs = 0;
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
  const std::size_t len = static_cast<std::size_t>(n);
  const std::string head = HexBytes({buf, std::min<std::size_t>(len, 4)});
  ++udpRequests;
  if (platform::MonotonicUs() < settleUntilUs) {
    journal.Add("udp rx " + head + " from " + sender + " ignored: restarting");
    return;
  }
  if (truncated) {
    journal.Add("udp rx over-long datagram from " + sender + " ignored");
    return;
  }
  auto reply = [&](const std::uint8_t* data, std::size_t size, const std::string& what) {
    if (platform::SendTo(udp, data, size, from) < 0) {
      journal.Add("udp tx " + what + " to " + sender + " failed (error " +
                  std::to_string(platform::LastSocketError()) + ")");
    } else {
      journal.Add("udp tx " + what + " to " + sender);
    }
  };
  const XPortFault fault = config.faults.xport;
  if (IsRequest(buf, n, kInfoQuery)) {
    journal.Add("udp rx info query " + head + " from " + sender);
    if (fault == XPortFault::Silent) {
      journal.Add("fault xport silent: not answered");
      return;
    }
    const auto info = InfoReply(config);
    const std::size_t size = fault == XPortFault::ShortInfo ? kInfoSize - 1 : kInfoSize;
    reply(info.data(), size, "info " + std::to_string(size) + " bytes");
  } else if (IsRequest(buf, n, kGetRecord)) {
    journal.Add("udp rx get record " + head + " from " + sender);
    if (fault == XPortFault::Silent || fault == XPortFault::SilentRecord) {
      journal.Add("fault xport silent: not answered");
      return;
    }
    const Record r = CurrentRecord();
    const std::size_t size = fault == XPortFault::ShortRecord ? r.size() - 1 : r.size();
    reply(r.data(), size, "record " + std::to_string(size) + " bytes");
  } else if (IsRequest(buf, n, kSetRecord)) {
    if (len < Record().size()) {
      journal.Add("udp rx set record of " + std::to_string(len) + " bytes from " + sender +
                  " ignored: a record has 124");
      return;
    }
    const int nth = ++setRequests;
    journal.Add("udp rx set record #" + std::to_string(nth) + " from " + sender + ", bytes 32/33 " +
                HexBytes({buf + 32, 2}));
    if (fault == XPortFault::Silent) {
      journal.Add("fault xport silent: not answered");
      return;
    }
    if (config.faults.ignoreSet == nth) {
      journal.Add("fault ignore-set " + std::to_string(nth) + ": not answered, record unchanged");
      return;
    }
    if (config.faults.refuseSet == nth) {
      journal.Add("fault refuse-set " + std::to_string(nth) + ": record unchanged");
      const std::uint8_t refused[4] = {0, 0, 0, kSetRecord};
      reply(refused, sizeof refused, "00 00 00 FA");
      return;
    }
    {
      std::lock_guard lock(recordMutex);
      std::copy(buf + 4, buf + record.size(), record.begin() + 4);
    }
    const std::uint8_t accepted[4] = {0, 0, 0, kSetAccepted};
    reply(accepted, sizeof accepted, "00 00 00 FB");
    settleUntilUs = platform::MonotonicUs() + std::int64_t{config.settleMs} * 1000;
    journal.Add("xport restarting for " + std::to_string(config.settleMs) + " ms");
  } else {
    journal.Add("udp rx unknown request " + HexBytes({buf, std::min<std::size_t>(len, 8)}) +
                (len > 8 ? " ..." : "") + " (" + std::to_string(len) + " bytes) from " + sender +
                " ignored");
  }
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
  if (config.enforceOverride && NeedsOverride(CurrentRecord())) {
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
  return impl_->CurrentRecord();
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

int Simulator::UdpRequests() const { return impl_->udpRequests.load(); }

int Simulator::SetRequests() const {
  return impl_->setRequests.load();
}
int Simulator::DataBlocks() const {
  return impl_->device.DataBlocks();
}

}  // namespace sim
