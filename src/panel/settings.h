// The program's settings file, for what a dialog has no box for: settings.conf in the
// settings folders (platform::ConfigFolders: the user's first, then the machine's), one
// "key = value" per line, '#' starting a comment. The dialogs read their local address
// from it ("bind = 192.168.0.5"), as DERURUZUD-cli takes it from --bind.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace panel {

// The first folder's value for key; empty when no file says.
std::string Setting(const std::string& key);

// The local address a dialog binds: given (a --bind on its command line) or the "bind"
// setting; 0 when neither names one. *error says what is wrong when the address is not
// one of this computer's (then nullopt).
std::optional<std::uint32_t> LocalAddressSetting(const std::string& given, std::string* error);

}  // namespace panel
