#pragma once
// TScanRunner: the window's scan cycle for front ends that print it instead of showing it: the
// main window is made but never shown, and its records are handed out after each scan.

#include <functional>
#include <memory>
#include <vector>

#include "app/ScanModel.h"

class TForm1;

class TScanRunner {
 public:
  // Needs the QApplication and the TApplication to exist. The first scan starts once the event
  // loop runs.
  TScanRunner();
  ~TScanRunner();
  TScanRunner(const TScanRunner&) = delete;
  TScanRunner& operator=(const TScanRunner&) = delete;

  // Called on the main thread each time a scan has finished.
  std::function<void()> OnScanFinished;

  const std::vector<PortRecord>& Records() const;
  // The discovery of the last scan failed (its records are the ports found until then).
  bool DiscoveryFailed() const;
  // A port arrived or went while the last scan ran: the next one has been asked for.
  bool RescanDue() const;

 private:
  std::unique_ptr<TForm1> Form_;
};
