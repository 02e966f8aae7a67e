// Library loading over the registry of built-in modules. A loaded module keeps the registered
// instance it was loaded from, so replacing or removing a registration never breaks a module
// handle that is still held. A name with no built-in module is the system's library when the
// device world of the process is the system itself; a module handle that is not a built-in one
// goes to the system (where there is none, it is unknown).

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <mutex>

#include "platform/Additions.h"
#include "platform/SystemHandles.h"
#include "platform/devices/DeviceWorldRegistry.h"
#include "platform/devices/SetupApiModule.h"

namespace win {

namespace {

// Handles of built-in modules count up from here in steps of 64 KiB. They are never on a 64 KiB
// boundary, where the system loads its modules, so none can name a real one.
constexpr ULONG_PTR kFirstModule = (ULONG_PTR{1} << 40) + 0x100;

// A module that may be the system's: any value that is not of the built-in modules' kind.
bool SystemModule(HMODULE module) {
  const auto value = reinterpret_cast<ULONG_PTR>(module);
  return value < kFirstModule || (value & 0xFFFF) != (kFirstModule & 0xFFFF);
}

std::string Folded(std::string_view name) {
  std::string folded(name);
  std::transform(folded.begin(), folded.end(), folded.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  // A name without an extension means a .dll, as the system loader reads it.
  if (folded.find('.') == std::string::npos) {
    folded += ".dll";
  }
  return folded;
}

struct LoadedModule {
  std::shared_ptr<const BuiltinModule> module;
  int references = 0;
};

class ModuleRegistry {
 public:
  ModuleRegistry() { Register(detail::SetupApiModule()); }

  void Register(BuiltinModule module) {
    std::lock_guard lock(mutex_);
    auto key = Folded(module.name);
    registered_[key] = std::make_shared<const BuiltinModule>(std::move(module));
  }

  void Unregister(const std::string& name) {
    std::lock_guard lock(mutex_);
    registered_.erase(Folded(name));
  }

  bool Knows(std::string_view name) {
    std::lock_guard lock(mutex_);
    return registered_.contains(Folded(name));
  }

  HMODULE Load(std::string_view name) {
    std::lock_guard lock(mutex_);
    auto found = registered_.find(Folded(name));
    if (found == registered_.end()) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    const auto& module = found->second;
    if (module->loadError != ERROR_SUCCESS) {
      SetLastError(module->loadError);
      return nullptr;
    }
    auto loaded = std::find_if(loaded_.begin(), loaded_.end(),
                               [&](const auto& entry) { return entry.second.module == module; });
    if (loaded == loaded_.end()) {
      nextHandle_ += 0x10000;
      loaded = loaded_.emplace(nextHandle_, LoadedModule{module, 0}).first;
    }
    ++loaded->second.references;
    return reinterpret_cast<HMODULE>(loaded->first);
  }

  FARPROC Find(HMODULE handle, std::string_view procName) {
    std::lock_guard lock(mutex_);
    auto loaded = loaded_.find(reinterpret_cast<ULONG_PTR>(handle));
    if (loaded == loaded_.end()) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    const auto& exports = loaded->second.module->exports;
    auto found = std::find_if(exports.begin(), exports.end(),
                              [&](const auto& entry) { return entry.first == procName; });
    if (found == exports.end() || found->second == nullptr) {
      SetLastError(ERROR_PROC_NOT_FOUND);
      return nullptr;
    }
    return found->second;
  }

  BOOL Free(HMODULE handle) {
    std::lock_guard lock(mutex_);
    auto loaded = loaded_.find(reinterpret_cast<ULONG_PTR>(handle));
    if (loaded == loaded_.end()) {
      SetLastError(ERROR_MOD_NOT_FOUND);  // as Windows answers for a module it does not know
      return FALSE;
    }
    if (--loaded->second.references == 0) {
      loaded_.erase(loaded);
    }
    return TRUE;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<const BuiltinModule>> registered_;
  std::map<ULONG_PTR, LoadedModule> loaded_;
  ULONG_PTR nextHandle_ = kFirstModule;
};

ModuleRegistry& Registry() {
  static ModuleRegistry& registry = *new ModuleRegistry;  // never destroyed: see Waitable.cpp
  return registry;
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR fileName) {
  if (fileName == nullptr || *fileName == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!Registry().Knows(fileName) && CurrentDeviceWorld()->LoadsSystemLibraries()) {
    return detail::LoadSystemLibrary(fileName);
  }
  return Registry().Load(fileName);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
  // Lookups by ordinal (a small number in place of the name) are not offered.
  if (procName == nullptr || reinterpret_cast<ULONG_PTR>(procName) <= 0xFFFF) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (SystemModule(module)) {
    return detail::FindSystemProc(module, procName);
  }
  return Registry().Find(module, procName);
}

BOOL FreeLibrary(HMODULE module) {
  if (SystemModule(module)) {
    return detail::FreeSystemLibrary(module);
  }
  return Registry().Free(module);
}

void RegisterBuiltinModule(BuiltinModule module) {
  Registry().Register(std::move(module));
}

void UnregisterBuiltinModule(const std::string& name) {
  Registry().Unregister(name);
}

}  // namespace win
