#pragma once
// HolderProcess: a child process, "talvik-holder", that does `hold` (only async-signal-safe calls;
// false when it could not) and stays until the object goes or Leave() is called.

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>

namespace win::host::testing {

class HolderProcess {
 public:
  explicit HolderProcess(const std::function<bool()>& hold) {
    int ready[2];
    int stay[2];
    if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(stay, O_CLOEXEC) != 0) {
      throw std::runtime_error("no pipe");
    }
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(stay[1]);
      prctl(PR_SET_NAME, "talvik-holder");
      char byte = hold() ? 1 : 0;
      (void)!write(ready[1], &byte, 1);
      (void)!read(stay[0], &byte, 1);  // until the parent closes its end
      _exit(0);
    }
    close(ready[1]);
    close(stay[0]);
    stay_ = stay[1];
    char byte = 0;
    holding_ = read(ready[0], &byte, 1) == 1 && byte == 1;
    close(ready[0]);
  }
  ~HolderProcess() { Leave(); }
  HolderProcess(const HolderProcess&) = delete;
  HolderProcess& operator=(const HolderProcess&) = delete;

  pid_t Pid() const { return pid_; }
  bool Holding() const { return holding_; }
  void Leave() {
    if (stay_ >= 0) {
      close(stay_);
      stay_ = -1;
      waitpid(pid_, nullptr, 0);
    }
  }

 private:
  pid_t pid_ = -1;
  int stay_ = -1;
  bool holding_ = false;
};

}  // namespace win::host::testing
