#include "platform/user_environment.h"

#include <windows.h>

#include <cstdlib>

#include "platform/text_win32.h"

namespace platform {

std::string UserLanguageName() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  const LCID lcid = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
  if (LCIDToLocaleName(lcid, name, LOCALE_NAME_MAX_LENGTH, 0) == 0) return {};
  return ToUtf8(name);
}

std::filesystem::path UserDataFolder() {
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (!local || !*local) return {};
  return std::filesystem::path(local) / L"DERURUZUD";
}

const char* UserDataFolderHint() {
  return "%LOCALAPPDATA%\\DERURUZUD";
}

std::vector<std::filesystem::path> ConfigFolders() {
  const wchar_t* roaming = _wgetenv(L"APPDATA");
  if (!roaming || !*roaming) return {};
  return {std::filesystem::path(roaming) / L"DERURUZUD"};
}

std::filesystem::path SystemConfigFolder() {
  return {};
}

}  // namespace platform
