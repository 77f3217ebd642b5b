#include "link/link_port.h"

namespace device {

bool SocketLinkPort::Open(bool noDelay) {
  socket_ = platform::OpenTcpSocket();
  if (!socket_.valid()) return false;
  // A data block goes out one byte per send; without this, each second byte would wait
  // for the device's acknowledgement of the first.
  if (noDelay) platform::SetNoDelay(socket_);
  return true;
}

ConnectResult SocketLinkPort::Connect(const platform::Ipv4Endpoint& local,
                                     const platform::Ipv4Endpoint& peer, int timeoutMs,
                                     const std::atomic<bool>* stop) {
  if (local.address != 0 && !platform::Bind(socket_, local)) return ConnectResult::Failed;
  switch (platform::ConnectWithin(socket_, peer, timeoutMs, stop)) {
    case platform::ConnectResult::Connected:
      return ConnectResult::Connected;
    case platform::ConnectResult::TimedOut:
      return ConnectResult::TimedOut;
    case platform::ConnectResult::Stopped:
      return ConnectResult::Stopped;
    case platform::ConnectResult::Refused:
      break;
  }
  return ConnectResult::Failed;
}

}  // namespace device
