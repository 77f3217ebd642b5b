// Program memory as Intel HEX, both ways, and the sample data file.
#include <cstdio>
#include <fstream>

#include "platform/program_folder.h"
#include "sim/simulator.h"

namespace sim {
namespace {

constexpr int kMemoryBytes = 2 * kWords;  // 0x4000

void AppendRecord(std::string& out, int type, int address, const std::uint8_t* data, int count) {
  char buf[8];
  unsigned sum = static_cast<unsigned>(count) + ((address >> 8) & 0xFF) + (address & 0xFF) +
                 static_cast<unsigned>(type);
  std::snprintf(buf, sizeof buf, ":%02X", static_cast<unsigned>(count));
  out += buf;
  std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(address & 0xFFFF));
  out += buf;
  std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(type));
  out += buf;
  for (int i = 0; i < count; ++i) {
    std::snprintf(buf, sizeof buf, "%02X", data[i]);
    out += buf;
    sum += data[i];
  }
  std::snprintf(buf, sizeof buf, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
  out += buf;
}

std::string MemoryText(const Memory& memory) {
  std::string out;
  out.reserve(45 * (kMemoryBytes / 16) + 16);
  for (int byte = 0; byte < kMemoryBytes; byte += 16) {
    std::uint8_t data[16];
    for (int i = 0; i < 16; i += 2) {
      const std::uint16_t w = memory[static_cast<std::size_t>((byte + i) / 2)];
      data[i] = static_cast<std::uint8_t>(w & 0xFF);
      data[i + 1] = static_cast<std::uint8_t>(w >> 8);
    }
    AppendRecord(out, 0, byte, data, 16);
  }
  out += ":00000001FF\n";
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string Simulator::MemoryHex() const {
  return MemoryText(ProgramMemory());
}

bool Simulator::WriteMemoryHex(const std::string& path) const {
  const std::string text = MemoryHex();
  std::ofstream f(platform::PathFromUtf8(path), std::ios::binary | std::ios::trunc);
  if (!f) return false;
  f.write(text.data(), static_cast<std::streamsize>(text.size()));
  f.close();
  return !f.fail();
}

std::string SampleHex(std::uint16_t version) {
  Memory memory{};
  // Words that look like a small program: 14-bit values that vary from word to word.
  std::uint32_t x = 0x2F6Bu;
  for (int w = 0; w < kWords; ++w) {
    x = x * 1103515245u + 12345u;
    memory[static_cast<std::size_t>(w)] = static_cast<std::uint16_t>((x >> 12) & 0x3FFF);
  }
  memory[kVersionWord] = version;
  std::string out;
  const std::uint8_t upper[2] = {0x00, 0x00};
  AppendRecord(out, 4, 0, upper, 2);
  std::string body = MemoryText(memory);
  body.resize(body.size() - std::string(":00000001FF\n").size());
  out += body;
  // The configuration word lies past program memory; readers drop it.
  const std::uint8_t config[2] = {0x72, 0x3F};
  AppendRecord(out, 0, 0x400E, config, 2);
  out += ":00000001FF\n";
  return out;
}

bool ParseMemoryHex(const std::string& text, Memory* out) {
  Memory memory{};
  memory.fill(0x3FFF);
  std::uint32_t base = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::size_t last = end;
    while (last > pos &&
           (text[last - 1] == '\r' || text[last - 1] == ' ' || text[last - 1] == '\t')) {
      --last;
    }
    const std::string_view line(text.data() + pos, last - pos);
    pos = end + 1;
    if (line.empty()) continue;
    if (line[0] != ':' || line.size() < 11 || (line.size() - 1) % 2 != 0) return false;
    std::uint8_t bytes[262];
    const std::size_t n = (line.size() - 1) / 2;
    if (n > sizeof bytes) return false;
    unsigned sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const int hi = HexDigit(line[1 + 2 * i]);
      const int lo = HexDigit(line[2 + 2 * i]);
      if (hi < 0 || lo < 0) return false;
      bytes[i] = static_cast<std::uint8_t>(hi * 16 + lo);
      sum += bytes[i];
    }
    const std::size_t count = bytes[0];
    if (n != count + 5 || (sum & 0xFF) != 0) return false;
    const std::uint32_t address = static_cast<std::uint32_t>(bytes[1] << 8 | bytes[2]);
    const std::uint8_t* data = bytes + 4;
    switch (bytes[3]) {
      case 0:
        for (std::size_t k = 0; k < count; ++k) {
          const std::uint32_t at = base + ((address + k) & 0xFFFF);
          if (at >= static_cast<std::uint32_t>(kMemoryBytes)) continue;
          std::uint16_t& word = memory[at / 2];
          word = (at & 1) ? static_cast<std::uint16_t>((word & 0x00FF) | (data[k] << 8))
                          : static_cast<std::uint16_t>((word & 0xFF00) | data[k]);
        }
        break;
      case 1:
        *out = memory;
        return true;
      case 2:
        if (count != 2) return false;
        base = static_cast<std::uint32_t>(data[0] << 8 | data[1]) << 4;
        break;
      case 4:
        if (count != 2) return false;
        base = static_cast<std::uint32_t>(data[0] << 8 | data[1]) << 16;
        break;
      case 3:
      case 5:
        break;
      default:
        return false;
    }
  }
  return false;  // no end record: a cut-short text
}

}  // namespace sim
