// The device a run is for, as a value: parsed once where the operator named it (a command
// line, a devices file, the dialog's boxes) and carried down to the sockets as numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace device {

// Dotted decimal, strictly: four decimal parts 0..255, no leading zeros (which the C
// library's conversion would read as octal), nothing before, between or after them.
std::optional<std::uint32_t> ParseIpv4(std::string_view text);

// An address a device can hold: not 0.0.0.0/8 and not the limited broadcast.
bool IsDeviceAddress(std::uint32_t address);

struct Target {
  // None: the operator named no address (the run says so and ends).
  std::optional<std::uint32_t> address;
  // The port the operator gave, as typed (the dialog's box reads like atoi, so it may lie
  // outside 1..65535; its low 16 bits are used). None: the XPort's LocalPort is taken
  // without a question.
  std::optional<int> port;
  bool operator==(const Target&) const = default;
};

// "192.168.0.20", or "" for a target without an address.
std::string AddressText(const Target& target);

}  // namespace device
