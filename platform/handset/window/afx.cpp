// The dialog framework over the handset's window manager: binding framework objects to
// windows, message dispatch, modal dialogs built from templates, the controls programs
// bind, the command bar, and the application's message loop. The members that only call
// the platform API are in platform/framework/afx_common.cpp.
//
// A framework object is bound to its window while the window exists; destroying the
// window unbinds it (m_hWnd becomes null), so a dialog object can be run modally again
// and its control objects are bound afresh by DoDataExchange.
#include <algorithm>

#include "platform/framework/afx_common.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/faults.h"
#include "platform/handset/core/kernel.h"
#include "platform/handset/core/process.h"
#include "platform/handset/window/wm_internal.h"

using namespace handset;
using namespace handset::wm;

namespace {

bool exists(HWND hwnd) {
    std::lock_guard lock(state().mu);
    return find(hwnd) != nullptr;
}

std::u16string text_of(HWND hwnd) {
    std::lock_guard lock(state().mu);
    Window* w = find(hwnd);
    return w ? w->text : std::u16string();
}

// Runs `f(Window&)` on a window's record under the window lock; false when it is gone.
template <class F>
bool with_window(HWND hwnd, F&& f) {
    bool found = false;
    {
        std::lock_guard lock(state().mu);
        if (Window* w = find(hwnd)) {
            f(*w);
            found = true;
        }
    }
    return found;
}

HWND create_control(HWND dialog, const ControlTemplate& t) {
    CreateParams params;
    params.kind = Kind::Control;
    params.parent = dialog;
    params.child = true;
    params.text = std::u16string(t.text);
    params.visible = true;
    HWND hwnd = create_window(std::move(params));
    with_window(hwnd, [&](Window& w) {
        w.id = t.id;
        w.control = t.kind;
        w.align = t.align;
        w.x = t.x;
        w.y = t.y;
        w.cx = t.cx;
        w.cy = t.cy;
        w.image_id = t.image_id;
        w.auto_check = t.auto_check;
    });
    return hwnd;
}

std::u16string exe_base_name(std::u16string_view path) {
    const auto slash = path.find_last_of(u"\\/");
    std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.find_last_of(u'.');
    if (dot != std::u16string_view::npos && dot > 0) name = name.substr(0, dot);
    return std::u16string(name);
}

}  // namespace

// ---- CWnd ----

CWnd::~CWnd() {
    if (m_hWnd) unbind_object(this);
}

std::u16string CWnd::GetWindowText() const { return text_of(m_hWnd); }
int CWnd::MessageBox(LPCWSTR text, LPCWSTR caption, UINT type) {
    if (!caption) {
        const CWinApp* app = AfxGetApp();
        caption = app && app->m_pszAppName ? app->m_pszAppName : u"";
    }
    return ::MessageBoxW(m_hWnd, text, caption, type);
}

void CWnd::SetDlgItemText(int id, LPCWSTR text) { ::SetWindowTextW(::GetDlgItem(m_hWnd, id), text); }

CWnd* CWnd::FromHandle(HWND hwnd) {
    std::lock_guard lock(state().mu);
    Window* w = find(hwnd);
    if (!w) return nullptr;
    if (w->object) return w->object;
    if (!w->shadow) {
        w->shadow = std::make_unique<CWnd>();
        w->shadow->m_hWnd = hwnd;
    }
    return w->shadow.get();
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
    if (const MessageMapEntry* e = framework::find_handler(GetMessageMap(), message, wparam))
        return e->thunk(this, wparam, lparam);
    return DefWindowProc(message, wparam, lparam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY) {
        OnDestroy();
        return 0;
    }
    return builtin_proc(m_hWnd, message, wparam, lparam);
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    if (!dx || !dx->m_pDlgWnd) return;
    HWND item = ::GetDlgItem(dx->m_pDlgWnd->m_hWnd, id);
    if (item) bind_object(item, &control);
}

void DDX_Text(CDataExchange* dx, int id, std::u16string& value) {
    if (!dx || !dx->m_pDlgWnd) return;
    HWND item = ::GetDlgItem(dx->m_pDlgWnd->m_hWnd, id);
    if (!item) return;
    if (dx->m_bSaveAndValidate) value = text_of(item);
    else ::SetWindowTextW(item, value.c_str());
}

// ---- CDialog ----

