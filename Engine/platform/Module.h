// Shared objects loaded at run time by name (render device modules). A module "<name>.so" is
// looked for beside libEngine.so first and then through the system's normal library search.
// Handles are opaque; each successful LoadModule is balanced by one UnloadModule (the system
// counts references, so loading the same module twice gives the same module twice counted).
// Any thread may call these functions.
#pragma once

#include <string>

namespace GAME::Platform {

struct ModuleHandleTag;
using ModuleHandle = ModuleHandleTag*;

// Loads "<name>.so". Only plain names are accepted (no folder separators, not empty). Returns
// null on failure and, when error is given, the loader's reason.
ModuleHandle LoadModule(const char* name, std::string* error = nullptr);

// Address of an exported symbol of the module, null when it has none.
void* FindModuleSymbol(ModuleHandle module, const char* symbol);

// Gives back one reference to the module; false for a null handle or when the system refuses.
bool UnloadModule(ModuleHandle module);

} // namespace GAME::Platform
