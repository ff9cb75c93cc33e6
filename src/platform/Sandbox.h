// The confinement a plug-in helper puts itself in before it loads any plug-in: no descriptors but
// its socket (and /dev/null for the standard ones), limits on memory, processor time and file
// size, the end of the process with the program's, and a system-call filter that lets it read
// files and use memory but not write, create or remove files, open sockets, start programs, trace
// or signal other processes.
#pragma once

#include <string>

namespace Sandbox {

// The processor time a helper may use in all, and the share after which it hands its work on to a
// fresh helper before the limit ends it.
inline constexpr int kCpuLimitSeconds = 300;
inline constexpr int kCpuRetireSeconds = 240;
// The memory (data segment) a helper may use.
inline constexpr unsigned long long kMemoryLimitBytes = 4ull << 30;

// When this environment variable is "1", a helper keeps the error output it was started with
// instead of /dev/null: a debugging aid (what a plug-in prints, a sanitizer's report).
inline constexpr char kKeepErrorOutputVariable[] = "QUILLA_HELPER_STDERR";
bool KeepsErrorOutput();

// Ends the process with the program of that process ID (false when it has already gone), and
// closes every descriptor but keepFd.
bool FollowParent(long parentPid);
void CloseInherited(int keepFd);
// Sets the limits and installs the filter; false with the reason when the filter cannot be had.
bool Enter(std::string* reason);
// The processor time the process has used, in seconds.
double CpuSeconds();

} // namespace Sandbox
