// The handset's dialog framework: application object, windows, dialogs and controls.
//
// The classes keep the platform's names and the members programs use. A window class
// binds messages to handlers with a message map: a plain table of MessageMapEntry,
// returned by the virtual GetMessageMap(), built with the helpers ON_COMMAND,
// ON_NOTIFY_CODE, ON_MESSAGE_HANDLER and ON_TIMER_HANDLER below (functions, not
// macros). Dispatch looks in the most derived class's map first, then in its base's.
//
// Modal dialogs run in a nested message loop (DoModal) that keeps dispatching the
// messages and timers of every window of the thread, so a main window's timer goes
// on ticking while one of its dialogs is open. A dialog constructed without a parent
// and run modally gets the thread's active window as its owner and parent.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/windows.h"

class CWnd;
class CDialog;
class CDataExchange;

// One entry of a message map. `message` is the window message (WM_COMMAND, WM_TIMER,
// WM_DESTROY or a private message); for WM_COMMAND, `code` is the notification code
// and `id` the command or control id.
struct MessageMapEntry {
    UINT message;
    UINT code;
    UINT id;
    LRESULT (*thunk)(CWnd* self, WPARAM wparam, LPARAM lparam);
};

struct MessageMap {
    const MessageMap* base;
    std::span<const MessageMapEntry> entries;
};

namespace afx_detail {
template <class T, void (T::*F)()>
LRESULT command_thunk(CWnd* self, WPARAM, LPARAM) {
    (static_cast<T*>(self)->*F)();
    return 0;
}
template <class T, void (T::*F)(UINT)>
LRESULT timer_thunk(CWnd* self, WPARAM w, LPARAM) {
    (static_cast<T*>(self)->*F)(static_cast<UINT>(w));
    return 0;
}
template <class T, LRESULT (T::*F)(WPARAM, LPARAM)>
LRESULT message_thunk(CWnd* self, WPARAM w, LPARAM l) {
    return (static_cast<T*>(self)->*F)(w, l);
}
template <class T, void (T::*F)()>
LRESULT void_message_thunk(CWnd* self, WPARAM, LPARAM) {
    (static_cast<T*>(self)->*F)();
    return 0;
}
}  // namespace afx_detail

// WM_COMMAND with BN_CLICKED (or a menu command) from `id`.
template <class T, void (T::*F)()>
constexpr MessageMapEntry ON_COMMAND(UINT id) {
    return {WM_COMMAND, BN_CLICKED, id, &afx_detail::command_thunk<T, F>};
}
// WM_COMMAND with notification `code` from control `id` (BN_CLICKED, CBN_SELCHANGE).
template <class T, void (T::*F)()>
constexpr MessageMapEntry ON_NOTIFY_CODE(UINT code, UINT id) {
    return {WM_COMMAND, code, id, &afx_detail::command_thunk<T, F>};
}
// Any window message handled as LRESULT (WPARAM, LPARAM).
template <class T, LRESULT (T::*F)(WPARAM, LPARAM)>
constexpr MessageMapEntry ON_MESSAGE_HANDLER(UINT message) {
    return {message, 0, 0, &afx_detail::message_thunk<T, F>};
}
// WM_TIMER, handled as void (UINT timer_id).
template <class T, void (T::*F)(UINT)>
constexpr MessageMapEntry ON_TIMER_HANDLER() {
    return {WM_TIMER, 0, 0, &afx_detail::timer_thunk<T, F>};
}
// WM_DESTROY, handled as void ().
template <class T, void (T::*F)()>
constexpr MessageMapEntry ON_DESTROY_HANDLER() {
    return {WM_DESTROY, 0, 0, &afx_detail::void_message_thunk<T, F>};
}

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;

    BOOL ShowWindow(int command);
    BOOL SetForegroundWindow();
    void SetWindowText(LPCWSTR text);
    WString GetWindowText() const;
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    CWnd* GetParent() const;
    CWnd* GetDlgItem(int id) const;
    HICON SetIcon(HICON icon, BOOL big);
    BOOL DestroyWindow();
    LRESULT SendMessage(UINT message, WPARAM wparam = 0, LPARAM lparam = 0);
    BOOL PostMessage(UINT message, WPARAM wparam = 0, LPARAM lparam = 0);
    UINT SetTimer(UINT id, UINT period_ms, TIMERPROC proc);
    BOOL KillTimer(UINT id);
    int MessageBox(LPCWSTR text, LPCWSTR caption = nullptr, UINT type = MB_OK);
    void SetDlgItemText(int id, LPCWSTR text);
    BOOL UpdateData(BOOL save_and_validate = TRUE);

    // The framework object bound to a window of this process; for a window without one,
    // a temporary object that lives as long as the window. Null for no window.
    static CWnd* FromHandle(HWND hwnd);

    // Message handling. WindowProc looks the message up in the message maps and falls
    // back to DefWindowProc.
    virtual LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wparam, LPARAM lparam);
    // Seen before dispatch for messages of this window and its children; TRUE consumes.
    virtual BOOL PreTranslateMessage(MSG* msg);
    virtual void DoDataExchange(CDataExchange* dx);
    virtual const MessageMap* GetMessageMap() const;
    virtual void OnDestroy();

