// Worker threads and the user-interface thread sharing the machine's cores.
#pragma once

namespace Threads {

// Gives the calling thread a lower scheduling priority (nice 10), so that the user-interface
// thread is scheduled first whenever it has work while the workers keep every core busy.
void LowerCurrentPriority();

// The number of cores this process may run on (its CPU affinity), at least 1.
int UsableCores();

} // namespace Threads
