#include "sim/device.h"

#include <cstdio>

#include "platform/clock.h"

namespace sim::detail {
namespace {

constexpr char kIdentify[] = "@QUIVO";
constexpr int kIdentifyLength = 6;
constexpr std::uint8_t kWrongByte = 0x58;  // 'X': neither 'M', 'E' nor 'N'
constexpr std::size_t kIgnoredShown = 16;

std::string Word(std::uint32_t address) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X", static_cast<unsigned>(address));
  return buf;
}

}  // namespace

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) s += ' ';
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 0x0F];
  }
  return s;
}

void Journal::Restart() {
  std::lock_guard lock(mutex_);
  startUs_ = platform::MonotonicUs();
}

void Journal::Add(const std::string& what) {
  std::lock_guard lock(mutex_);
  if (lines_.size() >= kMaxLines) {
    ++dropped_;
    return;
  }
  lines_.push_back(std::to_string((platform::MonotonicUs() - startUs_) / 1000) + " " + what);
}

std::vector<std::string> Journal::Lines() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out = lines_;
  if (dropped_) out.push_back("(" + std::to_string(dropped_) + " later events not kept)");
  return out;
}

Device::Device(const Config& config, Journal& journal)
    : config_(config), journal_(journal), rng_(config.faults.seed ^ 0xB5297A4Du) {
  if (config.memory) {
    memory_ = *config.memory;
  } else {
    memory_.fill(0x3FFF);
  }
  for (const auto& f : config.faults.blocks) {
    if (const auto phase = ParsePhase(f.phase)) rules_.push_back({*phase, f.phase, f.fault});
  }
}

Memory Device::ProgramMemory() const {
  std::lock_guard lock(memoryMutex_);
  return memory_;
}

std::uint16_t Device::VersionWord() const {
  std::lock_guard lock(memoryMutex_);
  return memory_[kVersionWord];
}

void Device::NewConnection() {
  mode_ = Mode::Command;
  identifyMatched_ = 0;
  headerLen_ = 0;
  blockLen_ = 0;
  nextAddress_ = 0;
  blocksLeft_ = 0;
  blocksInCommand_ = 0;
  blockInCommand_ = 0;
  connectionBlocks_ = 0;
  bulk_ = false;
  bulkSeen_ = false;
  clearSeen_ = false;
  droppedLogged_ = false;
  ignored_.clear();
  ignoredCount_ = 0;
}

void Device::Ignore(std::uint8_t b) {
  if (ignored_.size() < kIgnoredShown) ignored_.push_back(b);
  ++ignoredCount_;
}

void Device::FlushIgnored() {
  if (ignoredCount_ == 0) return;
  std::string what = "tcp rx ignored " + std::to_string(ignoredCount_) +
                     " bytes: " + HexBytes(ignored_) +
                     (ignoredCount_ > ignored_.size() ? " ..." : "");
  if (mode_ == Mode::Left) what += " (after leave)";
  if (mode_ == Mode::Mute) what += " (fallen silent)";
  ignored_.clear();
  ignoredCount_ = 0;
  journal_.Add(what);
}

void Device::Feed(std::span<const std::uint8_t> bytes, std::vector<Reply>* out) {
  for (const std::uint8_t b : bytes) {
    switch (mode_) {
      case Mode::Left:
      case Mode::Mute:
        Ignore(b);
        break;
      case Mode::Command:
        CommandByte(b, out);
        break;
      case Mode::Identify:
        if (b == static_cast<std::uint8_t>(kIdentify[identifyMatched_])) {
          if (++identifyMatched_ == kIdentifyLength) {
            mode_ = Mode::Command;
            IdentifyComplete(out);
          }
        } else {
          // A broken-off request: what came of it is noise, the byte that broke it may
          // start the next command.
          for (int i = 0; i < identifyMatched_; ++i) {
            Ignore(static_cast<std::uint8_t>(kIdentify[i]));
          }
          mode_ = Mode::Command;
          CommandByte(b, out);
        }
        break;
      case Mode::Header:
        header_[headerLen_++] = b;
        if (headerLen_ == 4) HeaderComplete();
        break;
      case Mode::Block:
        if (blockLen_ == 0 && bulk_ && blockInCommand_ == 1) {
          journal_.Add("tcp bulk first block " + Word(nextAddress_));
        }
        block_[blockLen_++] = b;
        if (blockLen_ == 8) BlockComplete(out);
        break;
    }
  }
  FlushIgnored();
}

