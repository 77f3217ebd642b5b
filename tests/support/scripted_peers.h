// Small loopback peers that stand in for the device (TCP) and the XPort (UDP) and answer
// from a script, so that a test controls every byte, fragment, pause and close.
//
// Each peer runs on its own thread from Start() until its script is done (TCP: and the
// client has closed) or until it is destroyed; waits inside it poll a stop flag, so
// destruction never hangs.
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
  // Listens on address with an ephemeral port.
  explicit ScriptedTcpPeer(const std::string& address = "127.0.0.1");
  ~ScriptedTcpPeer();
  ScriptedTcpPeer(const ScriptedTcpPeer&) = delete;
  ScriptedTcpPeer& operator=(const ScriptedTcpPeer&) = delete;

  std::uint16_t Port() const { return port_; }

  // The script, built before Start(). After the last step the peer keeps reading (and
  // recording) until the client closes.
  ScriptedTcpPeer& Read(std::size_t n);       // takes exactly n bytes
  ScriptedTcpPeer& Send(const Bytes& bytes);  // one send
  ScriptedTcpPeer& Pause(int ms);
  ScriptedTcpPeer& Close();      // orderly close
  ScriptedTcpPeer& Reset();      // close while the client's bytes lie unread: the client sees RST
  ScriptedTcpPeer& AwaitCue();   // waits until the test calls Cue()
  ScriptedTcpPeer& AwaitData();  // waits until bytes arrive, leaving them unread
  // Takes a 5-byte write command, then for each of blocks data blocks takes 8 bytes and
  // answers the 18-byte echo that accepts them, in one send.
  ScriptedTcpPeer& EchoBlocks(int blocks);
  // Sends pattern over and over, as fast as the client takes it, until the connection
  // fails or the peer is destroyed; the script ends there.
  ScriptedTcpPeer& Flood(const Bytes& pattern);

  // Socket options of the accepted connection: TCP_NODELAY, and quick ACKs re-armed after
  // every receive (otherwise the platform's delayed ACKs apply).
  void SetOptions(bool noDelay, bool quickAck) {
    noDelay_ = noDelay;
    quickAck_ = quickAck;
  }

  void Start();
  void Cue();
  // Blocks until every step of the script has run (not the reading that follows).
  void WaitScriptDone();
  // Blocks until the thread has ended; then Received() is complete.
  void Join();
  Bytes Received() const;
  // Bytes a Flood step has sent so far.
  std::uint64_t Flooded() const { return flooded_.load(); }

 private:
  struct Step {
    enum Kind { Read, Send, Pause, Close, Reset, Cue, Data, Echo, Flood } kind;
    std::size_t count = 0;
    Bytes bytes;
  };
  void Run();
  bool ReadExactly(platform::Socket& s, std::size_t n, std::uint8_t* out);

  platform::Socket listener_;
  std::uint16_t port_ = 0;
  std::vector<Step> script_;
  bool noDelay_ = true;
  bool quickAck_ = true;
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
                  const std::string& forgerAddress = "127.0.0.99");
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
  platform::Socket socket_;
  platform::Socket forger_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mu_;
  std::vector<std::vector<Datagram>> replies_;
  std::size_t answered_ = 0;
  std::vector<Bytes> requests_;
  std::vector<platform::Ipv4Endpoint> sources_;
};

}  // namespace testing_support
