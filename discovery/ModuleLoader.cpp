#include "discovery/ModuleLoader.h"

using namespace win;

bool OpenModule(HMODULE& module, const char* fileName) {
  if (module == nullptr) {
    module = win::LoadLibraryA(fileName);
  }
  return module != nullptr;
}

void CloseModule(HMODULE& module) {
  if (module != nullptr) {
    win::FreeLibrary(module);
  }
  module = nullptr;
}

FARPROC FindModuleSymbol(HMODULE module, const char* name, bool& allFound) {
  FARPROC symbol = nullptr;
  if (module != nullptr) {
    symbol = win::GetProcAddress(module, name);
  }
  if (symbol == nullptr) {
    allFound = false;
  }
  return symbol;
}