void Device::CommandByte(std::uint8_t b, std::vector<Reply>* out) {
  switch (b) {
    case '@':
      FlushIgnored();
      mode_ = Mode::Identify;
      identifyMatched_ = 1;
      return;
    case 'S':
      FlushIgnored();
      mode_ = Mode::Header;
      headerLen_ = 0;
      return;
    case 'C': {
      FlushIgnored();
      ++leaveCommands_;
      journal_.Add("tcp rx C");
      mode_ = Mode::Left;
      switch (config_.faults.leave) {
        case LeaveFault::Missing:
          journal_.Add("fault leave missing: not answered");
          return;
        case LeaveFault::Wrong:
          journal_.Add("fault leave wrong");
          out->push_back(Reply{Reply::Kind::Send, {kWrongByte}, 0, true, "tcp tx 58"});
          return;
        case LeaveFault::Close:
          journal_.Add("fault leave close");
          out->push_back(Reply{Reply::Kind::Close, {}, 0, true, ""});
          return;
        case LeaveFault::Reset:
          journal_.Add("fault leave reset");
          out->push_back(Reply{Reply::Kind::Reset, {}, 0, true, ""});
          return;
        case LeaveFault::None:
          out->push_back(Reply{Reply::Kind::Send, {'N'}, 0, true, "tcp tx 4E"});
          return;
      }
      return;
    }
    default:
      Ignore(b);
  }
}

void Device::IdentifyComplete(std::vector<Reply>* out) {
  journal_.Add("tcp rx @QUIVO");
  const std::uint16_t version = VersionWord();
  std::vector<std::uint8_t> reply = {
      'M', static_cast<std::uint8_t>((config_.modelCode & 0xF0) | (config_.subCode & 0x0F)),
      static_cast<std::uint8_t>(version & 0xFF), static_cast<std::uint8_t>(version >> 8)};
  const std::string note = "tcp tx " + HexBytes(reply);
  switch (config_.faults.identify) {
    case IdentifyFault::None:
      out->push_back(Reply{Reply::Kind::Send, reply, 0, true, note});
      return;
    case IdentifyFault::Silent:
      journal_.Add("fault identify silent: not answered");
      return;
    case IdentifyFault::WrongFirstByte:
      reply[0] = kWrongByte;
      journal_.Add("fault identify wrong-first-byte");
      out->push_back(Reply{Reply::Kind::Send, reply, 0, true, "tcp tx " + HexBytes(reply)});
      return;
    case IdentifyFault::Split:
      journal_.Add("fault identify split: 1 + 3 bytes");
      out->push_back(Reply{Reply::Kind::Send, {reply[0]}, 0, true, ""});
      out->push_back(
          Reply{Reply::Kind::Send, {reply.begin() + 1, reply.end()}, kSplitPauseMs, false, note});
      return;
    case IdentifyFault::Short:
      journal_.Add("fault identify short: 3 bytes, then silence");
      reply.resize(3);
      out->push_back(Reply{Reply::Kind::Send, reply, 0, true, "tcp tx " + HexBytes(reply)});
      mode_ = Mode::Mute;
      return;
    case IdentifyFault::Close:
      journal_.Add("fault identify close");
      out->push_back(Reply{Reply::Kind::Close, {}, 0, true, ""});
      mode_ = Mode::Mute;
      return;
    case IdentifyFault::Reset:
      journal_.Add("fault identify reset");
      out->push_back(Reply{Reply::Kind::Reset, {}, 0, true, ""});
      mode_ = Mode::Mute;
      return;
    case IdentifyFault::Garbage: {
      std::vector<std::uint8_t> noise(kIdentifyGarbageSize);
      for (auto& b : noise) b = static_cast<std::uint8_t>(rng_.Next());
      // Noise that began like a reply would be no fault at all.
      if (noise[0] == 'M') noise[0] = kWrongByte;
      journal_.Add("fault identify garbage: " + std::to_string(noise.size()) + " bytes");
      out->push_back(Reply{Reply::Kind::Send, std::move(noise), 0, true, ""});
      return;
    }
  }
}

void Device::HeaderComplete() {
  const std::uint32_t count = header_[0] | (header_[1] << 8);
  const std::uint32_t address = header_[2] | (header_[3] << 8);
  journal_.Add("tcp rx S " + HexBytes(header_));
  if (count % 4 != 0) {
    journal_.Add("tcp write count " + std::to_string(count) +
                 " is not a multiple of 4: the last words are not awaited");
  }
  blocksInCommand_ = count / 4;
  blocksLeft_ = blocksInCommand_;
  blockInCommand_ = 1;
  nextAddress_ = address;
  blockLen_ = 0;
  droppedLogged_ = false;
  bulk_ = blocksInCommand_ > 1;
  if (bulk_) bulkSeen_ = true;
  mode_ = blocksLeft_ ? Mode::Block : Mode::Command;
}

const Device::FaultRule* Device::FaultFor(std::uint32_t address) const {
  for (const auto& rule : rules_) {
    bool hit = false;
    switch (rule.phase.kind) {
      case Phase::Kind::Block:
        hit = rule.phase.number == connectionBlocks_;
        break;
      case Phase::Kind::Bulk:
        hit = bulk_ && rule.phase.number == blockInCommand_;
        break;
      case Phase::Kind::Single:
        hit = !bulk_ && rule.phase.number == address;
        break;
      case Phase::Kind::Clear:
        hit = address == 0x300 && !clearSeen_;
        break;
      case Phase::Kind::Version:
        hit = address == 0x300 && !bulk_ && bulkSeen_;
        break;
    }
    if (hit) return &rule;
  }
  return nullptr;
}

