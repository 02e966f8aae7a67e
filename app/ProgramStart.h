#pragma once
// AnswerInfoOption and TDisplayStart: what the window programs do before the window system is
// reached: --help and --version answer without a display, and a missing display ends the program
// with one line instead of Qt's abort.

#include <optional>
#include <string>

// Prints `usage` for -h or --help, or "<program> <version>" for --version, and gives the exit
// status; nothing for other arguments, which are Qt's or the program's own.
std::optional<int> AnswerInfoOption(int argc, char** argv, const char* program, const char* usage);

// Lives while the QApplication is made. Where no display is named, or the one named cannot be
// reached, prints "<program>: ..." in one line and exits with status 1.
class TDisplayStart {
 public:
  explicit TDisplayStart(const char* program);
  ~TDisplayStart();
  TDisplayStart(const TDisplayStart&) = delete;
  TDisplayStart& operator=(const TDisplayStart&) = delete;
};

// Per system: why no display can be reached, where the environment already tells (nothing when
// one may be); and, for a program of the window subsystem, the console of the program that
// started it as its standard output.
std::optional<std::string> MissingDisplay();
void UseStartingConsole();
