// ErrorText's platform half, for the platform's own files only.
#pragma once

#include <system_error>

namespace platform {

// The short reason for a code of this system's own that std::errc does not stand for
// (Windows' file errors); nullptr for every other code.
const char* SystemErrorText(const std::error_code& why);

}  // namespace platform
