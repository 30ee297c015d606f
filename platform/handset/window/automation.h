// The user's actions on the foreground window for scripts, and that window's controls as
// JSON. Every call is thread-safe; the actions run on the window's own thread.
#pragma once

#include <string>

namespace handset {

// {"window":TITLE,"dialog":ID,"controls":[...]} for the foreground window; "dialog" is
// null for a window that is not a dialog, and both are null when no window is in front.
std::string controls_json();

// Each UI command returns true after the window's thread has handled it and is back in
// a message loop (a command that opens a modal dialog returns once the dialog waits for
// the user), and false with `error` set when it could not be carried out or the thread
// ended. When the thread is blocked outside its message loop, the command waits in its
// queue and is handled in order once the thread is back: it returns true at once with
// `*queued` set, and its own verdict is then not reported.

// The foreground dialog gets WM_COMMAND `id` (as from a menu or soft key).
bool ui_command(int id, std::string& error, bool* queued = nullptr);
// A user click on control `id` of the foreground dialog: a checkbox toggles and its
// parent gets BN_CLICKED; a push button only notifies. Error when the control is
// missing, hidden, disabled or cannot be clicked.
bool ui_click(int id, std::string& error, bool* queued = nullptr);
// The user picks entry `index` of list `id` of the foreground dialog: the selection
// changes and the parent gets CBN_SELCHANGE. Error when the list is missing, hidden,
// disabled, or `index` is out of range.
bool ui_select(int id, int index, std::string& error, bool* queued = nullptr);

}  // namespace handset
