// The phone's own calls against their documentation. Wine can check the half of the
// platform that the desktop shares; for the phone-only half (message queues, power
// notifications and timeouts, the soft-key bar, sounds, the key lock, the state values,
// vibration) the reference pages are the only independent word. Each case therefore
// carries the documented outcome as text, under a comment naming its reference page,
// and observes the handset's outcome in the same words. A case holds when the two are
// equal; a difference kept on purpose names its reason, and tools/conformance prints
// every case as "phone<TAB>name<TAB>documented<TAB>handset<TAB>reason".
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/windows.h"

namespace phone_conformance {

// A menu resource of three top-level items, which a Smartphone's soft-key bar cannot take.
constexpr int kThreeItemMenu = 990;

struct Case {
    const char* name;
    std::string documented;
    std::function<std::string()> observe;  // runs on a fresh device of the group
    const char* kept = nullptr;            // why the handset differs, where it does on purpose
};

struct Group {
    const char* name;
    std::vector<Case> cases;
};

Group queue_group();
Group power_group();
Group timeout_group();
Group shell_group();
Group sound_group();
Group state_group();
Group vibration_group();

// "TRUE", or "FALSE" and the last error: how a BOOL call's outcome is written.
std::string outcome(BOOL ok);
// A handle call's outcome: "handle", or "null" and the last error.
std::string handle_outcome(HANDLE h);
std::string hex(DWORD value);

}  // namespace phone_conformance
