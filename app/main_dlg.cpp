// The main window: initialisation in its fixed order, the status lines, the soft-key
// menu, the pre-dispatch filter for Enter and Back, the watch tick that runs the
// reminder, the key lock and the mail-client exception, and the destruction that stops
// the watch.
#include "app/main_dlg.h"

#include <algorithm>
#include <array>

#include "app/haptics.h"
#include "app/settings.h"
#include "res/resources.h"
#include "watch/block_3g.h"
#include "watch/power_watch.h"

namespace {

constexpr LPCWSTR kSoftKeyBarFailed = TEXT("Soft Key Bar 생성 실패!");

// The executable's folder: its full path cut at the last backslash.
WString FolderOfExecutable() {
    std::array<WCHAR, MAX_PATH> path{};
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    WString folder(path.data(), std::min<std::size_t>(length, path.size()));
    const std::size_t cut = folder.rfind(TEXT('\\'));
    if (cut != WString::npos) folder.resize(cut);
    return folder;
}

LPCWSTR AppName() {
    CWinApp* app = AfxGetApp();
    return app != nullptr ? app->m_pszAppName : nullptr;
}

}  // namespace

const MessageMapEntry CMainDlg::messageEntries[] = {
    ON_COMMAND<CMainDlg, &CMainDlg::OnCloseKey>(IDOK),
    ON_COMMAND<CMainDlg, &CMainDlg::On3GsvcSettings>(ID_MENU_3GSVC),
    ON_COMMAND<CMainDlg, &CMainDlg::OnAlertSettings>(ID_MENU_ALERT),
    ON_COMMAND<CMainDlg, &CMainDlg::OnKeylockSettings>(ID_MENU_KEYLOCK),
    ON_COMMAND<CMainDlg, &CMainDlg::OnAbout>(ID_MENU_ABOUT),
    ON_COMMAND<CMainDlg, &CMainDlg::OnExitProgram>(ID_MENU_EXIT),
    ON_COMMAND<CMainDlg, &CMainDlg::OnGeneralSettings>(ID_MENU_GENERAL),
    ON_TIMER_HANDLER<CMainDlg, &CMainDlg::OnWatchTick>(),
    ON_MESSAGE_HANDLER<CMainDlg, &CMainDlg::OnVibratePulse>(WM_VIBRATE_PULSE),
    ON_DESTROY_HANDLER<CMainDlg, &CMainDlg::OnDestroy>(),
};
const MessageMap CMainDlg::messageMap{&CDialog::messageMap, messageEntries};
const MessageMap* CMainDlg::GetMessageMap() const { return &messageMap; }

CMainDlg::CMainDlg()
    : CDialog(IDD_MAIN), m_dlg3Gsvc(m_unsaved), m_dlgKeylock(m_unsaved), m_dlgAlert(m_unsaved), m_dlgGeneral(m_unsaved) {
    m_hIcon = LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDI_QUILLON));
}

CMainDlg::~CMainDlg() = default;

void CMainDlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Text(dx, IDC_MODEL, m_strModel);
    DDX_Text(dx, IDC_3GSVC_STATUS, m_str3G);
    DDX_Text(dx, IDC_ALERT_STATUS, m_strAlert);
    DDX_Text(dx, IDC_KEYLOCK_STATUS, m_strKeylock);
}

BOOL CMainDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    // Without the framework's command bar the window stays as it is: empty status
    // lines, no soft keys, no settings, no watch.
    if (!m_cmdBar.Create(this) || !m_cmdBar.InsertMenuBar(IDR_MAINMENU)) return FALSE;

    SetWindowText(kMainWindowTitle);
    programFolder = FolderOfExecutable();

    // The soft-key bar the user works with: "닫기" and "메뉴".
    SHMENUBARINFO bar{};
    bar.cbSize = sizeof(bar);
    bar.hwndParent = m_hWnd;
    bar.dwFlags = SHCMBF_HMENU;
    bar.nToolBarId = IDR_MAINMENU;
    bar.hInstRes = AfxGetInstanceHandle();
    if (!SHCreateMenuBar(&bar)) MessageBox(kSoftKeyBarFailed, AppName(), MB_OK);

    m_nLastMissedCalls = 0;
    m_nLastUnreadSms = 0;
    m_nAlertTicks = 0;
    m_bAlertGiven = 0;

    // Records the power state once before the settings are loaded, so this first check
    // never unlocks the keypad.
    StartPowerWatch();
    m_bTmailPassThrough = 0;
    LoadSettings();
    SetTimer(WATCH_TIMER_ID, WATCH_TIMER_PERIOD_MS, nullptr);
    return TRUE;
}

