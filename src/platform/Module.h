// Loading a shared module (a plug-in) by its path and looking up its exports, and checking a
// module in a short-lived child process before it is loaded into this one.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace Module {

// A loaded module; null when loading failed.
using Handle = void*;

// Loads the module with every symbol resolved at once. On failure returns null and says why.
Handle Open(const QString& path, QString* reason = nullptr);
// The export of that name, or null.
void* Symbol(Handle module, const char* name);
// The full path of the loaded module as the loader reports it.
QString PathOf(Handle module);
void Close(Handle module);

// Runs `checker module` for each module at once (a few at a time) and waits for them; a module
// passes when the checker exits with 0 within timeoutMs. Returns, per module, "" when it passed,
// else the reason (the checker's first line of error output, the signal that ended it, or the
// time-out).
std::vector<QString> CheckInChild(const QString& checker, const QStringList& modules,
                                  int timeoutMs);

} // namespace Module
