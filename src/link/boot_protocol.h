// The boot-mode command protocol spoken over the DeviceLink: identify, write blocks of
// four words with their echo, leave. Replies are gathered across any fragmentation.
// Each exchange owns its bytes. Only the session's thread uses a BootProtocol.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "image/image_set.h"
#include "link/device_link.h"
#include "panel/device_identity.h"
#include "platform/clock.h"

namespace device {

inline constexpr int kBlockPauseMs = 1;
inline constexpr int kProgramWords = 8192;

// An echo reply's length on the wire.
inline constexpr int kEchoSize = 18;
// The most one receive takes from the link.
inline constexpr std::size_t kReceiveBytes = 1024;

using DataBlock = std::array<std::uint8_t, 8>;
using EchoReply = std::array<std::uint8_t, kEchoSize>;

// Where an echo reply carries the data block's bytes: block byte i comes back at reply
// byte kEchoDataAt[i]. The other bytes, but byte 16 ('E'), are not examined.
inline constexpr std::array<std::size_t, 8> kEchoDataAt = {2, 3, 6, 7, 10, 11, 14, 15};
inline constexpr std::size_t kEchoEndAt = 16;

class BootProtocol {
 public:
  BootProtocol(DeviceLink& link, const image::ImageSet& images, platform::Sleeper& sleeper);

  // Sends "@QUIVO" and gathers the 4-byte reply. 1 for a listed model (0x60, 0x80,
  // 0xA0); 0 otherwise, with ModelCode 0xF0 (not the device), 0xFF (no complete reply)
  // or the unlisted model value.
  int Identify();
  // 'S' 04 00 a, then the image's words a..a+3 as one data block. 1 when the echo matched.
  int WriteBlock(int wordAddress);
  // As WriteBlock(0x300) but with the version word sent as 0x0000.
  int ClearVersionBlock();
  // 'S' with count 8192 - s and first word s; no reply is awaited.
  void StartBulkWrite(int startWord);
  // 'C'; 1 when the reply's first byte is 'N'.
  int LeaveBootMode();

  // Eight one-byte sends with a 1 ms pause after the 2nd, 4th and 6th.
  void SendBlockBytes(const DataBlock& block);
  // Gathers 18 bytes into reply; true when all 18 arrived.
  bool ReadBlockEcho(EchoReply& reply);
  // Reply bytes 2,3 / 6,7 / 10,11 / 14,15 equal the block's bytes and byte 16 is 'E'.
  static bool EchoMatches(const DataBlock& block, const EchoReply& reply);

  const DeviceIdentity& Identity() const { return identity_; }

  // Gathers up to n bytes of one reply into out from as many receives as it takes; stops
  // when n are gathered or a receive returns 0. Returns the count gathered.
  int GatherReply(std::uint8_t* out, int n);

 private:
  int ExchangeBlock(const std::uint8_t command[5], const DataBlock& block);

  DeviceLink& link_;
  const image::ImageSet& images_;
  platform::Sleeper& sleeper_;
  DeviceIdentity identity_;
};

}  // namespace device
