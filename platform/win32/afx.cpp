// The dialog framework over real Win32 windows: binding framework objects to windows,
// message dispatch, modal dialogs made from the program's dialog tables, the controls
// programs bind, the command bar and the application's message loop. The members that
// only call the platform API are in platform/framework/afx_common.cpp.
//
// A framework object is bound to its window through a window subclass (comctl32's
// SetWindowSubclass), whose reference data is the object, and a window property that
// finds the object again. A dialog's subclass routes
// every message through CWnd::WindowProc and its message maps, and DefWindowProc hands
// what no map took to the dialog manager. A control bound by DDX_Control is only
// watched, so that its object lets go of the window when the window goes: a dialog
// object can then run modally again and its controls bind afresh.
//
// DoModal runs its own message loop rather than the dialog manager's, as the handset
// does, so that PreTranslateMessage sees every message of the dialog and its controls
// first, and the messages and timers of the thread's other windows go on being
// dispatched while the dialog is open.
#include "platform/framework/afx_common.h"

#include <commctrl.h>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

#include "platform/resource.h"
#include "platform/win32/dialog_template.h"

namespace {

// Subclass ids: a routed window's messages go through its object; a watched one only
// tells its object when it is destroyed.
constexpr UINT_PTR kRouted = 1;
constexpr UINT_PTR kWatched = 2;
constexpr WCHAR kObjectProperty[] = L"Quillon.Object";
constexpr WCHAR kRoutedProperty[] = L"Quillon.Routed";

LRESULT CALLBACK FrameworkSubclassProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                       DWORD_PTR ref);

void unbind_window(HWND hwnd) {
    RemoveWindowSubclass(hwnd, FrameworkSubclassProc, kRouted);
    RemoveWindowSubclass(hwnd, FrameworkSubclassProc, kWatched);
    RemovePropW(hwnd, kObjectProperty);
    RemovePropW(hwnd, kRoutedProperty);
}

LRESULT CALLBACK FrameworkSubclassProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                       DWORD_PTR ref) {
    auto* object = reinterpret_cast<CWnd*>(ref);
    if (message == WM_NCDESTROY) {
        unbind_window(hwnd);
        if (object->m_hWnd == hwnd) object->m_hWnd = nullptr;
        // A modal loop of this thread that runs this window waits in GetMessage, which
        // returns only for a posted message. A window destroyed by a sent message (another
        // program that waits for the answer) posts none, so one is posted to wake it.
        PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
        return DefSubclassProc(hwnd, message, wparam, lparam);
    }
    if (id == kRouted) return object->WindowProc(message, wparam, lparam);
    return DefSubclassProc(hwnd, message, wparam, lparam);
}

CWnd* bound_object(HWND hwnd) { return static_cast<CWnd*>(GetPropW(hwnd, kObjectProperty)); }

bool routed(HWND hwnd) { return GetPropW(hwnd, kRoutedProperty) != nullptr; }

void bind_object(HWND hwnd, CWnd* object, UINT_PTR how) {
    if (CWnd* previous = bound_object(hwnd)) {
        unbind_window(hwnd);
        if (previous != object && previous->m_hWnd == hwnd) previous->m_hWnd = nullptr;
    }
    object->m_hWnd = hwnd;
    SetPropW(hwnd, kObjectProperty, object);
    if (how == kRouted) SetPropW(hwnd, kRoutedProperty, object);
    SetWindowSubclass(hwnd, FrameworkSubclassProc, how, reinterpret_cast<DWORD_PTR>(object));
}

// Temporary objects for windows that have none of their own, as FromHandle promises.
// Those whose window has gone are dropped on the next lookup.
std::map<HWND, std::unique_ptr<CWnd>>& shadows() {
    static std::map<HWND, std::unique_ptr<CWnd>> table;
    return table;
}

WString text_of(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    WString text(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
    const int copied = GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(std::max(copied, 0)));
    return text;
}

// The chain of PreTranslateMessage from the message's window up to its top-level
// window; TRUE when one of them consumed it.
BOOL pre_translate(MSG& msg) {
    for (HWND h = msg.hwnd; h != nullptr; h = ::GetParent(h)) {
        CWnd* object = bound_object(h);
        if (object != nullptr && object->PreTranslateMessage(&msg)) return TRUE;
        if ((GetWindowLongPtrW(h, GWL_STYLE) & WS_CHILD) == 0) break;
    }
    return FALSE;
}

