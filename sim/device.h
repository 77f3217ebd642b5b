// Inside the simulator: the event journal and the device's boot-mode protocol as a byte
// machine. The device knows nothing of sockets; it turns received bytes into replies that
// the simulator's thread sends, pauses and closes on its behalf.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "sim/fault_names.h"
#include "sim/simulator.h"

namespace sim::detail {

// A small, portable generator so a seed gives the same noise on every platform.
class Rng {
 public:
  explicit Rng(std::uint32_t seed) : state_(seed ? seed : 0x9E3779B9u) {}
  std::uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  // 0 .. n-1, n > 0.
  std::uint32_t Below(std::uint32_t n) { return Next() % n; }

 private:
  std::uint32_t state_;
};

// "<ms since start> <what>" lines. Bounded, so a peer that floods garbage cannot grow it
// without end; what does not fit is counted.
class Journal {
 public:
  static constexpr std::size_t kMaxLines = 200000;

  void Restart();
  void Add(const std::string& what);
  std::vector<std::string> Lines() const;

 private:
  mutable std::mutex mutex_;
  std::int64_t startUs_ = 0;
  std::vector<std::string> lines_;
  std::size_t dropped_ = 0;
};

// What the device wants done on the connection, in order.
struct Reply {
  enum class Kind { Send, Close, Reset };
  Kind kind = Kind::Send;
  std::vector<std::uint8_t> bytes;
  int pauseMs = 0;          // after the output before it
  bool startsReply = true;  // Faults::replyDelayMs applies
  std::string note;         // journalled once the last byte is out
  // Held back until the tool sends its next bytes (or the connection ends), so that the
  // tool has surely taken what went before it as a reply of its own.
  bool holdUntilInput = false;
};

std::string HexBytes(std::span<const std::uint8_t> bytes);

class Device {
 public:
  Device(const Config& config, Journal& journal);

  // REQUIRES (Start): every phase in config.faults.blocks parses; checked by the caller.
  void NewConnection();
  // Bytes from the connection; replies are appended to *out.
  void Feed(std::span<const std::uint8_t> bytes, std::vector<Reply>* out);
  // The connection ended (peer, fault or replacement); journals a frame it broke off.
  void ConnectionEnded(const std::string& why);

  Memory ProgramMemory() const;
  std::uint16_t VersionWord() const;
  int LeaveCommands() const { return leaveCommands_.load(); }
  int DataBlocks() const { return dataBlocks_.load(); }

 private:
  enum class Mode { Command, Identify, Header, Block, Left, Mute };
  struct FaultRule {
    Phase phase;
    std::string name;
    BlockFault fault;
  };

  void CommandByte(std::uint8_t b, std::vector<Reply>* out);
  void IdentifyComplete(std::vector<Reply>* out);
  void HeaderComplete();
  void BlockComplete(std::vector<Reply>* out);
  const FaultRule* FaultFor(std::uint32_t address) const;
  void FlushIgnored();
  void Ignore(std::uint8_t b);

  const Config& config_;
  Journal& journal_;
  std::vector<FaultRule> rules_;
  Rng rng_;

  mutable std::mutex memoryMutex_;
  Memory memory_{};

  std::atomic<int> leaveCommands_{0};
  std::atomic<int> dataBlocks_{0};

  // The connection's state.
  Mode mode_ = Mode::Command;
  int identifyMatched_ = 0;
  std::uint8_t header_[4] = {};
  int headerLen_ = 0;
  std::uint8_t block_[8] = {};
  int blockLen_ = 0;
  std::uint32_t nextAddress_ = 0;  // word address of the block being received; never wraps
  std::uint32_t blocksLeft_ = 0;
  std::uint32_t blocksInCommand_ = 0;
  std::uint32_t blockInCommand_ = 0;  // 1-based index of the block being received
  std::uint32_t connectionBlocks_ = 0;
  bool bulk_ = false;       // the current write command announced more than one block
  bool bulkSeen_ = false;   // a bulk write started earlier on this connection
  bool clearSeen_ = false;  // a block at 0x300 came earlier on this connection
  bool droppedLogged_ = false;
  std::vector<std::uint8_t> ignored_;
  std::size_t ignoredCount_ = 0;
};

}  // namespace sim::detail
