// UTF-8 <-> UTF-16 for the wide-character Windows calls. Windows-only; included by the
// *_win32.cpp files and the Windows dialog, never by shared code.
#pragma once

#include <string>

namespace platform {

std::wstring ToWide(const std::string& utf8);
std::string ToUtf8(const std::wstring& wide);

}  // namespace platform
