#include "xport/query_client.h"

#include <algorithm>
#include <cstring>

#include "platform/clock.h"

namespace xport {

QueryClient::QueryClient(panel::RunObserver& events) : events_(events) {}

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

void QueryClient::Notice(panel::TextId text) {
  events_.OnEvent(panel::NoticeRaised{{text}, panel::Caption::Error, panel::NoticeStyle::Plain});
}

int QueryClient::Exchange(Request request, const std::uint8_t* record, int length) {
  lastFailure_ = ExchangeFailure::None;
  if (!OpenQuerySocket()) return 0;
  if (!BindQuerySocket(kQueryLocalPort, kConfigPort)) {
    CloseQuerySocket();
    return 0;
  }

  std::array<std::uint8_t, 256> send{};
  int n = 4;
  switch (request) {
    case Request::Info:
      std::copy(kInfoRequest.begin(), kInfoRequest.end(), send.begin());
      break;
    case Request::Setup:
      std::copy(kSetupRequest.begin(), kSetupRequest.end(), send.begin());
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

  std::array<std::uint8_t, 1024> reply{};
  const int r = ReceiveReply(reply);
  CloseQuerySocket();

  bool accepted = false;
  switch (request) {
    case Request::Info:
      accepted = r >= kInfoSize;
      if (accepted) std::copy_n(reply.begin(), kInfoSize, xportInfo_.begin());
      break;
    case Request::Setup:
      accepted = r >= kRecordSize;
      if (accepted) std::copy_n(reply.begin(), kRecordSize, setupRecord_.begin());
      break;
    case Request::Set:
      // The buffer holds zeros unless a reply was taken, so a short, empty or missing
      // reply fails this test without a length check of its own.
      accepted = std::equal(kSetReply.begin(), kSetReply.end(), reply.begin());
      break;
  }
  if (!accepted) lastFailure_ = ExchangeFailure::NoReply;
  return accepted ? 1 : 0;
}

bool QueryClient::NeedsOverride() const {
  return RecordNeedsOverride(setupRecord_);
}

void QueryClient::BuildOverrideRecord() {
  setRecord_ = OverrideRecordOf(setupRecord_);
}

void QueryClient::BuildRestoreRecord() {
  setRecord_ = RestoreRecordOf(setupRecord_);
}

std::string QueryClient::FormatMacAddress() const {
  return FormatMac(MacOfInfo(xportInfo_));
}

std::uint16_t QueryClient::LocalPort() const {
  return RecordLocalPort(setupRecord_);
}

bool QueryClient::OpenQuerySocket() {
  if (!port_->Open()) {
    lastFailure_ = ExchangeFailure::Open;
    Notice(panel::TextId::UdpOpenFailed);
    return false;
  }
  return true;
}

int QueryClient::BindQuerySocket(std::uint16_t localPort, std::uint16_t destinationPort) {
  if (!port_->Bind(platform::Ipv4Endpoint{localAddress_, localPort})) {
    lastFailure_ = ExchangeFailure::Bind;
    Notice(panel::TextId::UdpBindFailed);
    return 0;
  }
  destination_ = platform::Ipv4Endpoint{address_, destinationPort};
  return 1;
}

int QueryClient::SendQuery(const std::uint8_t* data, int length) {
  if (!port_->SendTo(data, static_cast<std::size_t>(length), destination_)) {
    lastFailure_ = ExchangeFailure::Send;
    Notice(panel::TextId::UdpSendFailed);
    return 0;
  }
  return 1;
}

int QueryClient::WaitQueryReadable(int ms) {
  return port_->WaitReadable(ms) ? 1 : 0;
}

int QueryClient::ReceiveReply(std::array<std::uint8_t, 1024>& buffer) {
  buffer.fill(0);
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
    std::memcpy(buffer.data(), datagram.data(), static_cast<std::size_t>(r));
    return static_cast<int>(r);
  }
}

void QueryClient::CloseQuerySocket() {
  port_->Close();
}

}  // namespace xport
