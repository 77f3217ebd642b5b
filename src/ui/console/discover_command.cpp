#include "ui/console/discover_command.h"

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <nlohmann/json.hpp>

#include "fleet/discovery.h"
#include "platform/socket.h"

namespace ui {
namespace {

// The scan's texts, Japanese first with its English twin; {1}, {2} are the arguments.
enum class Text {
  Unparseable,
  TooLarge,
  NotUnicast,
  Socket,
  Broadcast,
  Bind,
  Asking,
  AskingBroadcast,
  Header,
  MustChange,
  NoChange,
  NoRecord,
  Answered,
  NoneAnswered,
  SendsRefused,
  CannotWrite,
};
struct TextPair {
  Text id;
  const char* ja;
  const char* en;
};
constexpr TextPair kTexts[] = {
    {Text::Unparseable,
     "--discover: 範囲「{1}」を読めません。192.168.0.0/24 のような IPv4 の CIDR か broadcast "
     "を指定してください。",
     "--discover: cannot read the range \"{1}\": give an IPv4 CIDR such as 192.168.0.0/24, or "
     "broadcast."},
    {Text::TooLarge,
     "--discover: 範囲「{1}」は広すぎます。/20 (4,096 アドレス) までにしてください。",
     "--discover: the range \"{1}\" is too large: at most /20 (4,096 addresses)."},
    {Text::NotUnicast,
     "--discover: 範囲「{1}」は機器のアドレスではありません (0.x.x.x、マルチキャスト、予約済み)。",
     "--discover: the range \"{1}\" holds no device addresses (0.x.x.x, multicast or reserved)."},
    {Text::Socket, "--discover: UDPソケットを作成できません。",
     "--discover: cannot create a UDP socket."},
    {Text::Broadcast, "--discover: ブロードキャストが許可されていません。",
     "--discover: broadcasting is not permitted."},
    {Text::Bind, "--discover: UDPポート10001を使えません。ほかのプログラムが使用中かもしれません。",
     "--discover: UDP port 10001 is not available; another program may be using it."},
    {Text::Asking, "{1} の {2} アドレスに問い合わせ中 (最長 約{3}秒)...",
     "Asking {2} addresses in {1} (at most about {3} s)..."},
    {Text::AskingBroadcast, "ブロードキャストで問い合わせ中 (約{1}秒)...",
     "Asking by broadcast (about {1} s)..."},
    {Text::Header, "アドレス        MACアドレス        ポート XPortの設定",
     "Address         MAC                Port   XPort settings"},
    {Text::MustChange, "変更が必要 (更新が約16秒長くなります)",
     "must change (the update takes about 16 s longer)"},
    {Text::NoChange, "変更不要", "no change"},
    {Text::NoRecord, "不明 (設定レコードの応答なし)", "unknown (no setup record reply)"},
    {Text::Answered, "{1} 台のXPortが応答しました。", "XPorts that answered: {1}."},
    {Text::NoneAnswered, "応答したXPortはありません ({1})。", "No XPort answered ({1})."},
    {Text::SendsRefused, "{1} 件の問い合わせは送信できませんでした。",
     "{1} queries could not be sent."},
    {Text::CannotWrite, "--discover: {1} に書き込めません。", "--discover: cannot write {1}."},
};

// English when --lang en was given (where the program has --lang), or else when the first
// of LC_ALL, LC_MESSAGES and LANG that is set names it.
bool English(const CLI::App& app) {
  if (const CLI::Option* lang = app.get_option_no_throw("--lang"); lang && lang->count() > 0) {
    return lang->as<std::string>() == "en";
  }
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return std::string(value).rfind("en", 0) == 0;
  }
  return false;
}

// The texts in one language, with their arguments filled in.
struct Say {
  bool english;
  std::string operator()(Text id, std::initializer_list<std::string> args = {}) const;
};

std::string Say::operator()(Text id, std::initializer_list<std::string> args) const {
  std::string text;
  for (const TextPair& t : kTexts) {
    if (t.id == id) text = english ? t.en : t.ja;
  }
  int n = 1;
  for (const std::string& arg : args) {
    const std::string mark = "{" + std::to_string(n++) + "}";
    for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at)) {
      text.replace(at, mark.size(), arg);
      at += arg.size();
    }
  }
  return text;
}

void Line(std::FILE* f, const std::string& text) {
  std::fputs((text + "\n").c_str(), f);
}

std::string Pad(std::string text, std::size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text;
}

