#pragma once
// OpenModule, CloseModule and FindModuleSymbol: loading a library into a handle variable and
// finding its exports by name.

#include "platform/Win32.h"

// Loads `fileName` into `module` unless it already holds a library; true when it holds one now.
bool OpenModule(win::HMODULE& module, const char* fileName);

// Frees the library `module` holds, if any; `module` holds none afterwards.
void CloseModule(win::HMODULE& module);

// The export `name` of `module`, or null. A null result clears `allFound`; a found export leaves
// it as it was, so a run of lookups leaves it set only when every one succeeded.
win::FARPROC FindModuleSymbol(win::HMODULE module, const char* name, bool& allFound);