struct DialogRuntime {
    // Creates the dialog window from its template, initialises it, runs the modal loop
    // and takes the window down again. See CDialog::DoModal.
    static INT_PTR run(CDialog& d) {
        const DialogTemplate* t = find_dialog(static_cast<int>(d.template_id_));
        if (!t) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return -1;
        }
        if (exists(d.m_hWnd)) {
            SetLastError(ERROR_INVALID_PARAMETER);  // this object is already running
            return -1;
        }
        // Without an explicit parent, the thread's active window owns the dialog.
        HWND owner = d.parent_ ? d.parent_->m_hWnd : thread_active_window();
        {
            std::lock_guard lock(state().mu);
            Window* o = top_level_of(find(owner));
            owner = o ? o->hwnd : nullptr;
        }

        CreateParams params;
        params.kind = Kind::Dialog;
        params.parent = owner;
        params.text = std::u16string(t->title);
        HWND hwnd = create_window(std::move(params));
        if (!hwnd) return -1;
        with_window(hwnd, [&](Window& w) { w.template_id = t->id; });
        for (const ControlTemplate& c : t->controls) create_control(hwnd, c);
        bind_object(hwnd, &d);
        d.ending_ = false;
        d.result_ = -1;

        const bool disable_owner = owner && ::IsWindowEnabled(owner);
        if (disable_owner) ::EnableWindow(owner, FALSE);
        std::u16string title(t->title);
        events().emit("dialog.open", {{"id", t->id}, {"title", to_utf8(title)}});

        const LRESULT init = call_window_proc(hwnd, WM_INITDIALOG, 0, 0);
        if (init) {
            // The first control that can take the focus gets it.
            with_window(hwnd, [](Window& w) {
                if (find(w.focus)) return;
                auto list = focusable_controls(&w);
                if (!list.empty()) w.focus = list.front();
            });
        }
        if (t->visible && !d.ending_ && exists(hwnd)) ::ShowWindow(hwnd, SW_SHOW);

        // The record stays readable once the window is gone: the close names the
        // title the dialog last had. The loop checks it at every message without a lock.
        std::shared_ptr<Window> record;
        {
            std::lock_guard lock(state().mu);
            auto it = state().windows.find(hwnd);
            if (it != state().windows.end()) record = it->second;
        }
        if (record) pump_until([&] { return d.ending_ || record->removed.load(std::memory_order_acquire); });
        if (record) {
            std::lock_guard lock(state().mu);
            title = record->text;
        }

        if (disable_owner && exists(owner)) ::EnableWindow(owner, TRUE);
        const int result = d.result_;
        if (exists(hwnd)) ::ShowWindow(hwnd, SW_HIDE);
        events().emit("dialog.close", {{"id", t->id}, {"title", to_utf8(title)}, {"result", result}});
        if (exists(hwnd)) ::DestroyWindow(hwnd);
        if (d.m_hWnd == hwnd) unbind_object(&d);
        return result;
    }
};

// A dialog whose window is destroyed while it runs (DestroyWindow instead of EndDialog)
// ends with -1, or with the result of an EndDialog that came first.
INT_PTR CDialog::DoModal() { return DialogRuntime::run(*this); }

void CDialog::EndDialog(int result) {
    ending_ = true;
    result_ = result;
    // Another thread ending the dialog wakes its loop.
    DWORD pid = 0;
    if (m_hWnd && ::GetWindowThreadProcessId(m_hWnd, &pid) != current_thread()->id)
        ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    SetForegroundWindow();
    // Dialogs fill the screen on this platform; the screen model lays every dialog out
    // on the whole screen, so there is no size to set.
    return TRUE;
}

// The dialog's own keys see key messages only; every other message passes on untouched.
BOOL CDialog::PreTranslateMessage(MSG* msg) {
    return msg && is_key_message(msg->message) && dialog_key(m_hWnd, *msg) ? TRUE : FALSE;
}

// ---- controls ----
// The framework's control classes and the controls' own messages share these.

namespace {

int check_of(HWND control) {
    bool checked = false;
    with_window(control, [&](Window& w) { checked = w.checked; });
    return checked ? BST_CHECKED : BST_UNCHECKED;
}

bool set_check(HWND control, int state) {
    if (!with_window(control, [&](Window& w) { w.checked = state != BST_UNCHECKED; })) return false;
    screen_changed();
    return true;
}

void reset_items(HWND combo) {
    if (with_window(combo, [](Window& w) {
            w.items.clear();
            w.selected = -1;
        }))
        screen_changed();
}

int add_item(HWND combo, LPCWSTR text) {
    if (!text) return CB_ERR;
    int index = CB_ERR;
    with_window(combo, [&](Window& w) {
        w.items.emplace_back(text);
        index = static_cast<int>(w.items.size()) - 1;
    });
    if (index != CB_ERR) screen_changed();
    return index;
}

int selection_of(HWND combo) {
    int selected = CB_ERR;
    with_window(combo, [&](Window& w) { selected = w.selected; });
    return selected < 0 ? CB_ERR : selected;
}

int select(HWND combo, int index) {
    int result = CB_ERR;
    const bool found = with_window(combo, [&](Window& w) {
        const bool valid = index >= 0 && index < static_cast<int>(w.items.size());
        w.selected = valid ? index : -1;
        result = valid ? index : CB_ERR;
    });
    if (found) screen_changed();
    return result;
}

int count_of(HWND combo) {
    int count = CB_ERR;
    with_window(combo, [&](Window& w) { count = static_cast<int>(w.items.size()); });
    return count;
}

}  // namespace

