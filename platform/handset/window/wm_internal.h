// Internal state of the window system, shared by the files of window/: window records,
// per-thread message queues, and the helpers the framework, input, snapshot and
// automation code use. Only the files of window/ include it.
//
// Locks: state().mu guards the window records and the z-order; the kernel lock guards
// the message queues (so that GetMessage can block in the handset clock's wait). The
// window lock may be held while the kernel lock is taken, never the other way round.
// No window procedure, hook or event sink runs with either lock held.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/handset/core/checked_mutex.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/window/resource.h"
#include "platform/handset/window/wm.h"
#include "platform/winuser.h"

class CWnd;

namespace handset::wm {

enum class Kind { Plain, Dialog, MessageBox, Control, MenuBar };

// Internal message that runs a closure on the window's thread (UI commands of scripts).
constexpr UINT kInvokeMessage = 0xBF7E;

struct MenuEntry {
    int id = 0;
    std::u16string text;
    bool separator = false;
};

struct SoftKey {
    bool present = false;
    std::u16string label;
    int command = 0;                // sent to the bar's window when there is no popup
    std::vector<MenuEntry> popup;   // non-empty: the key opens this popup
};

// An open popup on a top-level window: the soft-key menu or a combobox's list.
struct Popup {
    enum class Type { None, Menu, List } type = Type::None;
    HWND source = nullptr;  // the menu bar or the combobox
    int soft_key = 1;       // Menu: which soft key opened it (0 left, 1 right)
    std::vector<MenuEntry> items;
    int selected = 0;
};

struct ThreadQueue;

struct Window {
    HWND hwnd = nullptr;
    Kind kind = Kind::Plain;
    DWORD pid = 0;
    DWORD tid = 0;
    std::u16string exe_path;
    std::shared_ptr<ThreadQueue> queue;
    HWND parent = nullptr;  // a child's parent; a top-level window's owner
    bool child = false;
    std::vector<HWND> children;  // creation order
    std::u16string text;         // title of a top-level window, text of a control
    bool visible = false;
    bool enabled = true;
    HICON icon_big = nullptr;
    HICON icon_small = nullptr;
    WindowProcedure proc;    // Plain windows
    CWnd* object = nullptr;  // the framework object bound to the window
    std::unique_ptr<CWnd> shadow;  // temporary object FromHandle hands out otherwise
    std::uint64_t activated = 0;   // activation serial (device-wide when the table is open)

    // Controls.
    int id = 0;
    ControlKind control = ControlKind::Static;
    TextAlign align = TextAlign::Left;
    int x = 0, y = 0, cx = 0, cy = 0;
    int image_id = 0;
    bool checked = false;
    bool auto_check = true;  // Checkbox: a click toggles it
    std::vector<std::u16string> items;
    int selected = -1;

    // Top-level windows.
    int template_id = 0;        // Dialog
    HWND focus = nullptr;       // Dialog: focused control
    HWND menubar = nullptr;     // the soft-key bar in use
    Popup popup;
    std::u16string message;     // MessageBox text
    int box_result = 0;         // MessageBox: result once dismissed
    bool box_done = false;
    std::vector<std::u16string> body;  // Plain: lines the screen shows
    // Set once the window is destroyed and its record taken out of the table: whoever
    // still holds the record can tell without the state lock.
    std::atomic<bool> removed{false};

    // Menu bars.
    SoftKey soft[2];
};

struct State {
    CheckedMutex mu;
    std::unordered_map<HWND, std::shared_ptr<Window>> windows;
    std::vector<HWND> zorder;  // this host's top-level windows, most recently activated first
};
State& state();

// Window lookups; state().mu held.
Window* find(HWND hwnd);
Window* top_level_of(Window* w);
Window* front_window();  // first visible top-level window in z-order
bool is_descendant(const Window* w, HWND ancestor);

// Screen changes: bump after the change, with no lock held.
void screen_changed();
// Moves a top-level window to the front of the z-order. State lock held.
void raise(Window* w);
// Destroys a window, the windows it owns on this thread and its children, each after
// its WM_DESTROY. No lock held.
void destroy_tree(HWND hwnd);

// ---- message queues (queue.cpp) ----

struct QueuedMessage {
    MSG msg{};
    bool input = false;  // a key from deliver_key: target resolved when taken out
    std::shared_ptr<struct Invocation> invoke;
};

struct SentMessage : Waitable {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wparam = 0;
    LPARAM lparam = 0;
    LRESULT result = 0;
    bool done = false;
    bool signalled() const override { return done; }
};

// A closure run on a window's thread for a caller that waits (UI commands).
struct Invocation : Waitable {
    std::function<void()> body;
    bool started = false;
    bool done = false;
    bool ok = false;
    std::string error;
    bool signalled() const override { return done; }
};

struct Timer {
    HWND hwnd = nullptr;
    UINT id = 0;
    UINT period = 0;
    long long due = 0;
    TIMERPROC proc = nullptr;
};

struct ThreadQueue {
    struct AnyMessage : Waitable {
        ThreadQueue* q;
        explicit AnyMessage(ThreadQueue* q) : q(q) {}
        bool signalled() const override;
    };
    struct SentOnly : Waitable {
        ThreadQueue* q;
        explicit SentOnly(ThreadQueue* q) : q(q) {}
        bool signalled() const override { return !q->sent.empty(); }
    };

