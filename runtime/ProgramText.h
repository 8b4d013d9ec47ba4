// The text that passes between a program without a window and whoever
// started it, as the program's own UTF-8: its arguments, and its output on a
// console. On Windows a char* main() gets its arguments in the system's code
// page, which cannot hold a folder named in another script, and a console
// shows bytes in that code page too; the platform's file beside this one
// reads and writes them as UTF-8 instead. No platform type here.
#pragma once

#include <string>
#include <vector>

/// The program's arguments, its own name first, as UTF-8. On Windows they
/// are read anew from the system's 16-bit command line, whatever argv holds;
/// elsewhere they are argv as it is, which the system passes as the bytes
/// given.
std::vector<std::string> ProgramArguments(int argc, char** argv);

/// From now on the program's UTF-8 output reads as written on the console
/// it runs in: on Windows a console's output code page is UTF-8 until the
/// program ends (the console's own restored then). Output to a pipe or a
/// file is bytes, as ever; terminals elsewhere take UTF-8 as they are.
void UseUtf8Console();
