#include "app/ScanRunner.h"

#include "app/Unit1.h"

TScanRunner::TScanRunner() : Form_(std::make_unique<TForm1>()) {
  QObject::connect(Form_.get(), &TForm1::ScanFinished, Form_.get(), [this] {
    if (OnScanFinished) {
      OnScanFinished();
    }
  });
}

TScanRunner::~TScanRunner() = default;

const std::vector<PortRecord>& TScanRunner::Records() const {
  return Form_->Records();
}

bool TScanRunner::DiscoveryFailed() const {
  return Form_->DiscoveryFailed();
}

bool TScanRunner::RescanDue() const {
  return Form_->RescanDue();
}
