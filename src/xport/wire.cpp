#include "xport/wire.h"

#include <algorithm>
#include <cstdio>

namespace xport {

Mac MacOfInfo(const XPortInfoBytes& info) {
  Mac mac;
  std::copy_n(info.begin() + 24, mac.size(), mac.begin());
  return mac;
}

std::string FormatMac(const Mac& mac) {
  char text[24];
  std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

bool RecordNeedsOverride(const SetupRecordBytes& record) {
  return (record[32] & 0x0F) == 0x01 || record[33] == 0x80;
}

std::uint16_t RecordLocalPort(const SetupRecordBytes& record) {
  return static_cast<std::uint16_t>(record[24] | (record[25] << 8));
}

SetupRecordBytes RestoreRecordOf(const SetupRecordBytes& record) {
  SetupRecordBytes set = record;
  std::copy(kSetHeader.begin(), kSetHeader.end(), set.begin());
  return set;
}

SetupRecordBytes OverrideRecordOf(const SetupRecordBytes& record) {
  SetupRecordBytes set = RestoreRecordOf(record);
  set[32] = 0xC0;
  set[33] = 0x00;
  return set;
}

}  // namespace xport
