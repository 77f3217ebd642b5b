// quivo-sim as a library: a simulated XPort (UDP configuration port) and the device behind
// it (TCP, boot-mode protocol, 8,192 words of program memory), with fault injection.
//
// A Simulator runs on its own thread from Start() to Stop() (or destruction). Start()
// returns once both sockets are bound and listening, so a caller never has to sleep for
// readiness. Every accessor may be called from any thread while it runs.
//
// The device, as this simulator plays it:
// - One TCP connection at a time. A new connection replaces the one that stands (the old
//   one is closed) and starts in boot mode with fresh phase counters.
// - Commands may come in any order. A byte that starts no command ('@', 'S', 'C') is
//   logged and ignored; an "@QUIVO" broken off midway is logged and its breaking byte is
//   read again as a command byte.
// - 'S' count address announces count / 4 data blocks (a remainder of 1 to 3 words is
//   ignored). Each block's four words are stored as sent (16 bits, not cut to 14) at
//   address, address + 1, ...; words that would lie past 0x1FFF are dropped, never
//   wrapped, but the block is still answered. The echo is sent as soon as the 8th byte
//   arrived. Echo bytes 0/1, 4/5, 8/9 and 12/13 carry the word address of the word that
//   follows them, byte 17 the connection's block count (low byte): not examined by the
//   tool, and never all zero or constant.
// - A block is stored whatever fault answers it: the fault changes the answer only.
// - 'C' is answered 'N'; afterwards the device has left boot mode and ignores the rest of
//   the connection.
// - A peer that closes or fails mid-frame is logged; the connection is dropped and the
//   next one starts afresh.
// - After an accepted set request the XPort restarts: UDP requests are ignored for
//   settleMs. TCP is not affected by the restart.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

inline constexpr int kWords = 8192;
inline constexpr int kVersionWord = 0x300;
// The length of an IdentifyFault::Garbage reply.
inline constexpr int kIdentifyGarbageSize = 64;
// The pause between the two sends of a split reply (SplitEcho, IdentifyFault::Split).
inline constexpr int kSplitPauseMs = 20;
using Memory = std::array<std::uint16_t, kWords>;
using Record = std::array<std::uint8_t, 124>;

// What goes wrong at one data block. Phases name the blocks the way a reader of a test
// thinks of them: "clear" (the first block at word 0x300 on a connection), "single:0x26C",
// "single:0x290" .. "single:0x29C", "bulk:1" .. "bulk:1855" (1-based within the bulk
// write), "version" (a block at 0x300 after the bulk write), and "block:N" (the Nth data
// block of the connection, 1-based, whatever it is).
enum class BlockFault {
  Silent,     // take the block, never answer
  Close,      // close the connection instead of answering
  Reset,      // reset the connection (RST) instead of answering
  WrongEcho,  // answer with one echoed data byte changed
  MissingE,   // answer with byte 16 not 'E'
  Garbage,    // answer 18 bytes of noise
  ShortEcho,  // answer only the first 16 bytes
  SplitEcho,  // answer 16 bytes; the last 2 follow once the tool sends its next bytes
};

struct BlockFaultAt {
  std::string phase;
  BlockFault fault;
};

enum class IdentifyFault {
  None,
  Silent,          // never answer "@QUIVO"
  WrongFirstByte,  // answer with byte 0 not 'M'
  Split,           // answer 1 byte, then 3 in a separate send
  Short,           // answer 3 bytes, then fall silent
  Close,           // close the connection instead of answering
  Reset,           // reset the connection (RST) instead of answering
  Garbage,         // answer 64 bytes of noise whose first byte is not 'M'
};

enum class LeaveFault {
  None,
  Missing,  // never answer 'C'
  Wrong,    // answer a byte that is not 'N'
  Close,    // close the connection instead of answering
  Reset,    // reset the connection (RST) instead of answering
};

enum class XPortFault {
  None,
  Silent,        // answer nothing at all
  ShortInfo,     // 29-byte info reply
  ShortRecord,   // 123-byte record reply
  SilentRecord,  // answer the info query, never the get-record query
};

