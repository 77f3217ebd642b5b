// Where the running program's own file lies, and paths to and from UTF-8 text.
//
// Paths are carried as std::filesystem::path: on Windows it holds the UTF-16 name that the
// wide-character calls take, so a folder such as C:\Users\田中 works whatever the ANSI code
// page. Never build one from a narrow std::string there: that reads the bytes in the ANSI
// code page. Text (a command-line argument, a notice) is UTF-8; convert with the two
// functions below.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace platform {

// The folder that holds the program file; empty when it cannot be found.
std::filesystem::path ProgramFolder();

// The path that UTF-8 text names, and a path as UTF-8 text (empty if the system's name
// has no UTF-8 form, such as a lone UTF-16 surrogate).
inline std::filesystem::path PathFromUtf8(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string PathToUtf8(const std::filesystem::path& path) {
  try {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
  } catch (const std::exception&) {
    return {};
  }
}

// fopen for any path the system can name (on Windows through the wide-character call).
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);

}  // namespace platform