// The window of this thread that a dialog without a parent belongs to: the active
// window, as the phone has it. The desktop gives a thread no active window while another
// program is in front, and a dialog made then would have no owner: its owner would stay
// enabled, and the dialog would outlive the owner's destruction with its modal loop
// still running. So the thread's topmost shown and enabled top-level window stands in.
HWND thread_active_window() {
    if (HWND active = GetActiveWindow()) return active;
    const DWORD me = GetCurrentThreadId();
    for (HWND h = GetTopWindow(nullptr); h != nullptr; h = GetWindow(h, GW_HWNDNEXT))
        if (GetWindowThreadProcessId(h, nullptr) == me && IsWindowVisible(h) && IsWindowEnabled(h)) return h;
    return nullptr;
}

// One message of the thread's queue, filtered and dispatched. False at WM_QUIT, which is
// put back for the loop outside.
bool pump_one() {
    MSG msg;
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) {
        if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
    }
    if (!pre_translate(msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return true;
}

// A device-independent bitmap from a table's bottom-up pixel rows.
HBITMAP make_bitmap(const resource::ImageResource& image) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = image.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(image.bits_per_pixel);
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) return nullptr;
    const std::size_t row = static_cast<std::size_t>(image.width) * image.bits_per_pixel / 8;
    const std::size_t stride = (row + 3) & ~std::size_t{3};
    for (int y = 0; y < image.height && (y + 1) * row <= image.pixels.size(); ++y)
        std::copy_n(image.pixels.data() + y * row, row, static_cast<BYTE*>(bits) + y * stride);
    return bitmap;
}

// `bitmap` (width x height) as it fits in width_limit x height_limit: itself when it
// does, else a copy shrunk to fit with its proportions kept, and `bitmap` deleted. The
// desktop's dialog units can give a picture control fewer pixels than the phone's.
HBITMAP fit_bitmap(HBITMAP bitmap, int width, int height, int width_limit, int height_limit) {
    if (width <= width_limit || width_limit <= 0) width_limit = width;
    if (height <= height_limit || height_limit <= 0) height_limit = height;
    if (width_limit == width && height_limit == height) return bitmap;
    const double scale = std::min(static_cast<double>(width_limit) / width, static_cast<double>(height_limit) / height);
    const int w = std::max(1, static_cast<int>(width * scale)), h = std::max(1, static_cast<int>(height * scale));
    HDC screen = GetDC(nullptr);
    HDC from = CreateCompatibleDC(screen);
    HDC to = CreateCompatibleDC(screen);
    HBITMAP fitted = CreateCompatibleBitmap(screen, w, h);
    if (fitted != nullptr) {
        HGDIOBJ old_from = SelectObject(from, bitmap);
        HGDIOBJ old_to = SelectObject(to, fitted);
        SetStretchBltMode(to, HALFTONE);
        SetBrushOrgEx(to, 0, 0, nullptr);
        StretchBlt(to, 0, 0, w, h, from, 0, 0, width, height, SRCCOPY);
        SelectObject(from, old_from);
        SelectObject(to, old_to);
    }
    DeleteDC(from);
    DeleteDC(to);
    ReleaseDC(nullptr, screen);
    if (fitted == nullptr) return bitmap;
    DeleteObject(bitmap);
    return fitted;
}

}  // namespace

// ---- CWnd ----

CWnd::~CWnd() {
    if (m_hWnd != nullptr && bound_object(m_hWnd) == this) unbind_window(m_hWnd);
}

WString CWnd::GetWindowText() const { return text_of(m_hWnd); }
int CWnd::MessageBox(LPCWSTR text, LPCWSTR caption, UINT type) {
    return ::MessageBoxW(m_hWnd, text, caption, type);
}

void CWnd::SetDlgItemText(int id, LPCWSTR text) { ::SetDlgItemTextW(m_hWnd, id, text); }

