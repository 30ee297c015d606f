// The dialog framework: CWnd and its message maps, modal dialogs built from templates,
// the controls programs bind, the command bar, and the application object with its
// entry AfxWinMain.
//
// A framework object is bound to its window while the window exists; destroying the
// window unbinds it (m_hWnd becomes null), so a dialog object can be run modally again
// and its control objects are bound afresh by DoDataExchange.
#include <algorithm>

#include "platform/afxwin.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/faults.h"
#include "platform/handset/core/kernel.h"
#include "platform/handset/core/process.h"
#include "platform/handset/window/wm_internal.h"

using namespace handset;
using namespace handset::wm;

namespace {

CWinApp* g_app = nullptr;
void (*g_process_init)() = nullptr;

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

const MessageMap CWnd::messageMap{nullptr, {}};

CWnd::~CWnd() {
    if (m_hWnd) unbind_object(this);
}

BOOL CWnd::ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
BOOL CWnd::SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }
void CWnd::SetWindowText(LPCWSTR text) { ::SetWindowTextW(m_hWnd, text); }
std::u16string CWnd::GetWindowText() const { return text_of(m_hWnd); }
BOOL CWnd::EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
CWnd* CWnd::GetDlgItem(int id) const { return FromHandle(::GetDlgItem(m_hWnd, id)); }

HICON CWnd::SetIcon(HICON icon, BOOL big) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

BOOL CWnd::DestroyWindow() { return ::DestroyWindow(m_hWnd); }
LRESULT CWnd::SendMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    return ::SendMessageW(m_hWnd, message, wparam, lparam);
}
BOOL CWnd::PostMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    return ::PostMessageW(m_hWnd, message, wparam, lparam);
}
UINT CWnd::SetTimer(UINT id, UINT period_ms, TIMERPROC proc) { return ::SetTimer(m_hWnd, id, period_ms, proc); }
BOOL CWnd::KillTimer(UINT id) { return ::KillTimer(m_hWnd, id); }

int CWnd::MessageBox(LPCWSTR text, LPCWSTR caption, UINT type) {
    if (!caption) caption = g_app && g_app->m_pszAppName ? g_app->m_pszAppName : u"";
    return ::MessageBoxW(m_hWnd, text, caption, type);
}

void CWnd::SetDlgItemText(int id, LPCWSTR text) { ::SetWindowTextW(::GetDlgItem(m_hWnd, id), text); }

BOOL CWnd::UpdateData(BOOL save_and_validate) {
    CDataExchange dx(this, save_and_validate);
    DoDataExchange(&dx);
    return TRUE;
}

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
    for (const MessageMap* map = GetMessageMap(); map; map = map->base) {
        for (const MessageMapEntry& e : map->entries) {
            if (e.message != message) continue;
            if (message == WM_COMMAND && (e.id != LOWORD(wparam) || e.code != HIWORD(wparam))) continue;
            return e.thunk(this, wparam, lparam);
        }
    }
    return DefWindowProc(message, wparam, lparam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY) {
        OnDestroy();
        return 0;
    }
    return builtin_proc(m_hWnd, message, wparam, lparam);
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }
void CWnd::DoDataExchange(CDataExchange*) {}
const MessageMap* CWnd::GetMessageMap() const { return &messageMap; }
void CWnd::OnDestroy() {}

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

const MessageMap CDialog::messageMap{&CWnd::messageMap, {}};

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
        events().emit("dialog.open", Json{{"id", t->id}, {"title", to_utf8(title)}});

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

        pump_until([&] {
            bool alive = with_window(hwnd, [&](Window& w) { title = w.text; });
            return d.ending_ || !alive;
        });

        if (disable_owner && exists(owner)) ::EnableWindow(owner, TRUE);
        const int result = d.result_;
        if (exists(hwnd)) ::ShowWindow(hwnd, SW_HIDE);
        events().emit("dialog.close", Json{{"id", t->id}, {"title", to_utf8(title)}, {"result", result}});
        if (exists(hwnd)) ::DestroyWindow(hwnd);
        if (d.m_hWnd == hwnd) unbind_object(&d);
        return result;
    }
};

CDialog::CDialog(UINT template_id, CWnd* parent) : template_id_(template_id), parent_(parent) {}

CDialog::~CDialog() = default;

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

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

// The dialog's own keys see key messages only; every other message passes on untouched.
BOOL CDialog::PreTranslateMessage(MSG* msg) {
    return msg && is_key_message(msg->message) && dialog_key(m_hWnd, *msg) ? TRUE : FALSE;
}

LRESULT CDialog::DefWindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) return OnInitDialog();
    if (message == WM_COMMAND && HIWORD(wparam) == BN_CLICKED) {
        if (LOWORD(wparam) == IDOK) {
            OnOK();
            return 0;
        }
        if (LOWORD(wparam) == IDCANCEL) {
            OnCancel();
            return 0;
        }
    }
    return CWnd::DefWindowProc(message, wparam, lparam);
}

const MessageMap* CDialog::GetMessageMap() const { return &messageMap; }

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

CWinApp::CWinApp(LPCWSTR app_name) {
    if (app_name) {
        app_name_ = app_name;
        m_pszAppName = app_name_.c_str();
        named_ = true;
    }
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return exit_code_; }

void CWinApp::SetRegistryKey(LPCWSTR key) {
    registry_key_ = key ? key : u"";
    m_pszRegistryKey = registry_key_.c_str();
}

CWinApp* AfxGetApp() { return g_app; }

// Programs of the phone are loaded at the platform's usual image base.
HINSTANCE AfxGetInstanceHandle() { return reinterpret_cast<HINSTANCE>(std::uintptr_t{0x10000}); }
HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

void AfxSetProcessInit(void (*init)()) { g_process_init = init; }

int AfxWinMain(LPCWSTR) {
    CWinApp* app = g_app;
    if (!app) return -1;
    if (!app->named_) {
        app->app_name_ = exe_base_name(current_process()->exe_path);
        app->m_pszAppName = app->app_name_.c_str();
    }
    app->m_hInstance = AfxGetInstanceHandle();
    if (g_process_init) g_process_init();
    app->exit_code_ = 0;
    if (app->InitInstance()) {
        MSG msg;
        for (;;) {
            if (!get_message(msg)) {
                app->exit_code_ = static_cast<int>(msg.wParam);
                break;
            }
            process_message(msg);
        }
    }
    const int code = app->ExitInstance();
    // The program has ended: its windows and leftover messages go with it.
    destroy_thread_windows();
    reset_this_queue();
    return code;
}
