#include "sim/fault_names.h"

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace sim {
namespace {

template <typename T, std::size_t N>
std::optional<T> Lookup(const std::pair<const char*, T> (&table)[N], std::string_view name) {
  for (const auto& [text, value] : table) {
    if (name == text) return value;
  }
  return std::nullopt;
}

const std::pair<const char*, BlockFault> kBlockFaults[] = {
    {"silent", BlockFault::Silent},        {"close", BlockFault::Close},
    {"reset", BlockFault::Reset},          {"wrong-echo", BlockFault::WrongEcho},
    {"missing-e", BlockFault::MissingE},   {"garbage", BlockFault::Garbage},
    {"short-echo", BlockFault::ShortEcho}, {"split-echo", BlockFault::SplitEcho},
};

// A whole text as an unsigned number (decimal, or hex after 0x); nothing else trails it.
std::optional<std::uint32_t> Number(std::string_view text) {
  if (text.empty() || text.size() > 12 || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
    return std::nullopt;
  }
  const std::string s(text);
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(s.c_str(), &end, 0);
  if (errno != 0 || end != s.c_str() + s.size() || v > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<std::uint32_t>(v);
}

}  // namespace

std::optional<Phase> ParsePhase(std::string_view text) {
  if (text == "clear") return Phase{Phase::Kind::Clear, 0x300};
  if (text == "version") return Phase{Phase::Kind::Version, 0x300};
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string_view kind = text.substr(0, colon);
  const auto n = Number(text.substr(colon + 1));
  if (!n) return std::nullopt;
  if (kind == "single") {
    if (*n > 0xFFFF) return std::nullopt;
    return Phase{Phase::Kind::Single, *n};
  }
  if (*n == 0) return std::nullopt;
  if (kind == "bulk") return Phase{Phase::Kind::Bulk, *n};
  if (kind == "block") return Phase{Phase::Kind::Block, *n};
  return std::nullopt;
}

std::optional<BlockFault> BlockFaultFromName(std::string_view name) {
  return Lookup(kBlockFaults, name);
}

const char* BlockFaultName(BlockFault fault) {
  for (const auto& [text, value] : kBlockFaults) {
    if (value == fault) return text;
  }
  return "?";
}

std::optional<IdentifyFault> IdentifyFaultFromName(std::string_view name) {
  static const std::pair<const char*, IdentifyFault> table[] = {
      {"none", IdentifyFault::None},
      {"silent", IdentifyFault::Silent},
      {"wrong-first-byte", IdentifyFault::WrongFirstByte},
      {"split", IdentifyFault::Split},
      {"short", IdentifyFault::Short},
      {"close", IdentifyFault::Close},
      {"reset", IdentifyFault::Reset},
      {"garbage", IdentifyFault::Garbage},
  };
  return Lookup(table, name);
}

std::optional<LeaveFault> LeaveFaultFromName(std::string_view name) {
  static const std::pair<const char*, LeaveFault> table[] = {{"none", LeaveFault::None},
                                                             {"missing", LeaveFault::Missing},
                                                             {"wrong", LeaveFault::Wrong},
                                                             {"close", LeaveFault::Close},
                                                             {"reset", LeaveFault::Reset}};
  return Lookup(table, name);
}

std::optional<XPortFault> XPortFaultFromName(std::string_view name) {
  static const std::pair<const char*, XPortFault> table[] = {
      {"none", XPortFault::None},
      {"silent", XPortFault::Silent},
      {"short-info", XPortFault::ShortInfo},
      {"short-record", XPortFault::ShortRecord},
      {"silent-record", XPortFault::SilentRecord},
  };
  return Lookup(table, name);
}

bool ParseBlockFaultAt(const std::string& text, BlockFaultAt* out, std::string* error) {
  const std::size_t eq = text.find('=');
  if (eq == std::string::npos) {
    if (error) *error = "'" + text + "' is not PHASE=FAULT";
    return false;
  }
  const std::string phase = text.substr(0, eq);
  const std::string name = text.substr(eq + 1);
  if (!ParsePhase(phase)) {
    if (error) *error = "unknown phase '" + phase + "'";
    return false;
  }
  const auto fault = BlockFaultFromName(name);
  if (!fault) {
    if (error) *error = "unknown block fault '" + name + "'";
    return false;
  }
  *out = BlockFaultAt{phase, *fault};
  return true;
}

}  // namespace sim
