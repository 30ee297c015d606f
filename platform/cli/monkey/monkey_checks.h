// The promises `quillon monkey` holds every run of the phone to, read from what the run
// left behind: how its process ended, its event log and the carrier's phone book in the
// registry afterwards. Pure functions of that record (no processes, no files), so that
// each reading can be tried on small hand-made logs.
#pragma once

#include <string>
#include <vector>

#include "platform/handset/registry/store.h"

namespace cli::monkey {

// The invariants by the names reports give them.
inline constexpr char kRunEnded[] = "run-ended";                 // no hang, no abort
inline constexpr char kPhoneBook[] = "phone-book";               // every entry value kept, once
inline constexpr char kNoLockInCall[] = "no-key-lock-in-call";   // key 133 never injected in a call
inline constexpr char kReminderPending[] = "reminder-pending";   // no reminder for 0 or in a call
inline constexpr char kOneMainWindow[] = "one-main-window";      // at most one main dialog open
inline constexpr char kSilentInjection[] = "silent-injection";   // injected keys make no click
inline constexpr char kSoundExists[] = "count-sound-exists";     // every program sound is there
// A setting the screen showed as changed is stored by the run's end, or was refused
// while a storage fault was on and the refusal written to the debug output.
inline constexpr char kSettingStored[] = "setting-stored";

struct Violation {
    std::string invariant;  // one of the names above
    std::string detail;     // what broke it, with the event's line and handset time
};

// How the phone's process ended.
struct RunEnd {
    bool hung = false;        // the watchdog had to end it
    int signal = 0;           // the signal that ended it; 0 when it exited
    int exit_code = 0;        // when it exited
    std::string diagnostics;  // what it wrote on stderr
};

struct RunRecord {
    RunEnd end;
    std::vector<std::string> log;      // the event log, one JSON object a line
    handset::RegTree factory_book;              // HKCU Comm\RasBook as the factory wrote it
    handset::RegTree book;                      // the same key after the run (no subkeys: gone)
    std::u16string program_folder;     // device folder of Quillon.exe, without a trailing backslash
    int main_dialog = 0;               // template id of Quillon's main window
};

// Every violation of the run, the ending first, then in log order.
std::vector<Violation> check_run(const RunRecord& run);

}  // namespace cli::monkey
