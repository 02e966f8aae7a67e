#pragma once
// HostPortClaim: what Talvik holds besides the descriptor while a port is open: its lock file, if
// it could write one, and its part in the open watch, which must know of our own opens and closes.

#include <memory>
#include <string>
#include <utility>

#include "platform/host/HostOpenWatch.h"
#include "platform/host/HostOwnLock.h"

namespace win::host {

class HostPortClaim {
 public:
  HostPortClaim(std::shared_ptr<HostOpenWatch> watch, std::string node,
                std::unique_ptr<HostOwnLock> lock)
      : watch_(std::move(watch)), node_(std::move(node)), lock_(std::move(lock)) {}

  void BeforeOpen() { watch_->OwnOpen(node_); }
  void OpenFailed() { watch_->OwnOpenFailed(node_); }
  void BeforeClose() { watch_->OwnClose(node_); }

 private:
  std::shared_ptr<HostOpenWatch> watch_;
  std::string node_;
  std::unique_ptr<HostOwnLock> lock_;  // removed with the claim, after the close
};

}  // namespace win::host
