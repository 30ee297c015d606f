// The dialog framework's platform-independent half: the window members that only call
// the platform API, message-map lookup, the dialogs' IDOK and IDCANCEL defaults, and the
// application object with AfxWinMain. Written against platform/afxwin.h and
// platform/windows.h alone, it is compiled into both platforms; each platform's afx.cpp
// binds objects to its windows, runs dialogs and the message loop, and drives controls.
#include "platform/framework/afx_common.h"

#include "platform/windows.h"

namespace {

CWinApp* g_app = nullptr;
void (*g_process_init)() = nullptr;

}  // namespace

// ---- CWnd ----

const MessageMap CWnd::messageMap{nullptr, {}};

BOOL CWnd::ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
BOOL CWnd::SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }
void CWnd::SetWindowText(LPCWSTR text) { ::SetWindowTextW(m_hWnd, text); }
BOOL CWnd::EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
CWnd* CWnd::GetDlgItem(int id) const { return FromHandle(::GetDlgItem(m_hWnd, id)); }

HICON CWnd::SetIcon(HICON icon, BOOL big) {
    return reinterpret_cast<HICON>(
        ::SendMessageW(m_hWnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

BOOL CWnd::DestroyWindow() { return ::DestroyWindow(m_hWnd); }
LRESULT CWnd::SendMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    return ::SendMessageW(m_hWnd, message, wparam, lparam);
}
BOOL CWnd::PostMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    return ::PostMessageW(m_hWnd, message, wparam, lparam);
}
UINT CWnd::SetTimer(UINT id, UINT period_ms, TIMERPROC proc) {
    return static_cast<UINT>(::SetTimer(m_hWnd, id, period_ms, proc));
}
BOOL CWnd::KillTimer(UINT id) { return ::KillTimer(m_hWnd, id); }

BOOL CWnd::UpdateData(BOOL save_and_validate) {
    CDataExchange dx(this, save_and_validate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }
void CWnd::DoDataExchange(CDataExchange*) {}
const MessageMap* CWnd::GetMessageMap() const { return &messageMap; }
void CWnd::OnDestroy() {}

const MessageMapEntry* framework::find_handler(const MessageMap* map, UINT message, WPARAM wparam) {
    for (; map; map = map->base) {
        for (const MessageMapEntry& e : map->entries) {
            if (e.message != message) continue;
            if (message == WM_COMMAND && (e.id != LOWORD(wparam) || e.code != HIWORD(wparam))) continue;
            return &e;
        }
    }
    return nullptr;
}

// ---- CDialog ----

const MessageMap CDialog::messageMap{&CWnd::messageMap, {}};

CDialog::CDialog(UINT template_id, CWnd* parent) : template_id_(template_id), parent_(parent) {}

CDialog::~CDialog() = default;

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

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
    registry_key_ = key ? WString(key) : WString();
    m_pszRegistryKey = registry_key_.c_str();
}

CWinApp* AfxGetApp() { return g_app; }
HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

void AfxSetProcessInit(void (*init)()) { g_process_init = init; }

int AfxWinMain(LPCWSTR) {
    CWinApp* app = g_app;
    if (!app) return -1;
    if (!app->named_) {
        app->app_name_ = framework::executable_name();
        app->m_pszAppName = app->app_name_.c_str();
    }
    app->m_hInstance = AfxGetInstanceHandle();
    if (g_process_init) g_process_init();
    app->exit_code_ = 0;
    if (app->InitInstance()) app->exit_code_ = framework::run_message_loop();
    const int code = app->ExitInstance();
    framework::program_ended();
    return code;
}
