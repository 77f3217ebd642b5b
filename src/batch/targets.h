// The devices of a batch as the operator names them: ADDRESS[:PORT] on the command line
// and in a devices file. Checked in full before anything goes on the network, so that bad
// input is refused with a message naming the culprit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "panel/target.h"

namespace batch {

struct NamedTarget {
  device::Target target;
  std::string origin;  // where it was named: "--address" or "FILE:LINE"
};

// Adds one ADDRESS[:PORT] to *targets: the address dotted decimal (device::ParseIpv4) and
// a device's (device::IsDeviceAddress), the port 1..65535. On bad input returns false with
// *error naming it (the origin tells where it came from).
bool AddTarget(const std::string& text, const std::string& origin,
               std::vector<NamedTarget>* targets, std::string* error);

// Reads a devices file's text: one ADDRESS[:PORT] per line; blank lines, white space
// around an entry and '#' comments (whole lines or after an entry) are ignored. Every
// bad line is reported, each in a line of *error.
bool ParseDevicesText(const std::string& text, const std::string& fileName,
                      std::vector<NamedTarget>* targets, std::string* error);

// The same device (address) named twice: false with *error naming both places.
bool CheckDistinct(const std::vector<NamedTarget>& targets, std::string* error);

// Addresses as an operator types them into a window: entries separated by blanks, commas
// or line ends, each ADDRESS[:PORT] or a run of last parts, 192.168.0.20-35[:PORT]
// (at most 256 addresses). Every bad entry is reported, each in a line of *error.
bool ParseAddressList(const std::string& text, const std::string& origin,
                      std::vector<NamedTarget>* targets, std::string* error);

// A devices file's text for targets: one ADDRESS[:PORT] per line.
std::string DevicesText(const std::vector<NamedTarget>& targets);

// The devices of an earlier report (--json) that did not end at the data file's version
// (every result but updated and skipped), with the address and port each was reached on.
// False, with *error naming the file, for a text that is not such a report.
bool TargetsFromReport(const std::string& json, const std::string& fileName,
                       std::vector<NamedTarget>* targets, std::string* error);

}  // namespace batch
