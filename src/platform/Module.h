// Loading a shared module (a plug-in) by its path and looking up its exports, and telling a module
// for another system by its header.
#pragma once

#include "platform/ModuleNative.h"

#include <QString>

namespace Module {

// Loads the module with every symbol resolved at once. On failure returns null and says why.
Handle Open(const QString& path, QString* reason = nullptr);
// The full path of the loaded module as the loader reports it.
QString PathOf(Handle module);
void Close(Handle module);
// Why the file cannot be a module of this system, read from its header without loading it ("" when
// it may be: a shared object for this processor and word size, or no such object at all, which
// the loader then explains).
QString ForeignReason(const QString& path);

} // namespace Module
