// The state of the keyboard's lock keys, for the status bar's indicators.
#pragma once

namespace KeyLocks {

enum Lock { Kana, Caps, Num, Scroll };

// True when the lock is on; false when it is off or the platform cannot tell.
bool IsOn(Lock lock);

} // namespace KeyLocks
