#include "xport/discovery.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <span>

#include "platform/clock.h"
#include "platform/socket.h"
#include "panel/target.h"
#include "xport/wire.h"

namespace xport {
namespace {

constexpr std::uint32_t kLimitedBroadcast = 0xFFFFFFFFu;
// A decimal number from the front of text, digits only, at most max; false otherwise.
bool TakeNumber(std::string_view* text, unsigned max, unsigned* out) {
  std::size_t n = 0;
  while (n < text->size() && n < 3 && (*text)[n] >= '0' && (*text)[n] <= '9') ++n;
  if (n == 0 || (n < text->size() && (*text)[n] >= '0' && (*text)[n] <= '9')) return false;
  unsigned value = 0;
  std::from_chars(text->data(), text->data() + n, value);
  if (value > max) return false;
  text->remove_prefix(n);
  *out = value;
  return true;
}

// What the scan knows about one address that was asked.
struct Peer {
  bool infoRead = false;
  bool recordAsked = false;
  DiscoveredXPort found;
};

class Scan {
 public:
  Scan(const DiscoveryRange& range, const DiscoveryPace& pace, std::uint32_t localAddress)
      : range_(range), pace_(pace), localAddress_(localAddress) {
    for (std::uint32_t a : range.addresses) peers_[a];
  }

  DiscoveryResult Run() {
    if (platform::StartSocketLayer() != 0) return Failed(DiscoveryFailure::Socket);
    DiscoveryResult result = RunWithLayer();
    socket_.Close();  // on every path, before the layer goes
    platform::CleanupSocketLayer();
    return result;
  }

 private:
  DiscoveryResult Failed(DiscoveryFailure why) {
    DiscoveryResult r;
    r.failure = why;
    return r;
  }

  DiscoveryResult RunWithLayer() {
    socket_ = platform::OpenUdpSocket();
    if (!socket_.valid()) return Failed(DiscoveryFailure::Socket);
    if (range_.broadcast && !platform::SetBroadcast(socket_)) {
      return Failed(DiscoveryFailure::Broadcast);
    }
    if (!platform::Bind(socket_, {localAddress_, kQueryLocalPort})) {
      return Failed(DiscoveryFailure::Bind);
    }
    if (range_.broadcast) {
      infoQueue_.push_back(kLimitedBroadcast);
    } else {
      infoQueue_.assign(range_.addresses.begin(), range_.addresses.end());
    }
    // Bursts with a gap after each, in which replies are read; then the final wait, which
    // a late info reply cuts short so that its record query goes out at once.
    std::int64_t lastSendMs = platform::MonotonicMs();
    for (;;) {
      if (SendBurst()) lastSendMs = platform::MonotonicMs();
      if (Queued()) {
        ReadUntil(platform::MonotonicMs() + pace_.gapMs, false);
      } else if (AllAnswered() || !ReadUntil(lastSendMs + pace_.replyWaitMs, true)) {
        break;
      }
    }
    result_.failure = DiscoveryFailure::None;
    for (const auto& [address, peer] : peers_) {
      if (peer.infoRead) result_.xports.push_back(peer.found);
    }
    return result_;
  }

  // Sends up to one burst, the record queries first; true when anything went out.
  bool SendBurst() {
    int n = 0;
    for (; n < pace_.burst && (!recordQueue_.empty() || !infoQueue_.empty()); ++n) {
      const bool record = !recordQueue_.empty();
      std::deque<std::uint32_t>& queue = record ? recordQueue_ : infoQueue_;
      const std::uint32_t to = queue.front();
      queue.pop_front();
      const std::uint8_t* query = record ? kSetupRequest.data() : kInfoRequest.data();
      ++result_.queriesSent;
      if (platform::SendTo(socket_, query, 4, {to, kConfigPort}) < 0) {
        ++result_.sendsRefused;
      }
    }
    return n > 0;
  }

  bool Queued() const { return !infoQueue_.empty() || !recordQueue_.empty(); }

  // Reads replies until the monotonic time untilMs. With final set, returns early, true,
  // once a reply asks for another query, or false once nothing is left to wait for.
  bool ReadUntil(std::int64_t untilMs, bool final) {
    std::array<std::uint8_t, 1024> buffer;
    for (;;) {
      if (final && Queued()) return true;
      if (final && AllAnswered()) return false;
      const std::int64_t left = untilMs - platform::MonotonicMs();
      if (left <= 0) return false;
      if (platform::WaitReadable(socket_, static_cast<int>(left)) != platform::WaitResult::Ready) {
        continue;  // a time-out ends the loop above; a failed wait is retried until then
      }
      platform::Ipv4Endpoint from;
      bool truncated = false;
      const long n = platform::RecvFrom(socket_, buffer.data(), buffer.size(), &from, &truncated);
      if (n < 0 || truncated || from.port != kConfigPort) continue;
      Take(from.address, {buffer.data(), static_cast<std::size_t>(n)});
    }
  }

