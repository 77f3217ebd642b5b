// Loopback peers that stand in for the device (TCP) and the XPort (UDP) and answer from a
// script, so that a test controls every byte, fragment, pause and close. Each runs on its
// own thread from Start() until its script is done (TCP: and the client has closed) or it is
// destroyed; its waits poll a stop flag, so destruction never hangs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

class ScriptedTcpPeer {
 public:
  explicit ScriptedTcpPeer(const std::string& address = "127.0.0.1");  // ephemeral port
  ~ScriptedTcpPeer();
  ScriptedTcpPeer(const ScriptedTcpPeer&) = delete;
  ScriptedTcpPeer& operator=(const ScriptedTcpPeer&) = delete;

  std::uint16_t Port() const { return port_; }

  // The script, built before Start(); after it the peer records what comes until the
  // client closes.
  ScriptedTcpPeer& Read(std::size_t n) { return Add(Step::Read, n); }  // exactly n bytes
  ScriptedTcpPeer& Send(const Bytes& bytes) { return Add(Step::Send, 0, bytes); }
  ScriptedTcpPeer& Pause(int ms) { return Add(Step::Pause, static_cast<std::size_t>(ms)); }
  ScriptedTcpPeer& Close() { return Add(Step::Close); }
  // A close with the client's bytes unread: the stack answers them with a reset.
  ScriptedTcpPeer& Reset() { return Close(); }
  ScriptedTcpPeer& AwaitCue() { return Add(Step::Cue); }    // until the test calls Cue()
  ScriptedTcpPeer& AwaitData() { return Add(Step::Data); }  // until bytes arrive, unread
  // Takes a 5-byte write command, then for each of blocks data blocks takes 8 bytes and
  // answers the 18-byte echo that accepts them, in one send.
  ScriptedTcpPeer& EchoBlocks(int blocks) {
    return Add(Step::Echo, static_cast<std::size_t>(blocks));
  }
  // Sends pattern over and over, as fast as the client takes it, until the connection
  // fails or the peer is destroyed; the script ends there.
  ScriptedTcpPeer& Flood(const Bytes& pattern) { return Add(Step::Flood, 0, pattern); }

  void Start() {
    thread_ = std::thread([this] { Run(); });
  }
  void Cue();
  void WaitScriptDone();  // every step has run (not the reading that follows)
  void Join() {           // then Received() is complete
    if (thread_.joinable()) thread_.join();
  }
  Bytes Received() const;
  std::uint64_t Flooded() const { return flooded_.load(); }  // bytes a Flood step has sent

 private:
  struct Step {
    enum Kind { Read, Send, Pause, Close, Cue, Data, Echo, Flood } kind;
    std::size_t count = 0;
    Bytes bytes;
  };
  ScriptedTcpPeer& Add(Step::Kind kind, std::size_t count = 0, const Bytes& bytes = {}) {
    script_.push_back({kind, count, bytes});
    return *this;
  }
  void Run();
  bool ReadExactly(platform::Socket& s, std::size_t n, std::uint8_t* out = nullptr);

  platform::Socket listener_;
  std::uint16_t port_ = 0;
  std::vector<Step> script_;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> flooded_{0};
  std::thread thread_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  int cues_ = 0;
  bool scriptDone_ = false;
  Bytes received_;
};

// One reply datagram: forged ones come from another loopback address than the XPort's.
struct Datagram {
  Bytes bytes;
  bool forged = false;
  int delayMs = 0;  // before this datagram is sent
};

class ScriptedUdpPeer {
 public:
  // Binds address:port; forged replies leave from forgerAddress (an ephemeral port).
  ScriptedUdpPeer(const std::string& address, std::uint16_t port = 30718,
                  const std::string& forgerAddress = "127.0.0.99")
      : address_(address), port_(port), forgerAddress_(forgerAddress) {}
  ~ScriptedUdpPeer();
  ScriptedUdpPeer(const ScriptedUdpPeer&) = delete;
  ScriptedUdpPeer& operator=(const ScriptedUdpPeer&) = delete;

  // False with a reason when a socket cannot be bound; then the thread is not started.
  bool Start(std::string* error);
  // The answer to the next request not yet answered; a request with none gets nothing.
  void ReplyNext(const std::vector<Datagram>& replies);
  std::vector<Bytes> Requests() const;
  std::vector<platform::Ipv4Endpoint> Sources() const;

 private:
  void Run();

  std::string address_;
  std::uint16_t port_;
  std::string forgerAddress_;
  platform::Socket socket_, forger_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mu_;
  std::vector<std::vector<Datagram>> replies_;
  std::size_t answered_ = 0;
  std::vector<Bytes> requests_;
  std::vector<platform::Ipv4Endpoint> sources_;
};

}  // namespace testing_support
