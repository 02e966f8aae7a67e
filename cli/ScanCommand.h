#pragma once
// RunScanCommand and ScanCommandHooks: talvik-scan: runs the window's scan without showing the
// window and prints its rows.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

struct ScanCommandHooks {
  // Called after each printed report with its number (1, 2, ...). In --watch mode the command
  // ends when it returns false; without --watch it is called once.
  std::function<bool(int report)> AfterReport;
};

// Runs the command with its arguments (the program name left out). A QApplication must exist.
// Returns the exit status: 0 after a completed scan, 1 when the device world or the enumeration
// failed, 2 for bad options.
int RunScanCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const ScanCommandHooks& hooks = {});

std::string ScanCommandUsage();