protected:
    static const MessageMap messageMap;
};

class CDataExchange {
public:
    CDataExchange(CWnd* dlg, BOOL save) : m_pDlgWnd(dlg), m_bSaveAndValidate(save) {}
    CWnd* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

// Binds `control` to the dialog's control `id` (attaches its window handle).
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
// Copies text between a member string and control `id`.
void DDX_Text(CDataExchange* dx, int id, WString& value);

class CDialog : public CWnd {
public:
    explicit CDialog(UINT template_id, CWnd* parent = nullptr);
    ~CDialog() override;

    // Creates the dialog from its template and runs it in a nested modal loop until
    // EndDialog or the window's destruction; returns the EndDialog result, or -1 when
    // the window was destroyed without one or could not be created.
    virtual INT_PTR DoModal();
    void EndDialog(int result);
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    BOOL PreTranslateMessage(MSG* msg) override;
    LRESULT DefWindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;
    const MessageMap* GetMessageMap() const override;

    UINT template_id() const { return template_id_; }

protected:
    static const MessageMap messageMap;

private:
    UINT template_id_;
    CWnd* parent_;
    bool ending_ = false;
    int result_ = -1;
    friend struct DialogRuntime;
};

class CButton : public CWnd {
public:
    int GetCheck() const;
    void SetCheck(int state);
};

class CComboBox : public CWnd {
public:
    void ResetContent();
    int AddString(LPCWSTR text);
    int GetCurSel() const;
    // -1 or an index out of range leaves no entry selected (and returns CB_ERR).
    int SetCurSel(int index);
    int GetCount() const;
};

class CStatic : public CWnd {};

class CCommandBar : public CWnd {
public:
    BOOL Create(CWnd* parent);
    BOOL InsertMenuBar(UINT menu_id);
};

class CWinApp {
public:
    // `app_name` overrides the application name; normally it comes from the executable.
    explicit CWinApp(LPCWSTR app_name = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Start-up step of the application; FALSE ends the process without a message loop.
    virtual BOOL InitInstance();
    virtual int ExitInstance();
    void SetRegistryKey(LPCWSTR key);

    // The executable's file name without its extension.
    LPCWSTR m_pszAppName = nullptr;
    LPCWSTR m_pszRegistryKey = nullptr;
    CWnd* m_pMainWnd = nullptr;
    HINSTANCE m_hInstance = nullptr;

private:
    WString app_name_;
    WString registry_key_;
    bool named_ = false;  // the name was given to the constructor
    int exit_code_ = 0;   // of the message loop, for ExitInstance
    friend int AfxWinMain(LPCWSTR command_line);
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();

// The framework's entry, run on the process's main thread: it sets the application name
// from the executable, runs the process-start routine, then the application object's
// InitInstance; when that returns TRUE, a message loop until WM_QUIT. Then ExitInstance,
// whose result is the exit code. Windows the program left are destroyed at the end.
int AfxWinMain(LPCWSTR command_line);

// Registers the routine that gives the program's process-wide data its initial
// values; the framework runs it at the start of every process of the program, as
// the loader would initialise a fresh image.
void AfxSetProcessInit(void (*init)());