void Device::BlockComplete(std::vector<Reply>* out) {
  ++connectionBlocks_;
  ++dataBlocks_;
  const std::uint32_t address = nextAddress_;
  bool dropped = false;
  {
    std::lock_guard lock(memoryMutex_);
    for (std::uint32_t i = 0; i < 4; ++i) {
      if (address + i < static_cast<std::uint32_t>(kWords)) {
        memory_[address + i] = static_cast<std::uint16_t>(block_[2 * i] | (block_[2 * i + 1] << 8));
      } else {
        dropped = true;
      }
    }
  }
  if (dropped && !droppedLogged_) {
    journal_.Add("tcp block at " + Word(address) + " lies past 0x1FFF: those words dropped");
    droppedLogged_ = true;
  }

  // The unexamined bytes carry each word's address and the block count, so that they
  // change from block to block and no client can take them for constants.
  std::vector<std::uint8_t> echo(18);
  for (std::uint32_t i = 0; i < 4; ++i) {
    const std::uint32_t a = address + i;
    echo[4 * i] = static_cast<std::uint8_t>(a & 0xFF);
    echo[4 * i + 1] = static_cast<std::uint8_t>((a >> 8) & 0xFF);
    echo[4 * i + 2] = block_[2 * i];
    echo[4 * i + 3] = block_[2 * i + 1];
  }
  echo[16] = 'E';
  echo[17] = static_cast<std::uint8_t>(connectionBlocks_ & 0xFF);

  const bool last = blocksLeft_ == 1;
  std::string note;
  if (!bulk_) {
    journal_.Add("tcp rx block " + Word(address) + " " + HexBytes(block_));
    note = "tcp tx echo " + Word(address);
  } else if (last) {
    note = "tcp bulk last echo " + Word(address) + " after " + std::to_string(blocksInCommand_) +
           " blocks";
  }

  const FaultRule* rule = FaultFor(address);
  if (address == 0x300) clearSeen_ = true;
  if (!rule) {
    out->push_back(Reply{Reply::Kind::Send, std::move(echo), 0, true, std::move(note)});
  } else {
    journal_.Add("fault " + rule->name + " " + BlockFaultName(rule->fault) + " at block " +
                 Word(address));
    switch (rule->fault) {
      case BlockFault::Silent:
        break;
      case BlockFault::Close:
        out->push_back(Reply{Reply::Kind::Close, {}, 0, true, ""});
        mode_ = Mode::Mute;
        break;
      case BlockFault::Reset:
        out->push_back(Reply{Reply::Kind::Reset, {}, 0, true, ""});
        mode_ = Mode::Mute;
        break;
      case BlockFault::WrongEcho:
        echo[2] ^= 0x01;
        out->push_back(Reply{Reply::Kind::Send, std::move(echo), 0, true, std::move(note)});
        break;
      case BlockFault::MissingE:
        echo[16] = kWrongByte;
        out->push_back(Reply{Reply::Kind::Send, std::move(echo), 0, true, std::move(note)});
        break;
      case BlockFault::Garbage:
        for (auto& b : echo) b = static_cast<std::uint8_t>(rng_.Next());
        // Noise that happened to look like an accepted echo would be no fault at all.
        if (echo[16] == 'E') echo[16] = kWrongByte;
        if (echo[2] == block_[0]) echo[2] ^= 0xFF;
        out->push_back(Reply{Reply::Kind::Send, std::move(echo), 0, true, std::move(note)});
        break;
      case BlockFault::ShortEcho:
        echo.resize(16);
        out->push_back(Reply{Reply::Kind::Send, std::move(echo), 0, true, std::move(note)});
        break;
      case BlockFault::SplitEcho:
        out->push_back(Reply{Reply::Kind::Send, {echo.begin(), echo.begin() + 16}, 0, true, ""});
        out->push_back(Reply{Reply::Kind::Send,
                             {echo.begin() + 16, echo.end()},
                             kSplitPauseMs,
                             false,
                             std::move(note),
                             true});
        break;
    }
  }

  blockLen_ = 0;
  nextAddress_ += 4;
  ++blockInCommand_;
  if (--blocksLeft_ == 0) {
    bulk_ = false;
    if (mode_ == Mode::Block) mode_ = Mode::Command;
  }
}

void Device::ConnectionEnded(const std::string& why) {
  FlushIgnored();
  std::string what = "tcp connection ended: " + why;
  switch (mode_) {
    case Mode::Identify:
      what += "; mid-frame in @QUIVO after " + std::to_string(identifyMatched_) + " bytes";
      break;
    case Mode::Header:
      what += "; mid-frame in write command after " + std::to_string(1 + headerLen_) + " bytes";
      break;
    case Mode::Block:
      what += "; " + std::to_string(blocksLeft_) + " of " + std::to_string(blocksInCommand_) +
              " announced blocks not received";
      if (blockLen_) what += ", mid-frame in block " + Word(nextAddress_);
      break;
    default:
      break;
  }
  journal_.Add(what);
  NewConnection();
}

}  // namespace sim::detail