CWnd* CWnd::FromHandle(HWND hwnd) {
    if (hwnd == nullptr || !IsWindow(hwnd)) return nullptr;
    if (CWnd* object = bound_object(hwnd)) return object;
    auto& table = shadows();
    std::erase_if(table, [](const auto& entry) { return !IsWindow(entry.first); });
    auto& shadow = table[hwnd];
    if (!shadow) {
        shadow = std::make_unique<CWnd>();
        shadow->m_hWnd = hwnd;
    }
    return shadow.get();
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
    if (const MessageMapEntry* e = framework::find_handler(GetMessageMap(), message, wparam)) {
        const LRESULT result = e->thunk(this, wparam, lparam);
        // The window manager still needs to see its own destruction.
        if (message == WM_DESTROY) DefWindowProc(message, wparam, lparam);
        return result;
    }
    if (message == WM_DESTROY) OnDestroy();
    return DefWindowProc(message, wparam, lparam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
    if (routed(m_hWnd)) return DefSubclassProc(m_hWnd, message, wparam, lparam);
    return ::DefWindowProcW(m_hWnd, message, wparam, lparam);
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    if (!dx || !dx->m_pDlgWnd) return;
    if (HWND item = ::GetDlgItem(dx->m_pDlgWnd->m_hWnd, id)) bind_object(item, &control, kWatched);
}

void DDX_Text(CDataExchange* dx, int id, WString& value) {
    if (!dx || !dx->m_pDlgWnd) return;
    HWND item = ::GetDlgItem(dx->m_pDlgWnd->m_hWnd, id);
    if (!item) return;
    if (dx->m_bSaveAndValidate)
        value = text_of(item);
    else
        ::SetWindowTextW(item, value.c_str());
}

// ---- CDialog ----

struct DialogRuntime {
    // The dialog procedure sees only the start: at WM_INITDIALOG the window is bound to
    // its object, and from then on the subclass routes its messages.
    static INT_PTR CALLBACK initial_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
        if (message != WM_INITDIALOG) return FALSE;
        auto* dialog = reinterpret_cast<CDialog*>(lparam);
        bind_object(hwnd, dialog, kRouted);
        return dialog->WindowProc(WM_INITDIALOG, wparam, lparam);
    }

    // Creates the dialog from its table, runs the modal loop and takes the window down
    // again. See CDialog::DoModal.
    static INT_PTR run(CDialog& d) {
        const resource::DialogTemplate* t = resource::find_dialog(static_cast<int>(d.template_id_));
        if (t == nullptr) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return -1;
        }
        if (d.m_hWnd != nullptr && IsWindow(d.m_hWnd)) {
            SetLastError(ERROR_INVALID_PARAMETER);  // this object is already running
            return -1;
        }
        // Without an explicit parent, the thread's active window owns the dialog.
        HWND owner = d.parent_ != nullptr ? d.parent_->m_hWnd : thread_active_window();
        if (owner != nullptr) owner = GetAncestor(owner, GA_ROOT);

        d.ending_ = false;
        d.result_ = -1;
        const std::vector<WORD> bytes = win32::build_dialog_template(*t);
        HWND hwnd = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                               reinterpret_cast<const DLGTEMPLATE*>(bytes.data()), owner,
                                               &initial_proc, reinterpret_cast<LPARAM>(&d));
        if (hwnd == nullptr) return -1;
        std::vector<HBITMAP> pictures = show_pictures(hwnd, *t);

        const bool disable_owner = owner != nullptr && ::IsWindowEnabled(owner);
        if (disable_owner) ::EnableWindow(owner, FALSE);
        if (t->visible && !d.ending_ && IsWindow(hwnd)) {
            ::ShowWindow(hwnd, SW_SHOW);
            ::SetForegroundWindow(hwnd);
        }

        while (!d.ending_ && IsWindow(hwnd) && pump_one()) {
        }

        // The owner comes back before this window goes, so that the activation passes
        // to it rather than to another program.
        if (disable_owner && IsWindow(owner)) ::EnableWindow(owner, TRUE);
        const int result = d.result_;
        if (IsWindow(hwnd)) {
            ::ShowWindow(hwnd, SW_HIDE);
            ::DestroyWindow(hwnd);
        }
        for (HBITMAP bitmap : pictures) DeleteObject(bitmap);
        return result;
    }

    // Picture controls show their bitmap from the table; the caller deletes them once
    // the dialog has gone.
    static std::vector<HBITMAP> show_pictures(HWND hwnd, const resource::DialogTemplate& t) {
        std::vector<HBITMAP> made;
        for (const resource::ControlTemplate& c : t.controls) {
            if (c.kind != resource::ControlKind::Picture) continue;
            const resource::ImageResource* image = resource::find_bitmap(c.image_id);
            HBITMAP bitmap = image != nullptr ? make_bitmap(*image) : nullptr;
            if (bitmap == nullptr) continue;
            RECT box{};
            GetClientRect(GetDlgItem(hwnd, c.id), &box);
            bitmap = fit_bitmap(bitmap, image->width, image->height, box.right - box.left, box.bottom - box.top);
            SendDlgItemMessageW(hwnd, c.id, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
            made.push_back(bitmap);
        }
        return made;
    }
};