  void Take(std::uint32_t sender, std::span<const std::uint8_t> reply) {
    auto it = peers_.find(sender);
    if (it == peers_.end()) {
      // Under a broadcast every sender was asked; in a range only its own addresses.
      if (!range_.broadcast) return;
      it = peers_.emplace(sender, Peer{}).first;
    }
    Peer& peer = it->second;
    if (!peer.infoRead) {
      if (reply.size() < static_cast<std::size_t>(kInfoSize)) return;
      peer.infoRead = true;
      peer.found.address = sender;
      std::copy_n(reply.begin() + 24, 6, peer.found.mac.begin());
      peer.recordAsked = true;
      recordQueue_.push_back(sender);
      return;
    }
    if (peer.found.recordRead || reply.size() < static_cast<std::size_t>(kRecordSize)) {
      return;
    }
    SetupRecordBytes record;
    std::copy_n(reply.begin(), kRecordSize, record.begin());
    peer.found.recordRead = true;
    peer.found.localPort = RecordLocalPort(record);
    peer.found.needsOverride = RecordNeedsOverride(record);
  }

  // Every address of a range answered both queries: nothing is left to wait for.
  bool AllAnswered() const {
    if (range_.broadcast) return false;
    return std::all_of(peers_.begin(), peers_.end(),
                       [](const auto& p) { return p.second.found.recordRead; });
  }

  const DiscoveryRange& range_;
  const DiscoveryPace& pace_;
  std::uint32_t localAddress_;
  platform::Socket socket_;
  std::map<std::uint32_t, Peer> peers_;
  std::deque<std::uint32_t> infoQueue_, recordQueue_;
  DiscoveryResult result_;
};

}  // namespace

RangeError ParseDiscoveryRange(std::string_view text, DiscoveryRange* out) {
  if (text == "broadcast") {
    *out = DiscoveryRange{true, {}};
    return RangeError::None;
  }
  const std::size_t slash = text.find('/');
  const std::optional<std::uint32_t> parsed = device::ParseIpv4(text.substr(0, slash));
  if (!parsed) return RangeError::Unparseable;
  const std::uint32_t address = *parsed;
  text.remove_prefix(slash == std::string_view::npos ? text.size() : slash);
  unsigned prefix = 32;
  if (!text.empty()) {
    if (text.front() != '/') return RangeError::Unparseable;
    text.remove_prefix(1);
    if (!TakeNumber(&text, 32, &prefix) || !text.empty()) return RangeError::Unparseable;
  }
  if (prefix < static_cast<unsigned>(kWidestDiscoveryPrefix)) return RangeError::TooLarge;
  const std::uint32_t hostMask = prefix == 32 ? 0 : (0xFFFFFFFFu >> prefix);
  const std::uint32_t first = address & ~hostMask;
  const std::uint32_t last = first | hostMask;
  if ((first >> 24) == 0 || (first >> 24) >= 224) return RangeError::NotUnicast;
  DiscoveryRange range;
  const bool skipEnds = prefix <= 30;
  for (std::uint64_t a = first + (skipEnds ? 1u : 0u); a <= last - (skipEnds ? 1u : 0u); ++a) {
    range.addresses.push_back(static_cast<std::uint32_t>(a));
  }
  *out = std::move(range);
  return RangeError::None;
}

std::string DefaultDiscoveryRange() {
  const std::vector<platform::Ipv4Network> networks = platform::LocalIpv4Networks();
  return networks.empty() ? std::string() : DiscoveryRangeFor(networks.front());
}

std::string DiscoveryRangeFor(const platform::Ipv4Network& n) {
  // A scan takes at most a /20; a wider network is scanned around this computer's address.
  const int prefix = n.prefixLength < kWidestDiscoveryPrefix ? 24 : std::min(n.prefixLength, 32);
  const std::uint32_t mask = prefix == 0 ? 0 : 0xFFFFFFFFu << (32 - prefix);
  return platform::FormatIpv4(n.address & mask) + "/" + std::to_string(prefix);
}

DiscoveryResult Discover(const DiscoveryRange& range, const DiscoveryPace& pace,
                         std::uint32_t localAddress) {
  return Scan(range, pace, localAddress).Run();
}

}  // namespace xport
