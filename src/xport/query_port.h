// QueryPort: the socket steps of one exchange with an XPort's configuration port, behind
// one small interface. The QueryClient orders the steps and judges the replies; the port
// only moves datagrams.
//
// SocketQueryPort, the default, opens, binds and closes a socket of its own for every
// exchange. Other ports stand in for it where one socket per exchange does not fit: many
// sessions sharing the one socket bound to local port 10001, or scripted datagrams.
//
// Thread notes: one exchange at a time per port, on the thread of the session that owns it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/socket.h"

namespace xport {

class QueryPort {
 public:
  virtual ~QueryPort() = default;

  // Starts the sockets layer and creates the exchange's socket. On false nothing is held
  // and nothing needs undoing.
  virtual bool Open() = 0;
  // Binds the local endpoint (address 0: every local address). False when refused.
  virtual bool Bind(const platform::Ipv4Endpoint& local) = 0;
  // Sends one datagram. False when refused.
  virtual bool SendTo(const std::uint8_t* data, std::size_t size,
                      const platform::Ipv4Endpoint& to) = 0;
  // True when a datagram can be taken within ms.
  virtual bool WaitReadable(int ms) = 0;
  // Takes one datagram into buffer: its length, or -1 on failure. *from is its sender;
  // *truncated is set when it was longer than size.
  virtual long ReceiveFrom(std::uint8_t* buffer, std::size_t size, platform::Ipv4Endpoint* from,
                           bool* truncated) = 0;
  // Shuts the socket down, closes it and ends this exchange's use of the sockets layer.
  // Safe when Open() failed or was never called.
  virtual void Close() = 0;
};

class SocketQueryPort final : public QueryPort {
 public:
  bool Open() override;
  bool Bind(const platform::Ipv4Endpoint& local) override;
  bool SendTo(const std::uint8_t* data, std::size_t size,
              const platform::Ipv4Endpoint& to) override;
  bool WaitReadable(int ms) override;
  long ReceiveFrom(std::uint8_t* buffer, std::size_t size, platform::Ipv4Endpoint* from,
                   bool* truncated) override;
  void Close() override;

 private:
  platform::Socket socket_;
  bool layerStarted_ = false;
};

}  // namespace xport
