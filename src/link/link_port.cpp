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

}  // namespace device
