// The power-state watch and the automatic key lock: a worker thread that records each
// system power-state change (and may unlock the keypad when the phone wakes), and the
// watch-tick step that locks the keypad after the chosen idle time.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/windows.h"

// A power-state name that two threads replace whole and read. A mutex guards the
// string, so a reader copies either the old or the new name, never a half-written one;
// the lock is held only for the copy and never across a platform call.
class PowerStateName {
public:
    WString get() const;
    void set(WStringView name);
    bool equals(WStringView name) const;

private:
    mutable std::mutex mutex_;
    WString name_;
};

// The power-state name last recorded; empty at program start.
extern PowerStateName g_strLastPowerState;
// Watch ticks since the last power notification or key-lock check.
extern std::atomic<LONG> g_nIdleTicks;
// Auto-reset event whose signal ends PowerWatchThread, and that thread.
extern HANDLE g_hStopEvent;
extern HANDLE g_hPowerThread;

// Gives the shared values their program-start state (empty name, zero count, no handles).
void ResetPowerWatchState();

// Creates the stop event, starts PowerWatchThread when the event exists, then records
// the current power state once on the calling thread.
void StartPowerWatch();
// Signals the stop event, waits for the thread to end and closes both handles.
void StopPowerWatch();
DWORD PowerWatchThread(LPVOID);
// Reads the current power-state name, restarts the idle count, unlocks the keypad on a
// recorded change from "useridle" to "on" when enabled, and records the name.
void OnPowerStateChange();
// One watch tick of the automatic key lock.
void CheckAutoKeylock();
// One silent key-down and key-up of a virtual key.
void PressKey(BYTE vk);
