// The general settings dialog. The automatic start is no registry setting but the
// presence of a shortcut in the start-up folder, created or deleted at once.
#include "dialogs/set_general_dlg.h"

#include <array>

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

WString StartupShortcutTarget(const WString& folder) {
    std::array<WCHAR, 1024> target{};
    wsprintfW(target.data(), TEXT("\"%s\\Quillon.exe\""), folder.c_str());
    return target.data();
}

CSetGeneralDlg::CSetGeneralDlg() : CDialog(IDD_SET_GENERAL) {}

void CSetGeneralDlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_AUTOSTART, m_chkAutostart);
    DDX_Control(dx, IDC_POWERKEY_UNLOCK, m_chkPowerKeyUnlock);
}

BOOL CSetGeneralDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CreateOkSoftKeyBar(*this);
    m_chkAutostart.SetCheck(AppSettings.autostartEnabled);
    m_chkPowerKeyUnlock.SetCheck(AppSettings.EnablePowerKeyUnlock);
    return TRUE;
}

void CSetGeneralDlg::OnAutostart() {
    VibrateFor(50);
    // The box shows the wish; whether the file could be made shows at the next start.
    AppSettings.autostartEnabled = TickOf(m_chkAutostart);
    const WString target = StartupShortcutTarget(programFolder);
    if (AppSettings.autostartEnabled != 0)
        SHCreateShortcut(kStartupShortcut, target.c_str());
    else
        DeleteFileW(kStartupShortcut);
}

void CSetGeneralDlg::OnPowerKeyUnlock() {
    VibrateFor(50);
    StoreSetting(AppSettings.EnablePowerKeyUnlock, TickOf(m_chkPowerKeyUnlock), TEXT("EnablePowerKeyUnlock"));
}
