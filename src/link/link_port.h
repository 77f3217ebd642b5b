// LinkPort: the socket calls of the DeviceLink, behind one small interface. The link
// decides what every result means (notices, teardown, ConnectedFlag); the port only moves
// bytes. SocketLinkPort, the default, is one TCP socket; a scripted port stands in for it
// where a test or a fuzz target plays the device byte by byte.
//
// Thread notes: only the worker thread of the link's session uses its port.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/socket.h"

namespace device {

enum class ConnectResult {
  Connected,
  Failed,    // refused or failed; LastError() says why
  TimedOut,  // no answer within the bound
  Stopped,   // a stop request ended the wait
};

class LinkPort {
 public:
  virtual ~LinkPort() = default;

  // Starts the sockets layer: 0, or the platform's error code. CleanupLayer undoes one.
  virtual int StartLayer() = 0;
  virtual void CleanupLayer() = 0;
  // Creates the TCP socket (TCP_NODELAY when noDelay), replacing one still held. False
  // when it cannot be created.
  virtual bool Open(bool noDelay) = 0;
  // Binds local (when its address is not 0) and connects to peer, giving up after
  // timeoutMs or once *stop is set.
  virtual ConnectResult Connect(const platform::Ipv4Endpoint& local,
                                const platform::Ipv4Endpoint& peer, int timeoutMs,
                                const std::atomic<bool>* stop) = 0;
  virtual platform::WaitResult WaitReadable(int ms) = 0;
  // One send or receive call: the count, or -1 (Recv: 0 when the peer has closed).
  virtual long Send(const std::uint8_t* data, std::size_t size) = 0;
  virtual long Recv(std::uint8_t* buffer, std::size_t size) = 0;
  // Shuts both directions down (errors ignored); closes. Both safe without a socket.
  virtual void Shutdown() = 0;
  virtual void Close() = 0;
  // The error code of the last failed call.
  virtual int LastError() = 0;
};

class SocketLinkPort final : public LinkPort {
 public:
  int StartLayer() override { return platform::StartSocketLayer(); }
  void CleanupLayer() override { platform::CleanupSocketLayer(); }
  bool Open(bool noDelay) override;
  ConnectResult Connect(const platform::Ipv4Endpoint& local, const platform::Ipv4Endpoint& peer,
                        int timeoutMs, const std::atomic<bool>* stop) override;
  platform::WaitResult WaitReadable(int ms) override { return platform::WaitReadable(socket_, ms); }
  long Send(const std::uint8_t* data, std::size_t size) override {
    return platform::Send(socket_, data, size);
  }
  long Recv(std::uint8_t* buffer, std::size_t size) override {
    return platform::Recv(socket_, buffer, size);
  }
  void Shutdown() override { platform::ShutdownBoth(socket_); }
  void Close() override { socket_.Close(); }
  int LastError() override { return platform::LastSocketError(); }

 private:
  platform::Socket socket_;
};

}  // namespace device