struct Faults {
  XPortFault xport = XPortFault::None;
  // The Nth set-record request (1-based: 1 = override, 2 = restore in one run) is refused
  // (answered 00 00 00 FA, record unchanged) or ignored (no answer, record unchanged).
  int refuseSet = 0;
  int ignoreSet = 0;
  // Every set request from the Nth on refused, as ever; the Nth applied and its answer
  // never sent (the acknowledgement lost on the way).
  int refuseSetsFrom = 0;
  int dropSetReply = 0;
  IdentifyFault identify = IdentifyFault::None;
  std::vector<BlockFaultAt> blocks{};
  LeaveFault leave = LeaveFault::None;
  // Every TCP reply split into random fragments (seeded), each its own send.
  bool fragmentAll = false;
  std::uint32_t seed = 1;
  // Delay before every TCP reply.
  int replyDelayMs = 0;
};

struct Config {
  std::string address = "127.0.0.1";  // any 127.0.0.0/8 address
  std::uint16_t tcpPort = 10003;      // 0: ephemeral, see TcpPort()
  std::uint16_t udpPort = 30718;
  int settleMs = 2000;         // unreachable for this long after an accepted set
  bool needsOverride = false;  // start with byte 32 = 0x01 and byte 33 = 0x80
  // Like a real module in that setting: while the record shows the condition (byte 32 low
  // nibble 1, or byte 33 = 0x80) the device answers nothing on TCP.
  bool enforceOverride = true;
  std::optional<std::uint16_t> localPort{};  // announced LocalPort; default: the TCP port
  std::array<std::uint8_t, 6> mac{0x00, 0x20, 0x4A, 0x0B, 0x4C, 0x0E};
  int modelCode = 0x80;  // high nibble of identify byte 1
  int subCode = 1;
  std::optional<Memory> memory{};  // starting program memory; default all 0x3FFF
  Faults faults{};
};

class Simulator {
 public:
  explicit Simulator(Config config);
  ~Simulator();  // stops
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Binds UDP and TCP on the configured address and starts the thread. False with a
  // reason when a socket cannot be bound.
  bool Start(std::string* error);
  // Stops the thread and closes every socket; idempotent.
  void Stop();

  std::uint16_t TcpPort() const;
  Memory ProgramMemory() const;
  std::uint16_t VersionWord() const;  // program word 0x300
  Record SetupRecord() const;         // the XPort's current record (bytes 0..3 as it replies)
  // One line per request and reply, "<ms since start> <what>", e.g. "1234 tcp rx S 04 00 6C 02".
  std::vector<std::string> Events() const;
  // Counters a test reads instead of parsing the log.
  int Connections() const;
  int LeaveCommands() const;
  int SetRequests() const;
  // Waits until the device has taken everything a closed connection sent and dropped it,
  // so that the counters and memory are final. False when a connection is still open
  // after timeoutMs.
  bool WaitForNoConnection(int timeoutMs) const;
  // Datagrams that reached the XPort's port, whatever they held.
  int UdpRequests() const;
  // Data blocks received over all connections, faulted ones included.
  int DataBlocks() const;
  // Program memory as Intel HEX (16-byte records, byte addresses, end record).
  std::string MemoryHex() const;
  bool WriteMemoryHex(const std::string& path) const;  // path: UTF-8

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A plausible data file: a type-4 record first, 16-byte records in address order covering
// words 0..0x1FFF with varied words, the version word at 0x300, a configuration word at
// byte 0x400E, an end record.
std::string SampleHex(std::uint16_t version);

// Reads Intel HEX into program memory (type-0 records below byte 0x4000); false on text
// that is not Intel HEX.
// Words that no record covers are 0x3FFF; a record byte fills only its half of a word.
// Types 2 and 4 move the base address (records that then lie at or above byte 0x4000 are
// ignored), types 3 and 5 are ignored, type 1 ends the text. Every record's length and
// checksum are checked; *out is written only on success.
bool ParseMemoryHex(const std::string& text, Memory* out);

}  // namespace sim
