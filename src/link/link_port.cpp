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
  (void)timeoutMs;
  (void)stop;
  return platform::Connect(socket_, peer) ? ConnectResult::Connected : ConnectResult::Failed;
}

}  // namespace device
