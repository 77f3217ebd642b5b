#include "link/device_link.h"

#include <algorithm>
#include <cstring>

namespace device {

using panel::TextId;

DeviceLink::DeviceLink(panel::RunObserver& events, const xport::QueryClient& xport)
    : events_(events), xport_(xport) {}

void DeviceLink::Notice(panel::Message message, panel::NoticeStyle style, panel::Caption caption) {
  events_.OnEvent(panel::NoticeRaised{std::move(message), caption, style});
}

void DeviceLink::Failed(LinkFailure why, int code) {
  // The first failure is the one a run reports; the sends and waits after it on the torn
  // down link fail too, but only because of it.
  if (failure_ != LinkFailure::None) return;
  failure_ = why;
  failureCode_ = code;
}

int DeviceLink::ReadAddressInput(const device::Target& target) {
  return target.address ? 1 : 0;
}

int DeviceLink::ReadPortInput(const device::Target& target) {
  const int localPort = xport_.LocalPort();
  const int typed = target.port.value_or(0);
  if (typed == 0) {
    events_.OnEvent(panel::PortReplaced{localPort});
    return localPort;
  }
  if (typed == localPort) return typed;
  // Both ports for the English question; the Japanese one has always named neither.
  const panel::Message question{TextId::PortQuestion,
                                {std::to_string(typed), std::to_string(localPort)}};
  if (events_.OnQuestion({question, panel::Caption::Confirm})) {
    events_.OnEvent(panel::PortReplaced{localPort});
    return localPort;
  }
  return typed;
}

bool DeviceLink::StartSockets() {
  connected_ = false;
  if (layerStarted_) return true;  // an earlier attempt's start-up still stands
  const int error = port_->StartLayer();
  if (error != 0) {
    // The run ends here like any other failure: in a batch, ending the process would
    // take every other device's clean-up with it.
    Failed(LinkFailure::SocketLayer, error);
    Notice({TextId::SocketLayerFailed, {std::to_string(error)}}, panel::NoticeStyle::Error);
    return false;
  }
  layerStarted_ = true;
  return true;
}

int DeviceLink::OpenDeviceLink(const device::Target& target) {
  failure_ = LinkFailure::None;
  failureCode_ = 0;
  if (!ReadAddressInput(target)) {
    Failed(LinkFailure::AddressMissing);
    Notice({TextId::EnterAddress}, panel::NoticeStyle::Plain, panel::Caption::None);
    return 0;
  }
  const int port = ReadPortInput(target);
  portUsed_ = port;
  if (port == 0) {
    Failed(LinkFailure::PortMissing);
    Notice({TextId::EnterPort}, panel::NoticeStyle::Plain, panel::Caption::None);
    return 0;
  }
  if (!StartSockets()) return 0;

  const platform::Ipv4Endpoint peer{*target.address, static_cast<std::uint16_t>(port & 0xFFFF)};
  if (!port_->Open(noDelay_)) {
    Failed(LinkFailure::Socket);
    Notice({TextId::SocketFailed});
    CleanupLayer();
    return 0;
  }
  switch (port_->Connect({localAddress_, 0}, peer, connectWaitMs_, stop_)) {
    case ConnectResult::Connected:
      connected_ = true;
      return 1;
    case ConnectResult::TimedOut:
      Failed(LinkFailure::ConnectTimedOut, port_->LastError());
      break;
    case ConnectResult::Stopped:
    case ConnectResult::Failed:
      Failed(LinkFailure::Connect, port_->LastError());
      break;
  }
  Notice({TextId::ConnectFailed, {std::to_string(failureCode_)}}, panel::NoticeStyle::Warning);
  return 0;
}

int DeviceLink::WaitReadable(int ms) {
  const platform::WaitResult result = port_->WaitReadable(ms);
  if (result == platform::WaitResult::Ready) return 1;
  const bool timedOut = result == platform::WaitResult::Timeout;
  Failed(timedOut ? LinkFailure::TimedOut : LinkFailure::WaitFailed);
  Notice({timedOut ? TextId::TimedOut : TextId::ReceiveFromDeviceFailed});
  port_->Close();
  connected_ = false;
  return 0;
}

int DeviceLink::SendToDevice(const std::uint8_t* bytes, int length) {
  const std::size_t n = bytes == nullptr || length < 0 ? 0 : static_cast<std::size_t>(length);
  if (port_->Send(bytes, n) < 0) {
    const int error = port_->LastError();
    Failed(LinkFailure::Send, error);
    Notice({TextId::SendFailed, {std::to_string(error)}});
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
  Failed(LinkFailure::Receive, error);
  Notice({TextId::ReceiveFailed, {std::to_string(error)}});
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
