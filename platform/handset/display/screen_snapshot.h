// The whole screen of this host as one snapshot: what the window layer hands over of its
// windows, with the shell's own facts (home screen, lock screen) from the front end.
#pragma once

#include <functional>

#include "platform/handset/window/snapshot.h"

namespace handset {

// The screen of this host now. Thread-safe; takes the window lock once, then asks the
// shell facts source (if any) with no lock held.
ScreenSnapshot capture_screen();

// The front end's supplier of the shell's facts; null removes it.
void set_shell_facts_source(std::function<ShellFacts()> source);

}  // namespace handset
