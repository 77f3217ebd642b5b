// The state that the XPort client, the device link and the update share within one
// session: the request and reply buffers every exchange uses in turn, and the device
// address text that both the UDP queries and the TCP link go to. Nothing in the buffers
// survives an exchange.
#pragma once

#include <array>
#include <cstdint>

namespace xport {

struct SharedBuffers {
  std::array<std::uint8_t, 256> SendBuffer{};
  std::array<std::uint8_t, 1024> ReceiveBuffer{};
  // The device's IPv4 address as typed: up to 15 characters and a terminating zero.
  std::array<char, 16> AddressText{};
};

}  // namespace xport
