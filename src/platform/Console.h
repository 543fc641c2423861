#pragma once
// The standard output and error of the command-line programs. The programs
// write UTF-8 to std::cout and std::cerr; SetUpConsoleOutput(), called first
// thing in main, makes that text arrive readable:
// - POSIX: nothing to do (terminals, pipes and files take the UTF-8 bytes).
// - Windows: a stream that is a console gets the text as UTF-16 through
//   WriteConsoleW (Cyrillic shows whatever the console's code page); a pipe
//   or a file gets the UTF-8 bytes unchanged, with '\n' line ends as on
//   Linux (binary mode). C stdio output to a console is sent as UTF-8 too
//   (the console's output code page is UTF-8 until the program exits).
namespace ordana {

void SetUpConsoleOutput();

}  // namespace ordana
