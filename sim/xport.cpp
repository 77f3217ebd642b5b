#include "sim/xport.h"

#include <algorithm>
#include <array>

namespace sim::detail {
namespace {

constexpr std::size_t kInfoSize = 30;
constexpr std::uint8_t kInfoQuery = 0xF6, kInfoReply = 0xF7;
constexpr std::uint8_t kGetRecord = 0xF8, kRecordReply = 0xF9;
constexpr std::uint8_t kSetRecord = 0xFA, kSetAccepted = 0xFB;

bool RecordNeedsOverride(const Record& r) {
  return (r[32] & 0x0F) == 0x01 || r[33] == 0x80;
}

bool IsRequest(std::span<const std::uint8_t> d, std::uint8_t code) {
  return d.size() >= 4 && d[0] == 0 && d[1] == 0 && d[2] == 0 && d[3] == code;
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

std::vector<std::uint8_t> InfoReply(const Config& config) {
  std::vector<std::uint8_t> info(kInfoSize, 0);
  info[3] = kInfoReply;
  info[4] = 'X';  // module type
  info[5] = '5';
  info[8] = 0x06;  // firmware 6.7
  info[9] = 0x07;
  info[12] = 0x01;  // serial channels
  std::copy(config.mac.begin(), config.mac.end(), info.begin() + 24);
  return info;
}

}  // namespace

XPort::XPort(const Config& config, Journal& journal, std::uint32_t address)
    : config_(config), journal_(journal), record_(InitialRecord(config, address)) {}

void XPort::AnnounceLocalPort(std::uint16_t port) {
  std::lock_guard lock(recordMutex_);
  record_[24] = static_cast<std::uint8_t>(port & 0xFF);
  record_[25] = static_cast<std::uint8_t>(port >> 8);
}

Record XPort::CurrentRecord() const {
  std::lock_guard lock(recordMutex_);
  return record_;
}

bool XPort::HoldsDeviceSilent() const {
  return config_.enforceOverride && RecordNeedsOverride(CurrentRecord());
}

std::optional<XPortReply> XPort::Take(std::span<const std::uint8_t> datagram, bool truncated,
                                      const std::string& sender, std::int64_t nowUs) {
  const std::string head = HexBytes(datagram.first(std::min<std::size_t>(datagram.size(), 4)));
  ++requests_;
  if (nowUs < settleUntilUs_) {
    journal_.Add("udp rx " + head + " from " + sender + " ignored: restarting");
    return std::nullopt;
  }
  if (truncated) {
    journal_.Add("udp rx over-long datagram from " + sender + " ignored");
    return std::nullopt;
  }
  const XPortFault fault = config_.faults.xport;
  if (IsRequest(datagram, kInfoQuery)) {
    journal_.Add("udp rx info query " + head + " from " + sender);
    if (fault == XPortFault::Silent) {
      journal_.Add("fault xport silent: not answered");
      return std::nullopt;
    }
    std::vector<std::uint8_t> info = InfoReply(config_);
    if (fault == XPortFault::ShortInfo) info.pop_back();
    std::string what = "info " + std::to_string(info.size()) + " bytes";
    return XPortReply{std::move(info), std::move(what), {}};
  }
  if (IsRequest(datagram, kGetRecord)) {
    journal_.Add("udp rx get record " + head + " from " + sender);
    if (fault == XPortFault::Silent || fault == XPortFault::SilentRecord) {
      journal_.Add("fault xport silent: not answered");
      return std::nullopt;
    }
    const Record r = CurrentRecord();
    std::vector<std::uint8_t> bytes(r.begin(), r.end());
    if (fault == XPortFault::ShortRecord) bytes.pop_back();
    std::string what = "record " + std::to_string(bytes.size()) + " bytes";
    return XPortReply{std::move(bytes), std::move(what), {}};
  }
  if (IsRequest(datagram, kSetRecord)) return Set(datagram, sender, nowUs);
  const std::size_t len = datagram.size();
  journal_.Add("udp rx unknown request " + HexBytes(datagram.first(std::min<std::size_t>(len, 8))) +
               (len > 8 ? " ..." : "") + " (" + std::to_string(len) + " bytes) from " + sender +
               " ignored");
  return std::nullopt;
}

std::optional<XPortReply> XPort::Set(std::span<const std::uint8_t> datagram,
                                     const std::string& sender, std::int64_t nowUs) {
  if (datagram.size() < Record().size()) {
    journal_.Add("udp rx set record of " + std::to_string(datagram.size()) + " bytes from " +
                 sender + " ignored: a record has 124");
    return std::nullopt;
  }
  const int nth = ++setRequests_;
  journal_.Add("udp rx set record #" + std::to_string(nth) + " from " + sender + ", bytes 32/33 " +
               HexBytes(datagram.subspan(32, 2)));
  if (config_.faults.xport == XPortFault::Silent) {
    journal_.Add("fault xport silent: not answered");
    return std::nullopt;
  }
  if (config_.faults.ignoreSet == nth) {
    journal_.Add("fault ignore-set " + std::to_string(nth) + ": not answered, record unchanged");
    return std::nullopt;
  }
  if (config_.faults.refuseSet == nth ||
      (config_.faults.refuseSetsFrom > 0 && nth >= config_.faults.refuseSetsFrom)) {
    journal_.Add("fault refuse-set " + std::to_string(nth) + ": record unchanged");
    return XPortReply{{0, 0, 0, kSetRecord}, "00 00 00 FA", {}};
  }
  {
    std::lock_guard lock(recordMutex_);
    std::copy(datagram.begin() + 4, datagram.begin() + static_cast<std::ptrdiff_t>(record_.size()),
              record_.begin() + 4);
  }
  settleUntilUs_ = nowUs + std::int64_t{config_.settleMs} * 1000;
  if (config_.faults.dropSetReply == nth) {
    journal_.Add("fault drop-set-reply " + std::to_string(nth) + ": record changed, not answered");
    return std::nullopt;
  }
  return XPortReply{{0, 0, 0, kSetAccepted},
                    "00 00 00 FB",
                    "xport restarting for " + std::to_string(config_.settleMs) + " ms"};
}

}  // namespace sim::detail
