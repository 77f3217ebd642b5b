// Where the running program's own file lies.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

// The folder that holds the program file, without a trailing separator; empty when it
// cannot be found.
std::string ProgramFolder();

// Joins a folder and a name with the platform's separator. An absolute name is returned
// as it is.
std::string JoinPath(const std::string& folder, const std::string& name);

// fopen for a UTF-8 path, also where the C library's own fopen takes the ANSI code page.
std::FILE* OpenFile(const std::string& path, const char* mode);

}  // namespace platform
