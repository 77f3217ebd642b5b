// The console the command-line programs talk to.
#pragma once

namespace platform {

// Whether standard input / output is an interactive terminal (a console window).
bool StdinIsTerminal();
bool StdoutIsTerminal();

// Makes the console show the program's UTF-8 output as it is and follow the escape
// sequences that redraw a line (Windows: the console's code page becomes UTF-8 and its
// virtual terminal processing is turned on; elsewhere nothing to do).
void UseUtf8Console();

}  // namespace platform
