// The devices of a batch as the operator names them: ADDRESS[:PORT] on the command line
// and in a devices file. Checked in full before anything goes on the network, so that bad
// input is refused with a message naming the culprit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fleet {

struct DeviceTarget {
  std::string address;                // dotted decimal, as the address box holds it
  std::optional<std::uint16_t> port;  // the port box; none: the XPort's LocalPort is taken
  std::string origin;                 // where it was named: "--address" or "FILE:LINE"
};

// A dotted-decimal IPv4 address of a device: four decimal parts 0..255 without leading
// zeros (which the address conversion would read as octal), not 0.0.0.0 and not the
// broadcast address 255.255.255.255.
bool IsDeviceAddress(const std::string& text);

// Adds one ADDRESS[:PORT] to *targets. On bad input returns false with *error naming it
// (the origin tells where it came from).
bool AddTarget(const std::string& text, const std::string& origin,
               std::vector<DeviceTarget>* targets, std::string* error);

// Reads a devices file's text: one ADDRESS[:PORT] per line; blank lines, white space
// around an entry and '#' comments (whole lines or after an entry) are ignored. Every
// bad line is reported, each in a line of *error.
bool ParseDevicesText(const std::string& text, const std::string& fileName,
                      std::vector<DeviceTarget>* targets, std::string* error);

// The same device (address) named twice: false with *error naming both places.
bool CheckDistinct(const std::vector<DeviceTarget>& targets, std::string* error);

}  // namespace fleet
