// The device's reply stream through a whole update: identify, the single blocks' echoes,
// the bulk write's gathering and the leave reply. A scripted device answers each request
// the way a real one does; the fuzzer chooses how the replies are cut into receives,
// which reply bytes are changed, which bulk echoes keep their tail back until the next
// block is sent, and where the device stops (silent, closed or reset).
//
// The oracle walks the same run over the whole stream and says what must come of it: the
// result, the procedure's notices in order, whether the leave command is sent and the
// version word the device ends with. The verdict never depends on the cuts: an echo split
// anywhere, in any number of pieces, is judged as if it came whole. The scripted device
// also checks the pace: a block goes out only after 16 bytes of the echo before it, and
// every other request only once the device's replies have been read to their end, so no
// late tail is ever taken as the head of another reply. ASan and UBSan watch every buffer;
// a run that does not end is a time-out of the fuzzer.
#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "update/update_procedure.h"

#ifdef __clang__
#define UNTRACED __attribute__((no_sanitize("coverage")))
#else
#define UNTRACED
#endif

namespace {

using fuzzing::Check;

constexpr int kWords = 8192;
constexpr std::uint16_t kDeviceVersion = 12;
constexpr std::uint16_t kImageVersion = 13;
constexpr int kBulkBlocks = 1855;
constexpr int kEcho = 18;
// Where each reply starts in the stream of a run that succeeds.
constexpr int kSinglesAt = 4;
constexpr int kBulkAt = kSinglesAt + 6 * kEcho;
constexpr int kVersionAt = kBulkAt + kBulkBlocks * kEcho;
constexpr int kLeaveAt = kVersionAt + kEcho;
constexpr int kStreamSize = kLeaveAt + 1;
constexpr int kEchoDataAt[8] = {2, 3, 6, 7, 10, 11, 14, 15};

const char* const kNoBootMode = "ファーム書換えモードに入れませんでした!!処理を中断します。";
const char* const kWrongDevice = "接続機器が異なります!!処理を中断します。";
const char* const kBulkFailed = "Error: 書込み失敗しました。\n";
const char* const kVerifyError = "Error: ベリファイエラー\n";
const char* const kDone = "書込み完了\n";
const char* const kLeaveError = "ファーム書換えモードキャンセルエラー";
const char* const kQuestion = "?MAC:";

enum class End { None, Silence, Close, Reset };

struct Script {
  bool yes = true;
  End end = End::None;
  long cut = LONG_MAX;                   // reply bytes from here on never come
  std::vector<std::pair<int, int>> holds;  // bulk echo, bytes that come before the hold
  std::vector<int> chunks;                 // receive sizes, in turn
  bool chunksPerReply = false;             // the turn starts again with each new reply
};

// The XOR each reply byte gets, by its place in the stream; reset after each input.
std::array<std::uint8_t, kStreamSize> gChange{};

std::array<std::uint16_t, kWords> gImage;
std::string gDataFile;

void MakeImage() {
  for (int w = 0; w < kWords; ++w) gImage[w] = static_cast<std::uint16_t>((w * 0x9E37 + 0x1234) & 0x3FFF);
  gImage[0x300] = kImageVersion;
  std::string hex;
  char line[64];
  for (int at = 0; at < 2 * kWords; at += 16) {
    unsigned sum = 16 + (at >> 8) + (at & 0xFF);
    std::snprintf(line, sizeof line, ":10%04X00", at);
    hex += line;
    for (int i = 0; i < 16; ++i) {
      const int w = (at + i) / 2;
      const unsigned b = (at + i) % 2 ? gImage[w] >> 8 : gImage[w] & 0xFF;
      std::snprintf(line, sizeof line, "%02X", b);
      hex += line;
      sum += b;
    }
    std::snprintf(line, sizeof line, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    hex += line;
  }
  hex += ":00000001FF\n";
  gDataFile = "/tmp/fuzz_reply_stream_" + std::to_string(::getpid()) + ".HEX";
  std::ofstream(gDataFile, std::ios::binary) << hex;
}

// A device in boot mode, as a byte machine, with the script's way of answering. Its own
// branches are kept out of the coverage the fuzzer steers by, which is the tool's.
class ScriptedDevice final : public device::LinkPort {
 public:
  explicit ScriptedDevice(const Script& s) : s_(s) {
    stream_.reserve(kStreamSize);
    memory_.fill(0x3FFF);
    memory_[0x300] = kDeviceVersion;
  }

  int StartLayer() override { return 0; }
  void CleanupLayer() override {}
  bool Open(bool) override { return open_ = true; }
  device::ConnectResult Connect(const platform::Ipv4Endpoint&, const platform::Ipv4Endpoint&, int,
                                const std::atomic<bool>*) override {
    return device::ConnectResult::Connected;
  }
  UNTRACED platform::WaitResult WaitReadable(int) override {
    if (!open_) return platform::WaitResult::Failed;
    Check(++waits_ < 3 * kStreamSize, "the exchange does not end");
    if (read_ < Deliverable()) return platform::WaitResult::Ready;
    const bool ended = (s_.end == End::Close || s_.end == End::Reset) &&
                       static_cast<long>(read_) >= s_.cut;
    return ended ? platform::WaitResult::Ready : platform::WaitResult::Timeout;
  }
  UNTRACED long Send(const std::uint8_t* data, std::size_t n) override {
    if (!open_) return -1;
    released_ = stream_.size();  // what was held goes out before new bytes are answered
    for (std::size_t i = 0; i < n; ++i) Feed(data[i]);
    return static_cast<long>(n);
  }
  UNTRACED long Recv(std::uint8_t* buffer, std::size_t size) override {
    if (!open_) return -1;
    std::size_t n = Deliverable() - read_;
    if (n == 0) return s_.end == End::Reset ? -1 : 0;
    if (!s_.chunks.empty()) n = std::min<std::size_t>(n, s_.chunks[chunk_++ % s_.chunks.size()]);
    n = std::min(n, size);
    std::memcpy(buffer, stream_.data() + read_, n);
    read_ += n;
    return static_cast<long>(n);
  }
  void Shutdown() override {}
  void Close() override { open_ = false; }
  int LastError() override { return platform::ConnectionResetCode(); }

  int leaves = 0;
  std::array<std::uint16_t, kWords> memory_;

 private:
  enum class Mode { Command, Identify, Header, Block, Left };

  std::size_t Deliverable() const {
    return std::min(released_, static_cast<std::size_t>(s_.cut));
  }

  UNTRACED void Reply(const std::uint8_t* bytes, int n, int hold = 0) {
    const std::size_t start = stream_.size();
    Check(start + static_cast<std::size_t>(n) <= kStreamSize, "more requests than a run makes");
    for (int i = 0; i < n; ++i) stream_.push_back(bytes[i] ^ gChange[start + i]);
    released_ = hold ? start + static_cast<std::size_t>(hold) : stream_.size();
    if (s_.chunksPerReply) chunk_ = 0;
  }

  // The device has sent all it ever will; what the tool sends now is not checked.
  bool Ended() const { return static_cast<long>(stream_.size()) >= s_.cut; }

  // Every reply so far has been read to its end: the tool takes no request's reply for
  // another's.
  void CheckAllRead(const char* what) {
    if (Ended()) return;
    if (read_ < Deliverable()) fuzzing::Fail(std::string(what) + " before the last reply was read");
  }

  UNTRACED void Feed(std::uint8_t b) {
    static const char kIdentify[] = "@QUIVO";
    switch (mode_) {
      case Mode::Command:
        CheckAllRead("a request");
        if (b == '@') {
          mode_ = Mode::Identify;
          matched_ = 1;
        } else if (b == 'S') {
          mode_ = Mode::Header;
          headerLen_ = 0;
        } else if (b == 'C') {
          ++leaves;
          mode_ = Mode::Left;
          const std::uint8_t n = 'N';
          Reply(&n, 1);
        } else {
          fuzzing::Fail("a byte that starts no request");
        }
        break;
      case Mode::Identify:
        Check(b == static_cast<std::uint8_t>(kIdentify[matched_]), "a broken identify request");
        if (++matched_ == 6) {
          mode_ = Mode::Command;
          const std::uint8_t reply[4] = {'M', 0x81, kDeviceVersion, 0};
          Reply(reply, 4);
        }
        break;
      case Mode::Header:
        header_[headerLen_++] = b;
        if (headerLen_ == 4) {
          const int count = header_[0] | header_[1] << 8;
          address_ = header_[2] | header_[3] << 8;
          Check(count > 0 && count % 4 == 0 && address_ + count <= kWords, "a bad write command");
          blocksLeft_ = count / 4;
          bulk_ = blocksLeft_ > 1;
          bulkBlock_ = 0;
          mode_ = Mode::Block;
          blockLen_ = 0;
        }
        break;
      case Mode::Block:
        // Stop-and-wait: 16 bytes of the last echo came before this block.
        if (blockLen_ == 0 && bulkBlock_ > 0 && !Ended()) {
          Check(read_ >= lastEchoAt_ + 16, "a block sent before the last echo's 16 bytes");
        }
        block_[blockLen_++] = b;
        if (blockLen_ == 8) BlockComplete();
        break;
      case Mode::Left:
        fuzzing::Fail("bytes after the leave command");
    }
  }

  UNTRACED void BlockComplete() {
    std::uint8_t echo[kEcho] = {};
    for (int i = 0; i < 4; ++i) {
      memory_[address_ + i] = static_cast<std::uint16_t>(block_[2 * i] | block_[2 * i + 1] << 8);
      echo[4 * i] = static_cast<std::uint8_t>(address_ + i);
      echo[4 * i + 1] = static_cast<std::uint8_t>((address_ + i) >> 8);
      echo[4 * i + 2] = block_[2 * i];
      echo[4 * i + 3] = block_[2 * i + 1];
    }
    echo[16] = 'E';
    echo[17] = static_cast<std::uint8_t>(++blocks_);
    int hold = 0;
    if (bulk_) {
      for (const auto& [k, h] : s_.holds) {
        if (k == bulkBlock_) hold = h;
      }
    }
    lastEchoAt_ = stream_.size();
    Reply(echo, kEcho, hold);
    address_ += 4;
    ++bulkBlock_;
    blockLen_ = 0;
    if (--blocksLeft_ == 0) mode_ = Mode::Command;
  }

  const Script& s_;
  std::vector<std::uint8_t> stream_;
  std::size_t released_ = 0;  // the stream's bytes the device has sent
  std::size_t read_ = 0;      // the stream's bytes the tool has taken
  std::size_t chunk_ = 0;
  std::size_t lastEchoAt_ = 0;
  long waits_ = 0;
  bool open_ = false;
  Mode mode_ = Mode::Command;
  int matched_ = 0;
  std::uint8_t header_[4] = {};
  int headerLen_ = 0;
  std::uint8_t block_[8] = {};
  int blockLen_ = 0;
  int address_ = 0;
  int blocksLeft_ = 0;
  int bulkBlock_ = 0;
  int blocks_ = 0;
  bool bulk_ = false;
};

// The XPort of every run: an info reply and a record that needs no override.
class QuietXPort final : public xport::QueryPort {
 public:
  bool Open() override { return true; }
  bool Bind(const platform::Ipv4Endpoint&) override { return true; }
  bool SendTo(const std::uint8_t* data, std::size_t size, const platform::Ipv4Endpoint&) override {
    pending_ = size == 4 && data[3] == 0xF6 ? 30 : size == 4 && data[3] == 0xF8 ? 124 : 0;
    return true;
  }
  bool WaitReadable(int) override { return pending_ > 0; }
  long ReceiveFrom(std::uint8_t* buffer, std::size_t size, platform::Ipv4Endpoint* from,
                   bool* truncated) override {
    std::memset(buffer, 0, size);
    if (pending_ == 124) {
      buffer[24] = 10003 & 0xFF;
      buffer[25] = 10003 >> 8;
      buffer[32] = 0xC0;
    }
    from->address = platform::InetAddr("127.0.0.1");
    *truncated = false;
    return std::exchange(pending_, 0);
  }
  void Close() override {}

 private:
  long pending_ = 0;
};

struct Expect {
  int result = 0;
  std::vector<std::string> notices;
  int leaves = 0;
  std::uint16_t version = kDeviceVersion;
};

// The run as the rules make it, from the whole script.
UNTRACED Expect Walk(const Script& s) {
  Expect e;
  bool linkUp = true;  // ConnectedFlag
  // The tool gets n bytes from the stream at pos, or runs into the device's end.
  const auto has = [&](long pos, long n) {
    if (pos + n <= s.cut) return true;
    if (s.end != End::Close) linkUp = false;  // a time-out or a failed receive
    return false;
  };
  const auto changed = [](long at) { return at < kStreamSize && gChange[at] != 0; };
  const auto echoOk = [&](long at) {
    if (!has(at, kEcho)) return false;
    for (int i : kEchoDataAt) {
      if (changed(at + i)) return false;
    }
    return !changed(at + 16);
  };
  // The leave command, sent while the link stands; the device takes it as one unless it
  // still awaits blocks of a bulk write broken off.
  const auto leave = [&](long at, bool taken = true) {
    if (!linkUp) return;
    e.leaves = taken ? 1 : 0;
    if (!has(at, 1) || changed(at)) e.notices.push_back(kLeaveError);
  };

  if (!has(0, 4)) {
    e.notices.push_back(kNoBootMode);
    return e;
  }
  if (changed(0)) {
    e.notices.push_back(kWrongDevice);
    return e;
  }
  const int model = (0x81 ^ gChange[1]) & 0xF0;
  // The tool's own code for a wrong device is 0xF0, so a model nibble of F reads as one.
  if (model == 0xF0) {
    e.notices.push_back(kWrongDevice);
    return e;
  }
  if (model != 0x60 && model != 0x80 && model != 0xA0) return e;
  e.notices.push_back(kQuestion);
  if (!s.yes) {
    leave(kSinglesAt);
    return e;
  }
  e.version = 0;
  const char* const singles[] = {"0x0300 Clear Error", "0x026C Write Error", "0x0290 Write Error",
                                 "0x0294 Write Error", "0x0298 Write Error", "0x029c Write Error"};
  for (int i = 0; i < 6; ++i) {
    if (!echoOk(kSinglesAt + i * kEcho)) {
      e.notices.push_back(singles[i]);
      leave(kSinglesAt + (i + 1) * kEcho);
      return e;
    }
  }
  for (int k = 0; k < kBulkBlocks; ++k) {
    const long at = kBulkAt + long{k} * kEcho;
    const bool last = k == kBulkBlocks - 1;
    const long need = last ? kEcho : 16;
    int hold = 0;
    for (const auto& [b, h] : s.holds) {
      if (b == k) hold = h;
    }
    long got = std::min<long>(kEcho, s.cut - at);
    if (hold && hold < need && hold <= got) {
      got = hold;
      linkUp = false;  // the tool waits for bytes the device holds back: a time-out
    } else if (got < need) {
      has(at, need);
    } else {
      continue;
    }
    // Gathering stopped. Byte 16 of the last echo is judged, if the link stands.
    if (!(linkUp && last && got >= 17 && !changed(at + 16))) {
      e.notices.push_back(kBulkFailed);
      leave(s.cut, last);
      return e;
    }
  }
  if (changed(kVersionAt - kEcho + 16)) {
    e.notices.push_back(kBulkFailed);
    leave(kVersionAt);
    return e;
  }
  for (int k = 0; k < kBulkBlocks; ++k) {
    for (int i : kEchoDataAt) {
      if (changed(kBulkAt + long{k} * kEcho + i)) {
        e.notices.push_back(kVerifyError);
        leave(kVersionAt);
        return e;
      }
    }
  }
  e.version = kImageVersion;
  if (!echoOk(kVersionAt)) {
    e.notices.push_back("0x0300 Write Error");
    leave(kLeaveAt);
    return e;
  }
  e.result = 1;
  e.notices.push_back(kDone);
  leave(kLeaveAt);
  return e;
}

// The input: a flags byte (bit 0: the operator answers No; bits 1-2: how the device ends,
// none, silent, closed, reset; bit 3: the receive sizes start again with each reply), the
// end's place (2 bytes, when it ends), a count and as many changed reply bytes (place, 2
// bytes; XOR), a count and as many held bulk echoes (block, 2 bytes; bytes before the
// hold), then the receive sizes (1 to 48), in turn.
Script Read(const std::uint8_t* data, std::size_t size, std::vector<int>* changes) {
  fuzzing::Reader in(data, size);
  Script s;
  const std::uint8_t flags = in.Byte();
  s.yes = (flags & 1) == 0;
  s.end = static_cast<End>((flags >> 1) & 3);
  s.chunksPerReply = (flags & 8) != 0;
  if (s.end != End::None) s.cut = in.Word() % (kStreamSize + 1);
  for (int n = in.Byte() % 8; n > 0; --n) {
    const int at = static_cast<int>(in.Word() % kStreamSize);
    const std::uint8_t x = in.Byte();
    if (x != 0 && gChange[at] == 0) changes->push_back(at);
    gChange[at] = x;
  }
  for (int n = in.Byte() % 8; n > 0; --n) {
    const int k = static_cast<int>(in.Word() % kBulkBlocks);
    s.holds.emplace_back(k, 1 + in.Byte() % (kEcho - 1));
  }
  while (in.Left() > 0) s.chunks.push_back(1 + in.Byte() % 48);
  return s;
}

bool IsLinkNotice(const std::string& text) {
  return text == "タイムアウトしました\n" || text == "QUIVOからの受信失敗\n" ||
         text.rfind("受信に失敗しました。", 0) == 0 || text.rfind("送信に失敗しました。", 0) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (gDataFile.empty()) MakeImage();
  std::vector<int> changes;
  const Script script = Read(data, size, &changes);
  const Expect expect = Walk(script);

  fuzzing::LeanObserver host;
  host.answerYes = script.yes;
  fuzzing::NoSleep sleeper;
  update::UpdateSession session(host, sleeper);
  session.UseSavedRecords(xport::SavedRecords("/nonexistent/fuzz-state"));
  QuietXPort xport;
  ScriptedDevice device(script);
  session.XPort().UseQueryPort(&xport);
  session.Link().UseLinkPort(&device);
  const update::Outcome outcome =
      update::UpdateJob(session, {platform::InetAddr("127.0.0.1"), 10003}, gDataFile);

  std::vector<std::string> notices;
  for (const std::string& n : host.notices) {
    if (!IsLinkNotice(n)) notices.push_back(n.rfind(kQuestion, 0) == 0 ? kQuestion : n);
  }
  Check(outcome.dataFileRead, "the data file was not read");
  const int result = outcome.result == update::Result::Updated ? 1 : 0;
  if (result != expect.result) fuzzing::Fail("result " + std::to_string(result));
  std::string seen, wanted;
  for (const auto& n : notices) seen += "[" + n + "]";
  for (const auto& n : expect.notices) wanted += "[" + n + "]";
  if (seen != wanted) fuzzing::Fail("notices " + seen + " instead of " + wanted);
  if (device.leaves != expect.leaves) fuzzing::Fail("leave commands: " + std::to_string(device.leaves));
  Check(device.memory_[0x300] == expect.version,
        "device version " + std::to_string(device.memory_[0x300]));
  if (expect.result == 1) {
    for (int w = 0; w < kWords; ++w) {
      const bool written = (w >= 0x26C && w < 0x270) || (w >= 0x290 && w < 0x2A0) || w >= 0x300;
      if (device.memory_[w] != (written ? gImage[w] : 0x3FFF)) fuzzing::Fail("word " + std::to_string(w));
    }
  }
  for (int at : changes) gChange[at] = 0;
  return 0;
}
