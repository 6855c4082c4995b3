// The idle-lock settings, kept in the store's configuration file under a section of their own
// so they travel with the volume; copies of the program that do not know the section ignore
// it. Both calls need a mounted store (without one the reads give the defaults and the write
// fails) and take the engine lock, so any thread may call them.
#pragma once

struct XXTimeoutValues {
    static constexpr int defaultIdleLockMinutes = 10;
    static constexpr int maxIdleLockMinutes = 120;

    // 0 for off, else 1 to maxIdleLockMinutes.
    int idleLockMinutes = defaultIdleLockMinutes;
    // Lock when the desktop's screen locks or the computer goes to sleep.
    bool lockOnScreenLock = true;

    bool operator==(const XXTimeoutValues &) const = default;
};

namespace xxtimeout {

// A missing, empty or malformed value (not decimal digits, or above the maximum) reads as its
// default, so a damaged file never switches the lock off.
XXTimeoutValues readTimeoutSettings();

// Writes both values, the second even when the first failed. True when both read back as
// written; otherwise *systemErrorNumber (when given) is the errno the failed write left (0
// when it left none). Minutes outside 0..max are refused unwritten.
bool writeTimeoutSettings(const XXTimeoutValues &values, int *systemErrorNumber = nullptr);

}  // namespace xxtimeout