// A dialog whose window is destroyed while it runs (DestroyWindow instead of EndDialog)
// ends with -1, or with the result of an EndDialog that came first.
INT_PTR CDialog::DoModal() { return DialogRuntime::run(*this); }

void CDialog::EndDialog(int result) {
    ending_ = true;
    result_ = result;
    // Wakes the loop, which may be waiting on another thread's behalf.
    if (m_hWnd != nullptr) ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
    return msg != nullptr && m_hWnd != nullptr && IsDialogMessageW(m_hWnd, msg) ? TRUE : FALSE;
}

// ---- controls ----

int CButton::GetCheck() const {
    return static_cast<int>(::SendMessageW(m_hWnd, BM_GETCHECK, 0, 0));
}

void CButton::SetCheck(int state) { ::SendMessageW(m_hWnd, BM_SETCHECK, static_cast<WPARAM>(state), 0); }

void CComboBox::ResetContent() { ::SendMessageW(m_hWnd, CB_RESETCONTENT, 0, 0); }

int CComboBox::AddString(LPCWSTR text) {
    return static_cast<int>(::SendMessageW(m_hWnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}

int CComboBox::GetCurSel() const { return static_cast<int>(::SendMessageW(m_hWnd, CB_GETCURSEL, 0, 0)); }

int CComboBox::SetCurSel(int index) {
    return static_cast<int>(::SendMessageW(m_hWnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0));
}

int CComboBox::GetCount() const { return static_cast<int>(::SendMessageW(m_hWnd, CB_GETCOUNT, 0, 0)); }

// ---- command bar ----

// The desktop's command bar is the window's menu bar: the bar has no window of its own,
// so the object stands for its top-level window.
BOOL CCommandBar::Create(CWnd* parent) {
    HWND top = parent != nullptr && parent->m_hWnd != nullptr ? GetAncestor(parent->m_hWnd, GA_ROOT) : nullptr;
    if (top == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    m_hWnd = top;
    return TRUE;
}

// The id names a soft-key bar definition (one item and its label string) or, failing
// that, a menu; either becomes the window's menu bar.
BOOL CCommandBar::InsertMenuBar(UINT menu_id) {
    if (m_hWnd == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (const resource::SoftKeyBarResource* def = resource::find_softkey_bar(static_cast<int>(menu_id))) {
        const resource::MenuItem item{def->command, resource::find_string(def->label_string)};
        const resource::MenuTemplate bar{def->id, {&item, 1}};
        HMENU menu = win32::build_menu_bar(bar);
        return menu != nullptr && win32::set_menu_bar(m_hWnd, menu);
    }
    SHMENUBARINFO info{};
    info.cbSize = sizeof(info);
    info.hwndParent = m_hWnd;
    info.dwFlags = SHCMBF_HMENU;
    info.nToolBarId = menu_id;
    info.hInstRes = AfxGetResourceHandle();
    return SHCreateMenuBar(&info);
}

// ---- application ----

HINSTANCE AfxGetInstanceHandle() { return GetModuleHandleW(nullptr); }

WString framework::executable_name() {
    WCHAR path[MAX_PATH]{};
    // The desktop's own call: this process's module, never a process handle.
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    WString name(path, std::min<DWORD>(length, MAX_PATH));
    name.erase(0, name.find_last_of(L"\\/") + 1);
    const std::size_t dot = name.rfind(L'.');
    if (dot != WString::npos) name.resize(dot);
    return name;
}

int framework::run_message_loop() {
    while (pump_one()) {
    }
    MSG quit;
    return PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) ? static_cast<int>(quit.wParam) : 0;
}

// The desktop takes down a process's windows and queue when the process ends.
void framework::program_ended() {}