LRESULT handset::wm::control_message(HWND control, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case BM_GETCHECK: return check_of(control);
        case BM_SETCHECK: set_check(control, static_cast<int>(wparam)); return 0;
        case BM_CLICK: {
            std::string error;
            click_control(control, error);
            return 0;
        }
        case CB_ADDSTRING: return add_item(control, reinterpret_cast<LPCWSTR>(lparam));
        case CB_GETCOUNT: return count_of(control);
        case CB_GETCURSEL: return selection_of(control);
        case CB_SETCURSEL: return select(control, static_cast<int>(wparam));
        case CB_RESETCONTENT: reset_items(control); return CB_OKAY;
        default: return 0;
    }
}

int CButton::GetCheck() const { return check_of(m_hWnd); }
void CButton::SetCheck(int state) { set_check(m_hWnd, state); }
void CComboBox::ResetContent() { reset_items(m_hWnd); }
int CComboBox::AddString(LPCWSTR text) { return add_item(m_hWnd, text); }
int CComboBox::GetCurSel() const { return selection_of(m_hWnd); }
int CComboBox::SetCurSel(int index) { return select(m_hWnd, index); }
int CComboBox::GetCount() const { return count_of(m_hWnd); }

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
    HWND control = ::GetDlgItem(dialog, id);
    if (!control) return FALSE;
    ::SendMessageW(control, BM_SETCHECK, check, 0);
    return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
    HWND control = ::GetDlgItem(dialog, id);
    return control ? static_cast<UINT>(::SendMessageW(control, BM_GETCHECK, 0, 0)) : 0;
}

// ---- command bar ----

BOOL CCommandBar::Create(CWnd* parent) {
    if (fault_active(Fault::ShellCommandBar)) {
        SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }
    HWND top = nullptr;
    {
        std::lock_guard lock(state().mu);
        if (Window* p = top_level_of(find(parent ? parent->m_hWnd : nullptr))) top = p->hwnd;
    }
    if (!top) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    HWND bar = make_menu_bar(top, nullptr);
    if (!bar) return FALSE;
    bind_object(bar, this);
    return TRUE;
}

// The id names a soft-key bar definition (one button and its label string) or, failing
// that, a menu whose first two items become the soft keys.
BOOL CCommandBar::InsertMenuBar(UINT menu_id) {
    if (fault_active(Fault::ShellCommandBar)) {
        SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }
    SoftKey keys[2];
    if (const SoftKeyBarResource* def = find_softkey_bar(static_cast<int>(menu_id))) {
        keys[0].present = true;
        keys[0].label = std::u16string(find_string(def->label_string));
        keys[0].command = def->command;
    } else if (const MenuTemplate* menu = find_menu(static_cast<int>(menu_id))) {
        for (std::size_t i = 0; i < menu->items.size() && i < 2; ++i) {
            const MenuItem& item = menu->items[i];
            keys[i].present = true;
            keys[i].label = std::u16string(item.text);
            keys[i].command = item.id;
            for (const MenuItem& entry : item.popup)
                keys[i].popup.push_back({entry.id, std::u16string(entry.text), entry.separator});
        }
    } else {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    bool done = false;
    {
        std::lock_guard lock(state().mu);
        Window* bar = find(m_hWnd);
        Window* top = bar ? find(bar->parent) : nullptr;
        if (top) {
            bar->soft[0] = keys[0];
            bar->soft[1] = keys[1];
            top->menubar = bar->hwnd;
            done = true;
        }
    }
    if (!done) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    screen_changed();
    return TRUE;
}

// ---- application ----

// Programs of the phone are loaded at the platform's usual image base.
HINSTANCE AfxGetInstanceHandle() { return reinterpret_cast<HINSTANCE>(std::uintptr_t{0x10000}); }

WString framework::executable_name() { return exe_base_name(current_process()->exe_path); }

int framework::run_message_loop() {
    MSG msg;
    while (get_message(msg)) process_message(msg);
    return static_cast<int>(msg.wParam);
}

// The program has ended: its windows and leftover messages go with it.
void framework::program_ended() {
    destroy_thread_windows();
    reset_this_queue();
}
