// The key lock settings dialog. A new idle time applies to the ticks already counted:
// the key lock's count is not restarted.
#include "dialogs/set_keylock_dlg.h"

#include <array>

#include "app/haptics.h"
#include "app/settings.h"
#include "dialogs/dialog_common.h"
#include "res/resources.h"

namespace {

constexpr std::array<LPCWSTR, 5> kTimeoutTexts{TEXT("30초 후"), TEXT("1분 후"), TEXT("3분 후"), TEXT("5분 후"), TEXT("10분 후")};

}  // namespace

const MessageMapEntry CSetKeylockDlg::messageEntries[] = {
    ON_COMMAND<CSetKeylockDlg, &CSetKeylockDlg::OnAutoKeylock>(IDC_AUTO_KEYLOCK),
    ON_NOTIFY_CODE<CSetKeylockDlg, &CSetKeylockDlg::OnSelchangeTimeout>(CBN_SELCHANGE, IDC_KEYLOCK_TIMEOUT),
    ON_COMMAND<CSetKeylockDlg, &CSetKeylockDlg::OnVibrateKeylock>(IDC_KEYLOCK_VIBRATE),
};
const MessageMap CSetKeylockDlg::messageMap{&CDialog::messageMap, messageEntries};
const MessageMap* CSetKeylockDlg::GetMessageMap() const { return &messageMap; }

CSetKeylockDlg::CSetKeylockDlg(UnsavedChanges& unsaved) : CDialog(IDD_SET_KEYLOCK), m_store(unsaved) {}

void CSetKeylockDlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_AUTO_KEYLOCK, m_chkAutoKeylock);
    DDX_Control(dx, IDC_KEYLOCK_TIMEOUT, m_cmbTimeout);
    DDX_Control(dx, IDC_KEYLOCK_GROUP, m_grpTimeout);
    DDX_Control(dx, IDC_KEYLOCK_VIBRATE, m_chkVibrate);
}

BOOL CSetKeylockDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CreateOkSoftKeyBar(*this);
    m_store.Rearm();

    m_cmbTimeout.ResetContent();
    for (LPCWSTR text : kTimeoutTexts) m_cmbTimeout.AddString(text);
    m_cmbTimeout.SetCurSel(AppSettings.KeylockTimeout);
    m_chkAutoKeylock.SetCheck(AppSettings.EnableAutoKeylock);
    EnableTimeoutControls(AppSettings.EnableAutoKeylock != 0 ? TRUE : FALSE);
    // Shown from the setting even while the box is disabled.
    m_chkVibrate.SetCheck(AppSettings.EnableVibrateAlertKeylock);
    return TRUE;
}

void CSetKeylockDlg::EnableTimeoutControls(BOOL enable) {
    m_cmbTimeout.EnableWindow(enable);
    m_grpTimeout.EnableWindow(enable);
    m_chkVibrate.EnableWindow(enable);
}

void CSetKeylockDlg::OnAutoKeylock() {
    VibrateFor(50);
    const bool stored = m_store.StoreSetting(AppSettings.EnableAutoKeylock, TickOf(m_chkAutoKeylock));
    EnableTimeoutControls(AppSettings.EnableAutoKeylock != 0 ? TRUE : FALSE);
    m_store.TellIfRefused(*this, stored);
}

void CSetKeylockDlg::OnSelchangeTimeout() {
    VibrateFor(50);
    const LONG index = m_cmbTimeout.GetCurSel();
    const bool stored = m_store.StoreSetting(AppSettings.KeylockTimeout, index);
    AppSettings.keylockTimeoutTicks = KeylockTimeoutTicksFor(index, AppSettings.keylockTimeoutTicks);
    m_store.TellIfRefused(*this, stored);
}

void CSetKeylockDlg::OnVibrateKeylock() {
    VibrateFor(50);
    m_store.TellIfRefused(*this, m_store.StoreSetting(AppSettings.EnableVibrateAlertKeylock, TickOf(m_chkVibrate)));
}
