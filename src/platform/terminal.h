// The console the command-line programs talk to.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

// The program's command line as UTF-8 arguments, its own name first. On Windows it is read
// again as UTF-16 from the system (argv holds the ANSI code page's reading of it, which
// turns a name such as C:\田中\quivo.HEX into question marks); elsewhere argv is passed
// through as it is.
std::vector<std::string> CommandLineArgs(int argc, char** argv);

// Whether standard input / output is an interactive terminal (a console window).
bool StdinIsTerminal();
bool StdoutIsTerminal();

// The terminal standard output shows in, as rows and columns; 0 for what cannot be told
// (not a terminal).
struct TerminalSize {
  std::size_t rows = 0;
  std::size_t columns = 0;
};
TerminalSize OutputTerminalSize();

// Makes the console show the program's UTF-8 output as it is and follow the escape
// sequences that redraw a line (Windows: the console's code page becomes UTF-8 and its
// virtual terminal processing is turned on; elsewhere nothing to do).
void UseUtf8Console();

}  // namespace platform
