// The missed-call alert settings dialog. Every change is stored and written at once;
// choosing an interval also starts the reminder's wait again.
#include "dialogs/set_alert_dlg.h"

#include <array>

#include "app/haptics.h"
#include "app/main_dlg.h"
#include "app/settings.h"
#include "dialogs/dialog_common.h"
#include "res/resources.h"

namespace {

constexpr std::array<LPCWSTR, 3> kIntervalTexts{TEXT("한번만"), TEXT("2분마다"), TEXT("10분마다")};

}  // namespace

const MessageMapEntry CSetAlertDlg::messageEntries[] = {
    ON_COMMAND<CSetAlertDlg, &CSetAlertDlg::OnCallAlert>(IDC_CALL_ALERT),
    ON_COMMAND<CSetAlertDlg, &CSetAlertDlg::OnSmsAlert>(IDC_SMS_ALERT),
    ON_NOTIFY_CODE<CSetAlertDlg, &CSetAlertDlg::OnSelchangeInterval>(CBN_SELCHANGE, IDC_ALERT_INTERVAL),
    ON_COMMAND<CSetAlertDlg, &CSetAlertDlg::OnVibrateAlert>(IDC_ALERT_VIBRATE),
};
const MessageMap CSetAlertDlg::messageMap{&CDialog::messageMap, messageEntries};
const MessageMap* CSetAlertDlg::GetMessageMap() const { return &messageMap; }

CSetAlertDlg::CSetAlertDlg(UnsavedChanges& unsaved) : CDialog(IDD_SET_ALERT), m_store(unsaved) {}

void CSetAlertDlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_CALL_ALERT, m_chkCallAlert);
    DDX_Control(dx, IDC_SMS_ALERT, m_chkSmsAlert);
    DDX_Control(dx, IDC_ALERT_INTERVAL, m_cmbInterval);
    DDX_Control(dx, IDC_ALERT_INTERVAL_LABEL, m_stcInterval);
    DDX_Control(dx, IDC_ALERT_GROUP, m_grpInterval);
    DDX_Control(dx, IDC_ALERT_VIBRATE, m_chkVibrate);
}

BOOL CSetAlertDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CreateOkSoftKeyBar(*this);
    m_store.Rearm();

    m_cmbInterval.ResetContent();
    for (LPCWSTR text : kIntervalTexts) m_cmbInterval.AddString(text);
    // A stored index outside the list leaves no entry selected.
    m_cmbInterval.SetCurSel(AppSettings.AlertInterval);
    m_chkCallAlert.SetCheck(AppSettings.enableCallAlert);
    m_chkSmsAlert.SetCheck(AppSettings.enableSmsAlert);
    m_chkVibrate.SetCheck(AppSettings.EnableVibrateAlert);
    if (AppSettings.enableCallAlert == 0 && AppSettings.enableSmsAlert == 0) {
        m_stcInterval.EnableWindow(FALSE);
        m_cmbInterval.EnableWindow(FALSE);
        m_grpInterval.EnableWindow(FALSE);
        m_chkVibrate.EnableWindow(FALSE);
    }
    return TRUE;
}

void CSetAlertDlg::EnableIntervalControls() {
    const BOOL enable = (AppSettings.enableCallAlert != 0 || AppSettings.enableSmsAlert != 0) ? TRUE : FALSE;
    m_stcInterval.EnableWindow(enable);
    m_cmbInterval.EnableWindow(enable);
    m_grpInterval.EnableWindow(enable);
    m_chkVibrate.EnableWindow(enable);
}

void CSetAlertDlg::OnCallAlert() {
    VibrateFor(50);
    const bool stored = m_store.StoreSetting(AppSettings.enableCallAlert, TickOf(m_chkCallAlert));
    EnableIntervalControls();
    m_store.TellIfRefused(*this, stored);
}

void CSetAlertDlg::OnSmsAlert() {
    VibrateFor(50);
    const bool stored = m_store.StoreSetting(AppSettings.enableSmsAlert, TickOf(m_chkSmsAlert));
    EnableIntervalControls();
    m_store.TellIfRefused(*this, stored);
}

void CSetAlertDlg::OnSelchangeInterval() {
    CMainDlg* owner = OwnerMainDlg(*this);
    VibrateFor(50);
    const LONG index = m_cmbInterval.GetCurSel();
    const bool stored = m_store.StoreSetting(AppSettings.AlertInterval, index);
    AppSettings.alertIntervalTicks = AlertIntervalTicksFor(index, AppSettings.alertIntervalTicks);
    // The new interval counts from now, and a once-only reminder may be given again.
    if (owner != nullptr) {
        owner->m_nAlertTicks = 0;
        owner->m_bAlertGiven = 0;
    }
    m_store.TellIfRefused(*this, stored);
}

void CSetAlertDlg::OnVibrateAlert() {
    VibrateFor(50);
    m_store.TellIfRefused(*this, m_store.StoreSetting(AppSettings.EnableVibrateAlert, TickOf(m_chkVibrate)));
}