void CMainDlg::LoadSettings() {
    LoadAppSettings();
    FinishPhoneBookMove(AppSettings.data3GAllowed);
    RefreshStatusLines();
}

void CMainDlg::RefreshStatusLines() {
    switch (AppSettings.carrier) {
        case 1: m_strModel = TEXT("모델: SCH-M620"); break;
        case 2: m_strModel = TEXT("모델: SPH-M6200"); break;
        default: m_strModel = TEXT("모델: 알수없음"); break;
    }
    m_str3G = AppSettings.data3GAllowed != 0 ? TEXT("3G 인터넷서비스 접속: 허용") : TEXT("3G 인터넷서비스 접속: 차단");
    m_strAlert = (AppSettings.enableCallAlert == 0 && AppSettings.enableSmsAlert == 0) ? TEXT("부재중수신 알림: 사용안함")
                                                                                       : TEXT("부재중수신 알림: 사용");
    m_strKeylock = AppSettings.EnableAutoKeylock != 0 ? TEXT("자동 키잠금: 사용") : TEXT("자동 키잠금: 사용안함");
    UpdateData(FALSE);
}

BOOL CMainDlg::PreTranslateMessage(MSG* msg) {
    if (msg->message == WM_KEYDOWN) {
        if (msg->wParam == VK_RETURN) return TRUE;
        if (msg->wParam == VK_ESCAPE) {
            // Back hides the window; the watch goes on, and a new start shows it again.
            ShowWindow(SW_MINIMIZE);
            return TRUE;
        }
    }
    return CDialog::PreTranslateMessage(msg);
}

void CMainDlg::OnCloseKey() {
    // "닫기" acts as the Back key, so that both hide the window the same way.
    PressKey(VK_ESCAPE);
}

// The modal results are ignored: every change was stored as it was made, so the status
// lines are rebuilt however the dialog was closed. A change the device refused while
// the dialog was open gets its first retry here.
void CMainDlg::RunSettingsDialog(CDialog& dialog) {
    dialog.DoModal();
    m_unsaved.StorePending();
    RefreshStatusLines();
}

void CMainDlg::On3GsvcSettings() { RunSettingsDialog(m_dlg3Gsvc); }

void CMainDlg::OnAlertSettings() { RunSettingsDialog(m_dlgAlert); }

void CMainDlg::OnKeylockSettings() { RunSettingsDialog(m_dlgKeylock); }

void CMainDlg::OnGeneralSettings() { RunSettingsDialog(m_dlgGeneral); }

void CMainDlg::OnAbout() { m_dlgAbout.DoModal(); }

void CMainDlg::OnExitProgram() { DestroyWindow(); }

void CMainDlg::OnWatchTick(UINT timer_id) {
    if (timer_id != WATCH_TIMER_ID) return;
    CheckReminder();
    CheckAutoKeylock();
    CheckTmailPassThrough();
}

LRESULT CMainDlg::OnVibratePulse(WPARAM ms, LPARAM) {
    VibrateFor(static_cast<DWORD>(ms));
    return 0;
}

void CMainDlg::OnDestroy() {
    CDialog::OnDestroy();
    KillTimer(WATCH_TIMER_ID);
    // A pass-through granted for the mail client ends with the program.
    if (AppSettings.data3GAllowed == 0 && m_bTmailPassThrough != 0) Apply3GState(0);
    StopPowerWatch();
    // The last chance for a change the device refused: what is refused now is lost.
    m_unsaved.StorePending();
}
