// The console the command-line programs talk to.
#pragma once

namespace platform {

// Whether standard input / output is an interactive terminal (a console window).
bool StdinIsTerminal();
bool StdoutIsTerminal();

// Makes the console show the program's UTF-8 output as it is (Windows: the console's
// output code page becomes UTF-8; elsewhere nothing to do).
void UseUtf8Console();

}  // namespace platform
