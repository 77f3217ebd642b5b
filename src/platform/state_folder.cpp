#include "platform/state_folder.h"

#include <cctype>
#include <string>

#include "platform/system_error_text.h"

namespace platform {

std::string ErrorText(const std::error_code& why) {
  if (const char* own = SystemErrorText(why)) return own;
  // The common reasons in English whatever the locale (strerror follows LC_MESSAGES).
  static const struct {
    std::errc code;
    const char* text;
  } kTexts[] = {
      {std::errc::permission_denied, "permission denied"},
      {std::errc::read_only_file_system, "read-only file system"},
      {std::errc::no_space_on_device, "no space left on device"},
      {std::errc::not_a_directory, "not a directory"},
      {std::errc::no_such_file_or_directory, "no such file or directory"},
      {std::errc::is_a_directory, "is a directory"},
      {std::errc::file_exists, "file exists"},
  };
  for (const auto& t : kTexts) {
    if (why == t.code) return t.text;
  }
  // Windows' messages end with a full stop and a line end.
  std::string text = why.message();
  while (!text.empty() &&
         (std::isspace(static_cast<unsigned char>(text.back())) || text.back() == '.')) {
    text.pop_back();
  }
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

}  // namespace platform
