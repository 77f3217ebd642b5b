// Inside the simulator: the XPort's configuration port as a datagram machine, the twin of
// the device's byte machine. It knows nothing of sockets: it takes each datagram that
// reached the configuration port and says what to send back to its sender, keeps the
// setup record that set requests change, and tells whether that record holds the device
// silent. The simulator's thread does the sending.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/device.h"
#include "sim/simulator.h"

namespace sim::detail {

// A reply for the datagram's sender, and what the journal calls it.
struct XPortReply {
  std::vector<std::uint8_t> bytes;
  std::string what;       // e.g. "info 30 bytes", "00 00 00 FB"
  std::string afterward;  // journalled once the reply is out, when not empty
};

class XPort {
 public:
  // address: the simulator's own, in host order (the record's IP address field).
  XPort(const Config& config, Journal& journal, std::uint32_t address);

  // One datagram that reached the configuration port at nowUs (monotonic). truncated: it
  // was longer than the transport's buffer. Returns the reply to send to sender, if any.
  // An accepted set request replaces record bytes 4..123 and starts the restart: every
  // datagram is then ignored until nowUs + settleMs.
  std::optional<XPortReply> Take(std::span<const std::uint8_t> datagram, bool truncated,
                                 const std::string& sender, std::int64_t nowUs);
  // A new run of the simulator: no restart in progress.
  void Restart() { settleUntilUs_ = 0; }

  // Record bytes 24/25.
  void AnnounceLocalPort(std::uint16_t port);
  Record CurrentRecord() const;
  // True while the record shows the condition under which the device answers nothing on
  // TCP (byte 32's low nibble 1, or byte 33 = 0x80), unless enforceOverride is off.
  bool HoldsDeviceSilent() const;

  int Requests() const { return requests_.load(); }
  int SetRequests() const { return setRequests_.load(); }

 private:
  std::optional<XPortReply> Set(std::span<const std::uint8_t> datagram, const std::string& sender,
                                std::int64_t nowUs);

  const Config& config_;
  Journal& journal_;
  mutable std::mutex recordMutex_;
  Record record_;
  std::atomic<int> requests_{0};
  std::atomic<int> setRequests_{0};
  std::int64_t settleUntilUs_ = 0;  // touched by the simulator's thread only
};

}  // namespace sim::detail
