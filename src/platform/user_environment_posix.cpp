#include "platform/user_environment.h"

#include <cstdlib>

namespace platform {

std::string UserLanguageName() {
  // The same precedence the C library gives these variables for messages; an empty
  // variable counts as unset.
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return {};
}

std::filesystem::path UserDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg == '/') return std::filesystem::path(xdg) / "DERURUZUD";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::filesystem::path(home) / ".local/share/DERURUZUD";
  return {};
}

const char* UserDataFolderHint() {
  return "$XDG_DATA_HOME/DERURUZUD (~/.local/share/DERURUZUD)";
}

std::vector<std::filesystem::path> ConfigFolders() {
  std::vector<std::filesystem::path> folders;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (xdg && *xdg == '/') {
    folders.push_back(std::filesystem::path(xdg) / "DERURUZUD");
  } else if (home && *home) {
    folders.push_back(std::filesystem::path(home) / ".config/DERURUZUD");
  }
  folders.push_back(SystemConfigFolder());
  return folders;
}

std::filesystem::path SystemConfigFolder() {
  return "/etc/DERURUZUD";
}

}  // namespace platform
