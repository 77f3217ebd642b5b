#include "link/device_link.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "panel/text_catalog.h"

namespace device {
namespace {

using panel::Text;
using panel::TextId;

// Texts with the error code filled in, "%d" being a signed decimal.
std::string WithCode(TextId format, int code) {
  char text[160];
  std::snprintf(text, sizeof text, Text(format), code);
  return text;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int ParsePortText(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate toward the sign's side so that INT_MIN is reachable, stopping at the bound.
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    value = value * 10 + (negative ? -digit : digit);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
  }
  return static_cast<int>(value);
}

DeviceLink::DeviceLink(panel::DialogHost& owner, xport::SharedBuffers& shared,
                       const xport::QueryClient& xport)
    : owner_(owner), shared_(shared), xport_(xport) {}

int DeviceLink::ReadAddressInput() {
  auto& address = shared_.AddressText;
  address.fill('\0');
  const std::string text = owner_.GetControlText(panel::IDC_ADDRESS, kAddressMaxChars);
  // The box counts characters; the buffer holds 15 bytes and its terminating zero.
  std::memcpy(address.data(), text.data(), std::min(text.size(), kAddressMaxChars));
  return address[0] != '\0' ? 1 : 0;
}

int DeviceLink::ReadPortInput() {
  const int localPort = xport_.LocalPort();
  const int typed = ParsePortText(owner_.GetControlText(panel::IDC_PORT, kPortMaxChars));
  if (typed == 0) {
    owner_.SetControlText(panel::IDC_PORT, std::to_string(localPort));
    return localPort;
  }
  if (typed == localPort) return typed;
  if (panel::AskYesNo(owner_, Text(TextId::PortQuestion), Text(TextId::CaptionConfirm))) {
    owner_.SetControlText(panel::IDC_PORT, std::to_string(localPort));
    return localPort;
  }
  return typed;
}

void DeviceLink::StartSockets() {
  connected_ = false;
  if (layerStarted_) return;  // an earlier attempt's start-up still stands
  const int error = port_->StartLayer();
  if (error != 0) {
    panel::ShowNotice(owner_, WithCode(TextId::SocketLayerFailed, error),
                      Text(TextId::CaptionError), panel::NoticeStyle::Error);
    std::exit(-1);
  }
  layerStarted_ = true;
}

int DeviceLink::OpenDeviceLink() {
  if (!ReadAddressInput()) {
    panel::ShowNotice(owner_, Text(TextId::EnterAddress), "", panel::NoticeStyle::Plain);
    return 0;
  }
  const int port = ReadPortInput();
  if (port == 0) {
    panel::ShowNotice(owner_, Text(TextId::EnterPort), "", panel::NoticeStyle::Plain);
    return 0;
  }
  StartSockets();

  const platform::Ipv4Endpoint peer{platform::InetAddr(shared_.AddressText.data()),
                                    static_cast<std::uint16_t>(port & 0xFFFF)};
  if (!port_->Open(noDelay_)) {
    panel::ShowNotice(owner_, Text(TextId::SocketFailed), Text(TextId::CaptionError),
                      panel::NoticeStyle::Plain);
    CleanupLayer();
    return 0;
  }
  if (!port_->Connect(peer)) {
    const int error = port_->LastError();
    panel::ShowNotice(owner_, WithCode(TextId::ConnectFailed, error), Text(TextId::CaptionError),
                      panel::NoticeStyle::Warning);
    return 0;
  }
  connected_ = true;
  return 1;
}

int DeviceLink::WaitReadable(int ms) {
  const platform::WaitResult result = port_->WaitReadable(ms);
  if (result == platform::WaitResult::Ready) return 1;
  panel::ShowNotice(owner_,
                    Text(result == platform::WaitResult::Timeout ? TextId::TimedOut
                                                                 : TextId::ReceiveFromDeviceFailed),
                    Text(TextId::CaptionError), panel::NoticeStyle::Plain);
  port_->Close();
  connected_ = false;
  return 0;
}

int DeviceLink::SendToDevice(const std::uint8_t* bytes, int length) {
  const std::size_t n = bytes == nullptr || length < 0 ? 0 : static_cast<std::size_t>(length);
  if (port_->Send(bytes, n) < 0) {
    const int error = port_->LastError();
    panel::ShowNotice(owner_, WithCode(TextId::SendFailed, error), Text(TextId::CaptionError),
                      panel::NoticeStyle::Plain);
    port_->Close();
    CleanupLayer();
    connected_ = false;
  }
  return 0;
}

int DeviceLink::ReceiveFromDevice(std::uint8_t* buffer, int size) {
  const std::size_t n = buffer == nullptr || size < 0 ? 0 : static_cast<std::size_t>(size);
  if (n > 0) std::memset(buffer, 0, n);
  if (WaitReadable(receiveWaitMs_) != 1) return 0;
  const long r = port_->Recv(buffer, n);
  if (r >= 0) return static_cast<int>(r);
  const int error = port_->LastError();
  panel::ShowNotice(owner_, WithCode(TextId::ReceiveFailed, error), Text(TextId::CaptionError),
                    panel::NoticeStyle::Plain);
  port_->Close();
  CleanupLayer();
  connected_ = false;
  return -1;
}

void DeviceLink::CloseDeviceLink() {
  port_->Shutdown();
  port_->Close();
  CleanupLayer();
  connected_ = false;
}

void DeviceLink::CleanupLayer() {
  // The link undoes only the start-up it made, however many teardowns follow.
  if (!layerStarted_) return;
  layerStarted_ = false;
  port_->CleanupLayer();
}

}  // namespace device
