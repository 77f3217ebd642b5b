// Where the program keeps files that must outlive a run (the XPort records it changed, the
// history of runs), and the file operations on them.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace platform {

// $XDG_STATE_HOME/DERURUZUD, else ~/.local/state/DERURUZUD (the folder may not exist
// yet). Empty when neither can be found.
std::filesystem::path StateFolder();

// Writes bytes to path through a temporary file and a rename, so that the file is either
// whole or absent. Creates the folders on the way. False on any failure (nothing left).
bool WriteFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size);
// The same, but never replaces: false (and nothing written) when path already exists, so
// two writers that picked the same name cannot overwrite each other.
bool CreateFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size);

// Appends line and a line end to a text file (created with its folders when missing) in
// one write, and flushes it to the disk. A last line left without its end (a crash while
// it was written) is ended first, so a broken line never swallows the next one. False on
// any failure.
bool AppendLine(const std::filesystem::path& path, const std::string& line);

// Reads a whole file. False when it cannot be read (*out untouched).
bool ReadWholeFile(const std::filesystem::path& path, std::string* out);

}  // namespace platform
