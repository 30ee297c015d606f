// The window manager's internal interface for the other services of the handset: the
// emulated device programs (plain top-level windows and their message loop), the keypad
// (key delivery into the foreground window's thread), the front ends (the foreground
// window, screen changes) and the control socket (requests from other hosts to bring
// one of our windows to the front).
//
// Everything here is thread-safe. Hooks are called without any window-system lock held,
// so they may call back into the window system.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/wintypes.h"

namespace handset {

using WindowProcedure = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// Creates a plain top-level window owned by the calling thread (and the calling thread's
// process, see set_current_process): visible, listed in the device's window table and
// brought to the front. Messages for it are handled by `proc` on that thread; pass the
// ones it does not handle to default_window_proc. Returns null when `proc` is empty.
HWND create_top_level_window(std::u16string title, WindowProcedure proc);

// Default handling of a plain window's messages: WM_CLOSE destroys the window; everything
// else is ignored (result 0).
LRESULT default_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Lines of text that the screen shows in the body of a plain window (the screen model
// clips them to its 40 x 12 cells).
void set_window_body(HWND window, std::vector<std::u16string> lines);

// Runs the calling thread's message loop: gets, filters and dispatches messages until
// WM_QUIT arrives (returns its exit code) or the thread has no window left (returns 0).
int run_message_loop();

// Puts a key-down or key-up into the queue of the foreground window's thread. The thread
// resolves the target when it takes the message out: the soft keys (VK_TSOFT1/2) go to
// the window's soft-key bar, an open popup menu or list takes every key, otherwise the
// key goes to the dialog's focused control (or the window itself) and through the
// pre-dispatch filter (PreTranslateMessage of the window and its parents) before dispatch.
// Returns false, delivering nothing, when no window of this host is in front (the phone
// shows its home screen; the keypad offers the key there).
// Never blocks: the power watch thread injects keys while the UI thread may wait for it.
bool deliver_key(BYTE vk, bool up);

// Blocks until every key delivered so far has been taken out of its queue and handled,
// that is until its thread is back in a message loop, has ended, or has dropped the key
// (for scripts: `press` then `screen` sees the result). Does not wait for a thread that
// is blocked outside its message loop with no deadline (a wait on a process), once the
// phone is at rest: its keys stay queued and are handled in order when it is back.
// Returns at once when called on a thread that itself has undelivered keys (it would
// wait for itself).
void settle_input();

// True when keys for the foreground window would wait in its queue now: its thread is
// blocked outside its message loop with no deadline (see set_held_flag).
bool foreground_input_held();

// Blocks until a thread of local process `pid` waits in its message loop with nothing
// left to do (the platform's "input idle": start-up has finished and the program waits
// for the user), or until the process has ended. True for input idle; false when the
// process ended first or is not a process of this host.
bool wait_for_input_idle(DWORD pid);

// The window in front on this host: the most recently activated visible top-level
// window; null when none (the phone shows its home screen).
HWND foreground_window();

// Incremented on every change the screen could show (titles, texts, states, visibility,
// the foreground, soft keys, popups, message boxes). The listener, if any, is called
// after each change, from the thread that made it, without locks held.
std::uint64_t screen_generation();
void set_screen_listener(std::function<void()> listener);

// Other hosts of the device. SetForegroundWindow on a window of another host calls this
// hook with that host's process id and the window; the front end sends the request over
// that host's control socket and returns whether it was delivered.
void set_remote_foreground_handler(std::function<bool(DWORD pid, HWND window)> handler);
// The receiving side of such a request: shows `window` (a window of this host), brings it
// to the front (an open modal dialog it owns stays in front of it) and emits
// `window.foreground`. Thread-safe; false when the window is not a window of this host.
bool bring_to_front(HWND window);

// Lets the core find the programs of other hosts by their rows in the device's window
// table (process_exe_path, OpenProcess). Call once at start-up (an explicit call, so
// that static linking cannot drop the registration).
void register_window_table();
// Removes this host's rows from the device's window table (for an orderly host exit;
// rows of a host that died are ignored by readers anyway).
void withdraw_window_table();

}  // namespace handset
