// Discovery: which XPorts answer on a network, read-only. It sends the info query to every
// address of a range (or once to the limited broadcast address), the setup-record query to
// each XPort that answered, and reports MAC, the device's TCP port (the record's LocalPort)
// and whether an update would have to change the XPort's settings. It never sends a set
// request and never opens TCP.
//
// Everything goes out from local UDP port 10001 through one socket, paced: at most
// DiscoveryPace::burst datagrams back to back, then a gap of gapMs in which replies are
// read (with the defaults, 500 datagrams a second: a /24 in about 0.5 s, a /20 in about
// 8.2 s). The scan ends replyWaitMs after its last query, or as soon as every address of
// a range has answered both queries. A reply counts only from port 30718 of an address that
// was asked; an info reply needs 30 bytes and a record reply 124, as in an update.
//
// Thread notes: Discover blocks its caller for the whole scan and shares nothing.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/socket.h"
#include "xport/wire.h"

namespace xport {

// The widest range a scan accepts: /20, 4,096 addresses.
inline constexpr int kWidestDiscoveryPrefix = 20;

struct DiscoveryRange {
  bool broadcast = false;                // the limited broadcast, 255.255.255.255
  std::vector<std::uint32_t> addresses;  // host order, ascending; empty for broadcast
};

enum class RangeError {
  None,
  Unparseable,  // neither "broadcast" nor a.b.c.d[/n]
  TooLarge,     // a prefix shorter than /20
  NotUnicast,   // 0.0.0.0/8, or multicast and reserved (224.0.0.0 and up)
};

// "broadcast", or an IPv4 CIDR "a.b.c.d/n" with n from 20 to 32 (a bare address is /32);
// the address strictly dotted decimal (device::ParseIpv4).
// Host bits below the prefix are ignored. For a prefix up to /30 the network and broadcast
// addresses are left out, as no device holds them. *out is written only on RangeError::None.
RangeError ParseDiscoveryRange(std::string_view text, DiscoveryRange* out);

struct DiscoveredXPort {
  std::uint32_t address = 0;  // host order
  Mac mac{};
  bool recordRead = false;      // the setup-record query was answered
  std::uint16_t localPort = 0;  // LocalPort, when recordRead
  bool needsOverride = false;   // the update must change the settings, when recordRead
};

struct DiscoveryPace {
  int burst = 5;
  int gapMs = 10;
  int replyWaitMs = 2000;
};

enum class DiscoveryFailure {
  None,
  Socket,     // no UDP socket
  Broadcast,  // the socket may not broadcast
  Bind,       // local port 10001 is taken
};

struct DiscoveryResult {
  DiscoveryFailure failure = DiscoveryFailure::None;  // nothing was sent unless None
  int queriesSent = 0;
  int sendsRefused = 0;                 // datagrams the network layer would not send
  std::vector<DiscoveredXPort> xports;  // in address order
};

// The range a scan starts from: the first IPv4 network of this computer's own interfaces
// (loopback left out), as "a.b.c.d/n"; a network wider than the widest scan is narrowed
// to the /24 that holds the computer's address. Empty when there is none.
std::string DefaultDiscoveryRange();
// The same for one network of this computer: "10.1.2.0/24".
std::string DiscoveryRangeFor(const platform::Ipv4Network& network);

// localAddress: the local address the scan's socket binds (0: every one).
DiscoveryResult Discover(const DiscoveryRange& range, const DiscoveryPace& pace = {},
                         std::uint32_t localAddress = 0);

}  // namespace xport
