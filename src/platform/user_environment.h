// What the user's session says about the operator: the language they read, and the
// per-user folder where a data file may be kept.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace platform {

// The user's message language as a locale name: on POSIX the first of LC_ALL,
// LC_MESSAGES and LANG that is set and not empty ("en_US.UTF-8", "C", ...); on Windows
// the user's UI language ("en-US", "ja-JP"). Empty when nothing says.
std::string UserLanguageName();

// The per-user folder for the program's data files: $XDG_DATA_HOME/DERURUZUD (only an
// absolute XDG_DATA_HOME counts), else ~/.local/share/DERURUZUD; on Windows
// %LOCALAPPDATA%\DERURUZUD. Empty when none can be named. The folder may not exist.
std::filesystem::path UserDataFolder();

// How the same folder reads in a help text, with its variables unexpanded.
const char* UserDataFolderHint();

// The folders that hold the program's settings, the user's first: on POSIX
// $XDG_CONFIG_HOME/DERURUZUD (only an absolute one counts, else ~/.config/DERURUZUD) and
// /etc/DERURUZUD; on Windows %APPDATA%\DERURUZUD. Folders that cannot be named are left
// out; they may not exist.
std::vector<std::filesystem::path> ConfigFolders();
// The machine's own settings folder, which only an administrator writes: /etc/DERURUZUD;
// empty on Windows, which has none of its own here.
std::filesystem::path SystemConfigFolder();

}  // namespace platform
