#include "ui/console/discover_command.h"

#include <CLI/CLI.hpp>

#include <nlohmann/json.hpp>

#include "xport/discovery.h"
#include "panel/text_catalog.h"
#include "platform/program_folder.h"
#include "platform/socket.h"
#include "platform/state_folder.h"

namespace ui {
namespace {

using panel::FormatText;
using panel::TextId;

void Line(std::FILE* f, const std::string& text) {
  std::fputs((text + "\n").c_str(), f);
}

std::string Pad(std::string text, std::size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text;
}

// The longest a scan can take with the default pace: every burst and gap, then the wait.
std::string Seconds(std::size_t queries) {
  const xport::DiscoveryPace pace;
  const std::size_t ms = (queries + static_cast<std::size_t>(pace.burst) - 1) /
                             static_cast<std::size_t>(pace.burst) *
                             static_cast<std::size_t>(pace.gapMs) +
                         static_cast<std::size_t>(pace.replyWaitMs);
  return std::to_string((ms + 999) / 1000);
}

}  // namespace

DiscoverCommand::DiscoverCommand(CLI::App& app) : app_(app) {
  CLI::Option* discover = app.add_option("--discover", range_, panel::Text(TextId::HelpDiscover));
  discover->type_name("RANGE");
  if (app.get_option_no_throw("--json") == nullptr) {
    app.add_option("--json", json_, panel::Text(TextId::HelpJson))->type_name("FILE");
  }
  for (const char* other : {"--address", "--restore-xport", "--devices"}) {
    if (CLI::Option* o = app.get_option_no_throw(other)) discover->excludes(o);
  }
}

bool DiscoverCommand::requested() const {
  return app_.count("--discover") > 0;
}

int DiscoverCommand::Run(std::FILE* out, std::FILE* err, std::uint32_t localAddress) const {
  const std::string json = app_.get_option("--json")->as<std::string>();
  std::FILE* table = json == "-" ? err : out;

  xport::DiscoveryRange range;
  switch (xport::ParseDiscoveryRange(range_, &range)) {
    case xport::RangeError::None:
      break;
    case xport::RangeError::Unparseable:
      Line(err, FormatText(TextId::DiscoverUnparseable, {range_}));
      return 2;
    case xport::RangeError::TooLarge:
      Line(err, FormatText(TextId::DiscoverTooLarge, {range_}));
      return 2;
    case xport::RangeError::NotUnicast:
      Line(err, FormatText(TextId::DiscoverNotUnicast, {range_}));
      return 2;
  }
  Line(table, range.broadcast ? FormatText(TextId::DiscoverAskingBroadcast, {Seconds(1)})
                              : FormatText(range.addresses.size() == 1 ? TextId::DiscoverAskingOne
                                                                       : TextId::DiscoverAsking,
                                           {range_, std::to_string(range.addresses.size()),
                                            Seconds(range.addresses.size())}));
  std::fflush(table);

  const xport::DiscoveryResult result = xport::Discover(range, {}, localAddress);
  switch (result.failure) {
    case xport::DiscoveryFailure::None:
      break;
    case xport::DiscoveryFailure::Socket:
      Line(err, panel::Text(TextId::DiscoverSocket));
      return 1;
    case xport::DiscoveryFailure::Broadcast:
      Line(err, panel::Text(TextId::DiscoverBroadcast));
      return 1;
    case xport::DiscoveryFailure::Bind:
      Line(err, panel::Text(TextId::DiscoverBind));
      Line(err, panel::Text(TextId::BindHint));
      return 1;
  }

  nlohmann::json devices = nlohmann::json::array();
  if (!result.xports.empty()) Line(table, panel::Text(TextId::DiscoverHeader));
  for (const xport::DiscoveredXPort& x : result.xports) {
    const std::string address = platform::FormatIpv4(x.address);
    const std::string mac = xport::FormatMac(x.mac);
    const std::string port = x.recordRead ? std::to_string(x.localPort) : "-";
    const TextId settings = !x.recordRead     ? TextId::DiscoverNoRecord
                            : x.needsOverride ? TextId::DiscoverMustChange
                                              : TextId::DiscoverNoChange;
    Line(table, Pad(address, 16) + Pad(mac, 19) + Pad(port, 7) + panel::Text(settings));
    nlohmann::json device = {{"address", address}, {"mac", mac}};
    device["port"] = x.recordRead ? nlohmann::json(x.localPort) : nlohmann::json(nullptr);
    device["needs_override"] =
        x.recordRead ? nlohmann::json(x.needsOverride) : nlohmann::json(nullptr);
    devices.push_back(std::move(device));
  }
  Line(table, result.xports.empty()
                  ? FormatText(TextId::DiscoverNoneAnswered, {range_})
                  : FormatText(TextId::DiscoverAnswered, {std::to_string(result.xports.size())}));
  if (result.sendsRefused > 0) {
    Line(err, FormatText(TextId::DiscoverSendsRefused, {std::to_string(result.sendsRefused)}));
  }

  if (json.empty()) return 0;
  const std::string text = nlohmann::json{{"devices", devices}}.dump(2) + "\n";
  if (json == "-") {
    std::fputs(text.c_str(), out);
    return 0;
  }
  std::error_code why;
  if (!platform::WriteReport(platform::PathFromUtf8(json), text, &why)) {
    Line(err, FormatText(TextId::CannotWriteFile, {json}));
    return 1;
  }
  return 0;
}

}  // namespace ui
