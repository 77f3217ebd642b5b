#include "xport/query_client.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "panel/text_catalog.h"
#include "platform/clock.h"

namespace xport {
namespace {

using panel::Text;
using panel::TextId;

// One byte more than any reply we keep may hold, so an over-long datagram is told apart
// from one that fills the area exactly.
constexpr std::size_t kLargestReply = 1023;

constexpr std::uint8_t kInfoRequest[4] = {0x00, 0x00, 0x00, 0xF6};
constexpr std::uint8_t kSetupRequest[4] = {0x00, 0x00, 0x00, 0xF8};

}  // namespace

QueryClient::QueryClient(panel::DialogHost& owner, SharedBuffers& shared)
    : owner_(owner), shared_(shared) {}

int QueryClient::QueryXPortInfo() {
  return Exchange(Request::Info, nullptr, 0);
}

int QueryClient::QuerySetupRecord() {
  return Exchange(Request::Setup, nullptr, 0);
}

int QueryClient::SendSetupRecord(const std::uint8_t* record, int length) {
  const int n = record == nullptr ? 0 : std::clamp(length, 0, 256);
  return Exchange(Request::Set, record, n);
}

int QueryClient::Exchange(Request request, const std::uint8_t* record, int length) {
  if (!OpenQuerySocket()) return 0;

  if (!BindQuerySocket(kQueryLocalPort, kConfigPort, shared_.AddressText.data())) {
    CloseQuerySocket();
    return 0;
  }

  auto& send = shared_.SendBuffer;
  send.fill(0);
  int n = 4;
  switch (request) {
    case Request::Info:
      std::memcpy(send.data(), kInfoRequest, 4);
      break;
    case Request::Setup:
      std::memcpy(send.data(), kSetupRequest, 4);
      break;
    case Request::Set:
      if (length > 0) std::memcpy(send.data(), record, static_cast<std::size_t>(length));
      n = length;
      break;
  }
  if (!SendQuery(send.data(), n)) {
    CloseQuerySocket();
    return 0;
  }

  auto& reply = shared_.ReceiveBuffer;
  reply.fill(0);
  const int r = ReceiveReply(reply.data());
  CloseQuerySocket();

  switch (request) {
    case Request::Info:
      if (r < kInfoSize) return 0;
      std::copy_n(reply.begin(), kInfoSize, xportInfo_.begin());
      return 1;
    case Request::Setup:
      if (r < kRecordSize) return 0;
      std::copy_n(reply.begin(), kRecordSize, setupRecord_.begin());
      return 1;
    case Request::Set:
      // The buffer holds zeros unless a reply was taken, so a short, empty or missing
      // reply fails this test without a length check of its own.
      return reply[0] == 0x00 && reply[1] == 0x00 && reply[2] == 0x00 && reply[3] == 0xFB ? 1 : 0;
  }
  return 0;
}

bool RecordNeedsOverride(const SetupRecordBytes& record) {
  return (record[32] & 0x0F) == 0x01 || record[33] == 0x80;
}

std::uint16_t RecordLocalPort(const SetupRecordBytes& record) {
  return static_cast<std::uint16_t>(record[24] | (record[25] << 8));
}

bool QueryClient::NeedsOverride() const {
  return RecordNeedsOverride(setupRecord_);
}

void QueryClient::BuildOverrideRecord() {
  BuildRestoreRecord();
  setRecord_[32] = 0xC0;
  setRecord_[33] = 0x00;
}

void QueryClient::BuildRestoreRecord() {
  setRecord_ = setupRecord_;
  setRecord_[0] = 0x00;
  setRecord_[1] = 0x00;
  setRecord_[2] = 0x00;
  setRecord_[3] = 0xFA;
}

std::string QueryClient::FormatMacAddress() const {
  char text[18] = {};
  std::snprintf(text, sizeof text, "%2.2X-%2X-%2X-%2X-%2X-%2X", unsigned{xportInfo_[24]},
                unsigned{xportInfo_[25]}, unsigned{xportInfo_[26]}, unsigned{xportInfo_[27]},
                unsigned{xportInfo_[28]}, unsigned{xportInfo_[29]});
  return text;
}

std::uint16_t QueryClient::LocalPort() const {
  return RecordLocalPort(setupRecord_);
}

bool QueryClient::OpenQuerySocket() {
  if (!port_->Open()) {
    panel::ShowNotice(owner_, Text(TextId::UdpOpenFailed), Text(TextId::CaptionError),
                      panel::NoticeStyle::Plain);
    return false;
  }
  return true;
}

int QueryClient::BindQuerySocket(std::uint16_t localPort, std::uint16_t destinationPort,
                                 const char* addressText) {
  if (!port_->Bind(localPort)) {
    panel::ShowNotice(owner_, Text(TextId::UdpBindFailed), Text(TextId::CaptionError),
                      panel::NoticeStyle::Plain);
    return 0;
  }
  destination_ = platform::Ipv4Endpoint{platform::InetAddr(addressText), destinationPort};
  return 1;
}

int QueryClient::SendQuery(const std::uint8_t* data, int length) {
  if (!port_->SendTo(data, static_cast<std::size_t>(length), destination_)) {
    panel::ShowNotice(owner_, Text(TextId::UdpSendFailed), Text(TextId::CaptionError),
                      panel::NoticeStyle::Plain);
    return 0;
  }
  return 1;
}

int QueryClient::WaitQueryReadable(int ms) {
  return port_->WaitReadable(ms) ? 1 : 0;
}

int QueryClient::ReceiveReply(std::uint8_t* buffer) {
  std::memset(buffer, 0, 1024);
  // Datagrams from anyone but the device are dropped; they do not buy the device more
  // time, so the wait runs against one deadline.
  const std::int64_t deadline = platform::MonotonicMs() + replyWaitMs_;
  std::array<std::uint8_t, kLargestReply> datagram;
  for (;;) {
    const std::int64_t left = std::max<std::int64_t>(deadline - platform::MonotonicMs(), 0);
    if (!WaitQueryReadable(static_cast<int>(left))) return -1;
    platform::Ipv4Endpoint from{};
    bool truncated = false;
    const long r = port_->ReceiveFrom(datagram.data(), datagram.size(), &from, &truncated);
    if (r < 0) return -1;
    if (from.address != destination_.address) {
      if (platform::MonotonicMs() >= deadline) return -1;
      continue;
    }
    if (truncated) return -1;
    std::memcpy(buffer, datagram.data(), static_cast<std::size_t>(r));
    return static_cast<int>(r);
  }
}

void QueryClient::CloseQuerySocket() {
  port_->Close();
}

}  // namespace xport