    DWORD tid = 0;
    DWORD pid = 0;        // the thread's process when the queue was made
    bool alive = true;
    bool idle = false;    // blocked in GetMessage with nothing to do
    bool held = false;    // blocked outside its message loop (see set_held_flag)
    std::deque<QueuedMessage> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    bool quit = false;
    int quit_code = 0;
    std::vector<Timer> timers;
    bool kick = false;  // the timers changed: a blocked GetMessage recomputes its deadline
    std::uint64_t input_posted = 0;
    std::uint64_t input_taken = 0;    // keys taken out of the queue
    std::uint64_t input_settled = 0;  // keys whose handling has finished
    std::vector<std::shared_ptr<Invocation>> in_flight;
    AnyMessage any{this};
    SentOnly sent_only{this};
};

// The calling thread's queue (created on first use).
std::shared_ptr<ThreadQueue> this_queue();

// Next message of the calling thread; false for WM_QUIT (msg.wParam = exit code).
bool get_message(MSG& msg);
// Popup keys, the pre-dispatch filter, then dispatch.
void process_message(MSG& msg);
// Runs the calling thread's messages until `done` holds (true) or WM_QUIT arrives
// (false; the quit is posted again for the enclosing loop).
bool pump_until(const std::function<bool()>& done);
// Calls the window's procedure (framework object, plain procedure or built-in).
LRESULT call_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
// Posts a key from deliver_key into `q` for top-level window `top`.
void post_input(const std::shared_ptr<ThreadQueue>& q, HWND top, UINT message, WPARAM vk);
// Runs `body` on the thread of `q` (inline when that is the calling thread) and waits
// until it has run and that thread is back in a message loop (Handled). It does not
// wait for a thread that is held outside its message loop: the invocation stays in
// the queue and runs, in order, once the thread is back (Queued); nothing then reads
// its verdict. Gone when the thread ended first.
enum class Delivery { Handled, Queued, Gone };
Delivery invoke_on(const std::shared_ptr<ThreadQueue>& q, HWND hwnd, const std::shared_ptr<Invocation>& inv);
// The process's program ended on this thread: drop its queue's leftovers.
void reset_this_queue();
// Removes every timer of `hwnd` from `q`.
void drop_timers(const std::shared_ptr<ThreadQueue>& q, HWND hwnd);

// ---- windows (window.cpp) ----

struct CreateParams {
    Kind kind = Kind::Plain;
    HWND parent = nullptr;
    bool child = false;
    std::u16string text;
    bool visible = false;
    WindowProcedure proc;
};
HWND create_window(CreateParams params);
// Built-in handling of a window's messages by its kind (what DefWindowProc ends in).
LRESULT builtin_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
// A control's own messages (BM_*, CB_*), as its window class answers them (afx.cpp).
LRESULT control_message(HWND control, UINT message, WPARAM wparam, LPARAM lparam);
// Brings `hwnd` (local) to the front; `show` also shows it. When it is disabled behind a
// modal window it owns, that window comes to the front too. Emits window.foreground
// (and window.show). False when not a local top-level window.
bool activate(HWND hwnd, bool show);
// The most recently activated enabled top-level window of the calling thread.
HWND thread_active_window();
// Binds or unbinds a framework object.
void bind_object(HWND hwnd, CWnd* object);
void unbind_object(CWnd* object);
CWnd* object_of(HWND hwnd);
// Destroys every window of the calling thread (end of a program).
void destroy_thread_windows();
// Drops the records of a thread's windows without running their procedures (thread ended).
void forget_thread_windows(DWORD tid);
int window_count_of_thread(DWORD tid);
void emit_window_event(const char* kind, const std::u16string& title);

// ---- window table (table.cpp) ----

struct TableRow {
    HWND hwnd = nullptr;
    DWORD pid = 0;
    DWORD tid = 0;
    bool visible = false;
    std::uint64_t activated = 0;
    std::u16string title;
    std::u16string exe_path;
};
// The window table's row for a top-level window. State lock held.
TableRow row_of(const Window& w);
// Mirrors a local top-level window into the device's table (insert or update).
void table_put(const TableRow& row);
void table_remove(HWND hwnd);
// A new device-wide activation serial for `hwnd`, recorded in its row.
std::uint64_t table_activate(HWND hwnd);
// Rows of other live hosts.
std::vector<TableRow> table_remote_rows();
bool table_find(HWND hwnd, TableRow& row);
bool request_remote_foreground(DWORD pid, HWND hwnd);

// ---- keyboard input (keyboard.cpp) ----

// Resolves the target of a key taken out of the queue; false drops the key.
bool resolve_input(MSG& msg);
// A visible, enabled checkbox, list or button: a control that can take the focus.
bool focusable(const Window* control);
// Focusable controls of a dialog, in template order.
std::vector<HWND> focusable_controls(Window* dialog);

// ---- the soft-key bar and its popups (menus.cpp) ----

// Keys while a popup is open on the key's top-level window; true when it took the key.
bool popup_key(MSG& msg);
// Soft key 0 (left) or 1 (right) of a menu bar pressed.
void soft_key(HWND menubar, int key);
// Builds a soft-key bar on `top` from menu `menu_id`; returns the bar or null.
HWND make_menu_bar(HWND top, const MenuTemplate* menu);

// ---- dialogs' own keys, clicks and list picks (dialog_keys.cpp) ----

// The platform's key messages, WM_KEYFIRST (0x0100) to WM_KEYLAST (0x0108): the only
// messages a dialog's key filter hands to dialog_key.
constexpr bool is_key_message(UINT message) { return message >= 0x0100 && message <= 0x0108; }
// The dialog's default key handling (focus moves, checkbox clicks, list changes, Back).
bool dialog_key(HWND dialog, MSG& msg);
// A user click on a control: toggles a checkbox and notifies the parent. The error text
// explains a refusal. `accepted` runs once the change is made, before the notification.
bool click_control(HWND control, std::string& error, const std::function<void()>& accepted = {});
// The user picks entry `index` of a combobox: the selection changes, the parent is told.
bool select_item(HWND combo, int index, std::string& error, const std::function<void()>& accepted = {});

}  // namespace handset::wm
