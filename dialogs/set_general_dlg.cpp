// The general settings dialog. The automatic start is no registry setting but the
// presence of a shortcut in the start-up folder, created or deleted at once.
#include "dialogs/set_general_dlg.h"

#include "app/haptics.h"
#include "app/settings.h"
#include "dialogs/dialog_common.h"
#include "res/resources.h"

const MessageMapEntry CSetGeneralDlg::messageEntries[] = {
    ON_COMMAND<CSetGeneralDlg, &CSetGeneralDlg::OnAutostart>(IDC_AUTOSTART),
    ON_COMMAND<CSetGeneralDlg, &CSetGeneralDlg::OnPowerKeyUnlock>(IDC_POWERKEY_UNLOCK),
};
const MessageMap CSetGeneralDlg::messageMap{&CDialog::messageMap, messageEntries};
const MessageMap* CSetGeneralDlg::GetMessageMap() const { return &messageMap; }

CSetGeneralDlg::CSetGeneralDlg(UnsavedChanges& unsaved) : CDialog(IDD_SET_GENERAL), m_store(unsaved) {}

void CSetGeneralDlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_AUTOSTART, m_chkAutostart);
    DDX_Control(dx, IDC_POWERKEY_UNLOCK, m_chkPowerKeyUnlock);
}

BOOL CSetGeneralDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CreateOkSoftKeyBar(*this);
    m_store.Rearm();
    m_chkAutostart.SetCheck(AppSettings.autostartEnabled);
    m_chkPowerKeyUnlock.SetCheck(AppSettings.EnablePowerKeyUnlock);
    return TRUE;
}

void CSetGeneralDlg::OnAutostart() {
    VibrateFor(50);
    // The box shows the wish; a shortcut that cannot be made or deleted yet is kept for
    // a retry, and the next start reads the file again.
    AppSettings.autostartEnabled = TickOf(m_chkAutostart);
    m_store.TellIfRefused(*this, m_store.Unsaved().StoreStartupShortcut());
}

void CSetGeneralDlg::OnPowerKeyUnlock() {
    VibrateFor(50);
    m_store.TellIfRefused(*this,
                          m_store.StoreSetting(AppSettings.EnablePowerKeyUnlock, TickOf(m_chkPowerKeyUnlock)));
}
