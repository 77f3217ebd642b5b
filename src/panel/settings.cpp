#include "panel/settings.h"

#include "panel/target.h"
#include "panel/text_catalog.h"
#include "platform/socket.h"
#include "platform/state_folder.h"
#include "platform/user_environment.h"

namespace panel {
namespace {

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::string Setting(const std::string& key) {
  for (const auto& folder : platform::ConfigFolders()) {
    std::string text;
    if (!platform::ReadWholeFile(folder / "settings.conf", &text)) continue;
    std::size_t at = 0;
    while (at < text.size()) {
      std::size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      const std::string line = Trim(text.substr(at, end - at).substr(0, text.substr(at, end - at).find('#')));
      at = end + 1;
      const std::size_t eq = line.find('=');
      if (eq != std::string::npos && Trim(line.substr(0, eq)) == key) return Trim(line.substr(eq + 1));
    }
  }
  return {};
}

std::optional<std::uint32_t> LocalAddressSetting(const std::string& given, std::string* error) {
  const std::string text = given.empty() ? Setting("bind") : given;
  if (text.empty()) return 0;
  const auto address = device::ParseIpv4(text);
  if (!address || !platform::IsLocalAddress(*address)) {
    *error = FormatText(TextId::BadBind, {text});
    return std::nullopt;
  }
  return *address;
}

}  // namespace panel