// The longest a scan can take with the default pace: every burst and gap, then the wait.
std::string Seconds(std::size_t queries) {
  const fleet::DiscoveryPace pace;
  const std::size_t ms = (queries + static_cast<std::size_t>(pace.burst) - 1) /
                             static_cast<std::size_t>(pace.burst) *
                             static_cast<std::size_t>(pace.gapMs) +
                         static_cast<std::size_t>(pace.replyWaitMs);
  return std::to_string((ms + 999) / 1000);
}

}  // namespace

DiscoverCommand::DiscoverCommand(CLI::App& app) : app_(app) {
  CLI::Option* discover = app.add_option(
      "--discover", range_,
      "list the XPorts that answer in RANGE (an IPv4 CIDR up to /20, or broadcast): address, "
      "MAC, the device's TCP port, whether an update must change the XPort's settings. Reads "
      "only; then exit");
  discover->type_name("RANGE");
  if (app.get_option_no_throw("--json") == nullptr) {
    app.add_option("--json", json_, "also write the list as JSON to FILE (- for standard output)")
        ->type_name("FILE");
  }
  for (const char* other : {"--address", "--restore-xport", "--devices"}) {
    if (CLI::Option* o = app.get_option_no_throw(other)) discover->excludes(o);
  }
}

bool DiscoverCommand::requested() const {
  return app_.count("--discover") > 0;
}

int DiscoverCommand::Run(std::FILE* out, std::FILE* err) const {
  const std::string json = app_.get_option("--json")->as<std::string>();
  std::FILE* table = json == "-" ? err : out;
  const Say say{English(app_)};

  fleet::DiscoveryRange range;
  switch (fleet::ParseDiscoveryRange(range_, &range)) {
    case fleet::RangeError::None:
      break;
    case fleet::RangeError::Unparseable:
      Line(err, say(Text::Unparseable, {range_}));
      return 2;
    case fleet::RangeError::TooLarge:
      Line(err, say(Text::TooLarge, {range_}));
      return 2;
    case fleet::RangeError::NotUnicast:
      Line(err, say(Text::NotUnicast, {range_}));
      return 2;
  }
  Line(table, range.broadcast ? say(Text::AskingBroadcast, {Seconds(1)})
                              : say(Text::Asking, {range_, std::to_string(range.addresses.size()),
                                                   Seconds(range.addresses.size())}));
  std::fflush(table);

  const fleet::DiscoveryResult result = fleet::Discover(range);
  switch (result.failure) {
    case fleet::DiscoveryFailure::None:
      break;
    case fleet::DiscoveryFailure::Socket:
      Line(err, say(Text::Socket));
      return 1;
    case fleet::DiscoveryFailure::Broadcast:
      Line(err, say(Text::Broadcast));
      return 1;
    case fleet::DiscoveryFailure::Bind:
      Line(err, say(Text::Bind));
      return 1;
  }

  nlohmann::json devices = nlohmann::json::array();
  if (!result.xports.empty()) Line(table, say(Text::Header));
  for (const fleet::DiscoveredXPort& x : result.xports) {
    const std::string address = platform::FormatIpv4(x.address);
    const std::string mac = fleet::FormatMac(x.mac);
    const std::string port = x.recordRead ? std::to_string(x.localPort) : "-";
    const Text settings = !x.recordRead     ? Text::NoRecord
                          : x.needsOverride ? Text::MustChange
                                            : Text::NoChange;
    Line(table, Pad(address, 16) + Pad(mac, 19) + Pad(port, 7) + say(settings));
    nlohmann::json device = {{"address", address}, {"mac", mac}};
    device["port"] = x.recordRead ? nlohmann::json(x.localPort) : nlohmann::json(nullptr);
    device["needs_override"] =
        x.recordRead ? nlohmann::json(x.needsOverride) : nlohmann::json(nullptr);
    devices.push_back(std::move(device));
  }
  Line(table, result.xports.empty() ? say(Text::NoneAnswered, {range_})
                                    : say(Text::Answered, {std::to_string(result.xports.size())}));
  if (result.sendsRefused > 0) {
    Line(err, say(Text::SendsRefused, {std::to_string(result.sendsRefused)}));
  }

  if (json.empty()) return 0;
  const std::string text = nlohmann::json{{"devices", devices}}.dump(2) + "\n";
  if (json == "-") {
    std::fputs(text.c_str(), out);
    return 0;
  }
  std::ofstream file(json, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (!file) {
    Line(err, say(Text::CannotWrite, {json}));
    return 1;
  }
  return 0;
}

}  // namespace ui
