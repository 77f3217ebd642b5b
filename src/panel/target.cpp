#include "panel/target.h"

#include "platform/socket.h"

namespace device {

std::optional<std::uint32_t> ParseIpv4(std::string_view text) {
  std::uint32_t value = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (text.empty() || text.front() != '.') return std::nullopt;
      text.remove_prefix(1);
    }
    std::size_t n = 0;
    unsigned number = 0;
    while (n < text.size() && n < 4 && text[n] >= '0' && text[n] <= '9') {
      number = number * 10 + static_cast<unsigned>(text[n] - '0');
      ++n;
    }
    if (n == 0 || n > 3 || number > 255 || (n > 1 && text[0] == '0')) return std::nullopt;
    value = value << 8 | number;
    text.remove_prefix(n);
  }
  if (!text.empty()) return std::nullopt;
  return value;
}

bool IsDeviceAddress(std::uint32_t address) {
  return (address >> 24) != 0 && address != 0xFFFFFFFFu;
}

std::string AddressText(const Target& target) {
  return target.address ? platform::FormatIpv4(*target.address) : std::string();
}

}  // namespace device
