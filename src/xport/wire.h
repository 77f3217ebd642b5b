// The XPort's configuration port as it is spoken on the wire: the requests, the sizes of
// the replies, and the rules over a setup record's bytes. The query client and discovery
// both speak it from here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace xport {

inline constexpr std::uint16_t kQueryLocalPort = 10001;
inline constexpr std::uint16_t kConfigPort = 30718;
inline constexpr int kReplyWaitMs = 5000;
inline constexpr int kRecordSize = 124;
inline constexpr int kInfoSize = 30;
// The longest datagram a reply may be: one more is no reply at all.
inline constexpr std::size_t kLargestReply = 1023;

using SetupRecordBytes = std::array<std::uint8_t, kRecordSize>;
using XPortInfoBytes = std::array<std::uint8_t, kInfoSize>;
using Mac = std::array<std::uint8_t, 6>;

inline constexpr std::array<std::uint8_t, 4> kInfoRequest = {0x00, 0x00, 0x00, 0xF6};
inline constexpr std::array<std::uint8_t, 4> kSetupRequest = {0x00, 0x00, 0x00, 0xF8};
inline constexpr std::array<std::uint8_t, 4> kSetHeader = {0x00, 0x00, 0x00, 0xFA};
inline constexpr std::array<std::uint8_t, 4> kSetReply = {0x00, 0x00, 0x00, 0xFB};

// The MAC address of an info reply: bytes 24..29.
Mac MacOfInfo(const XPortInfoBytes& info);
// "00-20-4A-0B-4C-0E": every byte two upper-case digits.
std::string FormatMac(const Mac& mac);

// True when byte 32's low nibble is 1, or byte 33 is 0x80: the settings with which an
// update cannot go on.
bool RecordNeedsOverride(const SetupRecordBytes& record);
// LocalPort: bytes 24 (low) and 25 (high).
std::uint16_t RecordLocalPort(const SetupRecordBytes& record);
// The record with the set header: as received (the restore), or with bytes 32 and 33
// changed to C0 and 00 (the override).
SetupRecordBytes RestoreRecordOf(const SetupRecordBytes& record);
SetupRecordBytes OverrideRecordOf(const SetupRecordBytes& record);

}  // namespace xport
