// Where the program keeps files that must outlive a run (the XPort records it changed).
#pragma once

#include <cstddef>
#include <filesystem>

namespace platform {

// $XDG_STATE_HOME/DERURUZUD, else ~/.local/state/DERURUZUD; on Windows
// %LOCALAPPDATA%\DERURUZUD (the folder may not exist yet). Empty when none can be found.
std::filesystem::path StateFolder();

// Writes bytes to path through a temporary file and a rename, so that the file is either
// whole or absent. Creates the folders on the way. False on any failure (nothing left).
bool WriteFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size);

}  // namespace platform
