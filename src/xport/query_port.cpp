#include "xport/query_port.h"

namespace xport {

bool SocketQueryPort::Open() {
  if (platform::StartSocketLayer() != 0) return false;
  socket_ = platform::OpenUdpSocket();
  if (!socket_.valid()) {
    platform::CleanupSocketLayer();
    return false;
  }
  layerStarted_ = true;
  return true;
}

bool SocketQueryPort::Bind(const platform::Ipv4Endpoint& local) {
  return platform::Bind(socket_, local);
}

bool SocketQueryPort::SendTo(const std::uint8_t* data, std::size_t size,
                             const platform::Ipv4Endpoint& to) {
  return platform::SendTo(socket_, data, size, to) >= 0;
}

bool SocketQueryPort::WaitReadable(int ms) {
  return platform::WaitReadable(socket_, ms) == platform::WaitResult::Ready;
}

long SocketQueryPort::ReceiveFrom(std::uint8_t* buffer, std::size_t size,
                                  platform::Ipv4Endpoint* from, bool* truncated) {
  return platform::RecvFrom(socket_, buffer, size, from, truncated);
}

void SocketQueryPort::Close() {
  if (socket_.valid()) {
    platform::ShutdownBoth(socket_);
    socket_.Close();
  }
  if (layerStarted_) platform::CleanupSocketLayer();
  layerStarted_ = false;
}

}  // namespace xport
