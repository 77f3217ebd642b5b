// The faults by name, as the command line and test reports write them, and the block
// phases ("clear", "version", "single:0x26C", "bulk:928", "block:3") read into a form the
// device can match.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sim/simulator.h"

namespace sim {

struct Phase {
  enum class Kind { Clear, Version, Single, Bulk, Block };
  Kind kind = Kind::Block;
  std::uint32_t number = 0;  // the address for Single, the 1-based index for Bulk and Block
};

// Reads a phase name; nullopt for anything else. Numbers are decimal or 0x-prefixed hex;
// indexes start at 1 and addresses lie in 0..0xFFFF.
std::optional<Phase> ParsePhase(std::string_view text);

// silent, close, reset, wrong-echo, missing-e, garbage, short-echo, split-echo
std::optional<BlockFault> BlockFaultFromName(std::string_view name);
// none, silent, wrong-first-byte, split, short, close, reset, garbage
std::optional<IdentifyFault> IdentifyFaultFromName(std::string_view name);
// none, missing, wrong, close, reset
std::optional<LeaveFault> LeaveFaultFromName(std::string_view name);
// none, silent, short-info, short-record, silent-record
std::optional<XPortFault> XPortFaultFromName(std::string_view name);

const char* BlockFaultName(BlockFault fault);

// "PHASE=FAULT", e.g. "bulk:928=silent". False with a reason in *error.
bool ParseBlockFaultAt(const std::string& text, BlockFaultAt* out, std::string* error);

}  // namespace sim
