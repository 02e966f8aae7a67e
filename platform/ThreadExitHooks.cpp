#include "platform/ThreadExitHooks.h"

#include <map>
#include <mutex>
#include <shared_mutex>

#include "platform/Additions.h"
#include "platform/KernelObject.h"

namespace win {

namespace {

// Hooks run under the shared lock, so RemoveThreadExitHook returns only once no ending thread
// can still be inside the removed hook. A hook must not add or remove hooks itself.
struct HookRegistry {
  std::shared_mutex mutex;
  std::map<int, ThreadExitHook> hooks;
  int nextId = 0;
};

thread_local bool runningHooks = false;

HookRegistry& Registry() {
  static HookRegistry& registry = *new HookRegistry;  // never destroyed: see Waitable.cpp
  return registry;
}

}  // namespace

int AddThreadExitHook(ThreadExitHook hook) {
  auto& registry = Registry();
  std::unique_lock lock(registry.mutex);
  const int id = ++registry.nextId;
  registry.hooks.emplace(id, std::move(hook));
  return id;
}

void RemoveThreadExitHook(int id) {
  auto& registry = Registry();
  std::unique_lock lock(registry.mutex);
  registry.hooks.erase(id);
}

void detail::RunThreadExitHooks(DWORD threadId) {
  auto& registry = Registry();
  std::shared_lock lock(registry.mutex);
  runningHooks = true;
  for (const auto& [id, hook] : registry.hooks) {
    try {
      hook(threadId);
    } catch (...) {
      HandleApplicationException(std::current_exception());
    }
  }
  runningHooks = false;
}

bool detail::InThreadExitHooks() {
  return runningHooks;
}

}  // namespace win
