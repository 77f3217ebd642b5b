// What the identify exchange learns of a device. It sits here, below the link that fills
// it and the panel that shows it, so that neither has to include the other.
#pragma once

#include <cstdint>

namespace device {

inline constexpr int kModelKT21 = 0x60;
inline constexpr int kModelKT40D = 0x80;
inline constexpr int kModelKT52W = 0xA0;
inline constexpr int kModelWrongDevice = 0xF0;
inline constexpr int kModelNoReply = 0xFF;

struct DeviceIdentity {
  int ModelCode = 0;
  int SubCode = 0;
  std::uint16_t ReportedVersion = 0;
};

}  // namespace device
