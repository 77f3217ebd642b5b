#include "link/boot_protocol.h"

#include <algorithm>
#include <cstring>

namespace device {
namespace {

constexpr std::uint8_t kIdentifyRequest[6] = {'@', 'Q', 'U', 'I', 'V', 'O'};
constexpr std::uint8_t kWriteCommand = 'S';
constexpr std::uint8_t kLeaveCommand = 'C';
constexpr std::uint8_t kIdentifyReplyMark = 'M';
constexpr std::uint8_t kEchoEndMark = 'E';
constexpr std::uint8_t kLeaveReply = 'N';
constexpr int kVersionWord = 0x300;

std::uint8_t Low(int v) {
  return static_cast<std::uint8_t>(v & 0xFF);
}
std::uint8_t High(int v) {
  return static_cast<std::uint8_t>((v >> 8) & 0xFF);
}

}  // namespace

BootProtocol::BootProtocol(DeviceLink& link, const image::ImageSet& images,
                           platform::Sleeper& sleeper)
    : link_(link), images_(images), sleeper_(sleeper) {}

int BootProtocol::GatherReply(std::uint8_t* out, int n) {
  if (out == nullptr || n <= 0) return 0;
  std::memset(out, 0, static_cast<std::size_t>(n));
  std::array<std::uint8_t, kReceiveBytes> buffer;
  int gathered = 0;
  while (gathered < n) {
    const int r = link_.ReceiveFromDevice(buffer.data(), static_cast<int>(buffer.size()));
    if (r == 0) break;
    // A failed receive has torn the link down; the next one returns 0 and ends this.
    if (r < 0) continue;
    const int take = std::min(r, n - gathered);
    std::memcpy(out + gathered, buffer.data(), static_cast<std::size_t>(take));
    gathered += take;
  }
  return gathered;
}

int BootProtocol::Identify() {
  identity_.ModelCode = 0;
  link_.SendToDevice(kIdentifyRequest, sizeof kIdentifyRequest);

  std::uint8_t reply[4];
  if (GatherReply(reply, 4) < 4) {
    identity_.ModelCode = kModelNoReply;
    return 0;
  }
  if (reply[0] != kIdentifyReplyMark) {
    identity_.ModelCode = kModelWrongDevice;
    return 0;
  }
  identity_.ModelCode = reply[1] & 0xF0;
  identity_.SubCode = reply[1] & 0x0F;
  if (FindModel(identity_.ModelCode) == nullptr) return 0;
  identity_.ReportedVersion = static_cast<std::uint16_t>(reply[2] | (reply[3] << 8));
  return 1;
}

int BootProtocol::WriteBlock(int wordAddress) {
  // The image ends at word 0x2000; a block must lie wholly inside it.
  if (!images_.HasImages() || wordAddress < 0 ||
      2 * static_cast<std::size_t>(wordAddress) + 8 > image::kImageBytes) {
    return 0;
  }
  const std::uint8_t command[5] = {kWriteCommand, 4, 0, Low(wordAddress), High(wordAddress)};
  DataBlock block;
  std::copy_n(images_.FirmwareImage().begin() + 2 * wordAddress, block.size(), block.begin());
  return ExchangeBlock(command, block);
}

int BootProtocol::ClearVersionBlock() {
  if (!images_.HasImages()) return 0;
  const std::uint8_t command[5] = {kWriteCommand, 4, 0, Low(kVersionWord), High(kVersionWord)};
  // The version word goes out as 0 so that a device whose update stops midway reports
  // version 0; the image keeps its version.
  DataBlock block{};
  std::copy_n(images_.FirmwareImage().begin() + 2 * kVersionWord + 2, 6, block.begin() + 2);
  return ExchangeBlock(command, block);
}

int BootProtocol::ExchangeBlock(const std::uint8_t command[5], const DataBlock& block) {
  link_.SendToDevice(command, 5);
  SendBlockBytes(block);

  EchoReply reply;
  if (!ReadBlockEcho(reply)) return 0;
  return EchoMatches(block, reply) ? 1 : 0;
}

void BootProtocol::StartBulkWrite(int startWord) {
  const int count = kProgramWords - startWord;
  const std::uint8_t command[5] = {kWriteCommand, Low(count), High(count), Low(startWord),
                                   High(startWord)};
  link_.SendToDevice(command, 5);
}

int BootProtocol::LeaveBootMode() {
  link_.SendToDevice(&kLeaveCommand, 1);
  std::uint8_t reply[1];
  if (GatherReply(reply, 1) < 1) return 0;
  return reply[0] == kLeaveReply ? 1 : 0;
}

void BootProtocol::SendBlockBytes(const DataBlock& block) {
  // Every byte is sent even after one failed: the failure shows in its notice and at the
  // echo's wait, never by skipping bytes.
  for (std::size_t i = 0; i < block.size(); ++i) {
    link_.SendToDevice(&block[i], 1);
    if (i == 1 || i == 3 || i == 5) sleeper_.SleepMs(kBlockPauseMs);
  }
}

bool BootProtocol::ReadBlockEcho(EchoReply& reply) {
  return GatherReply(reply.data(), kEchoSize) == kEchoSize;
}

bool BootProtocol::EchoMatches(const DataBlock& block, const EchoReply& reply) {
  for (std::size_t i = 0; i < block.size(); ++i) {
    if (reply[kEchoDataAt[i]] != block[i]) return false;
  }
  return reply[kEchoEndAt] == kEchoEndMark;
}

}  // namespace device
