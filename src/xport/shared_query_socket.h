// SharedQuerySocket: one UDP socket bound to local port 10001 for every XPort exchange of
// a batch, however many sessions run side by side.
//
// Each session gets a QueryPort of its own (NewPort) and its QueryClient runs its
// exchanges through it exactly as through a socket of its own: open, bind, send, wait,
// receive, close. What differs is only where the datagrams come from: one receiving
// thread takes every datagram that reaches the socket and hands it to the exchange that
// is waiting for a reply from that sender's address (the address it sent its request
// to). A datagram from any other sender is dropped, as a lone exchange drops it; so is
// one that arrives while no exchange of that address is open (a late reply).
//
// Thread notes: NewPort and the ports' operations may be called from any thread; each port
// belongs to one session's worker. The socket outlives its ports.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "xport/query_port.h"

namespace xport {

class SharedQuerySocket {
 public:
  SharedQuerySocket() = default;
  // Stops the receiving thread and closes the socket. REQUIRES: no port in an exchange.
  ~SharedQuerySocket();
  SharedQuerySocket(const SharedQuerySocket&) = delete;
  SharedQuerySocket& operator=(const SharedQuerySocket&) = delete;

  std::unique_ptr<QueryPort> NewPort();

  // Datagrams that no open exchange was waiting for.
  int Dropped() const;

 private:
  class Port;
  struct Datagram {
    std::vector<std::uint8_t> bytes;
    platform::Ipv4Endpoint from;
    bool truncated = false;
  };
  struct Mailbox {
    std::deque<Datagram> queue;
    std::condition_variable arrived;
  };

  bool EnsureSocket();
  bool EnsureBound(const platform::Ipv4Endpoint& local);
  // Routes replies from address to mailbox; false when another exchange already waits
  // for that sender.
  bool Route(std::uint32_t address, Mailbox* mailbox);
  void Unroute(Mailbox* mailbox);
  bool Send(const std::uint8_t* data, std::size_t size, const platform::Ipv4Endpoint& to);
  void ReceiveLoop();

  mutable std::mutex mu_;
  platform::Socket socket_;
  bool layerStarted_ = false;
  bool bound_ = false;
  platform::Ipv4Endpoint local_{};
  std::map<std::uint32_t, Mailbox*> routes_;
  int dropped_ = 0;
  bool stopping_ = false;
  std::thread receiver_;
};

}  // namespace xport
