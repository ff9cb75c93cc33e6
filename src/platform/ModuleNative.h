// Loading a shared module by its path and looking up its exports, and telling a module for
// another system by its header, with paths and reasons as bytes (UTF-8): the plug-in helper's
// part of Module.h, without Qt.
#pragma once

#include <string>

namespace Module {

// A loaded module; null when loading failed.
using Handle = void*;

// Loads the module with every symbol resolved at once. On failure returns null and says why.
Handle OpenNative(const char* path, std::string* reason = nullptr);
// The export of that name, or null.
void* Symbol(Handle module, const char* name);
// Why the file cannot be a module of this system, read from its header without loading it ("" when
// it may be: a shared object for this processor and word size, or no such object at all, which
// the loader then explains).
std::string ForeignReasonNative(const char* path);

} // namespace Module
