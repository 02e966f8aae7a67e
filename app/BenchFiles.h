#pragma once
// FindBenchFile and BenchFolder: bench files by name: "demo" is the demo bench that comes with the
// program.

#include <string>

// The bench file that `nameOrPath` names. A path (an existing file, or any text with a "/" or
// ending in ".json") is taken as it is; a plain name is looked up as <name>.json in the benches
// folder beside the program (<program folder>/benches, as the Windows package has it, or else
// <program folder>/../share/talvik/benches, as installed on Linux and in the build tree). Throws
// std::runtime_error, saying where it looked, when no bench has that name. Needs the
// QCoreApplication to exist.
std::string FindBenchFile(const std::string& nameOrPath);

// The folder where benches are looked up by name.
std::string BenchFolder();
