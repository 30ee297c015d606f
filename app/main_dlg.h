// The main window: the status dialog that shows the four status lines, carries the
// soft-key menu that opens the settings dialogs, and hosts the watch timer with its
// tick, the power watch and the 3G pass-through state for the whole run of the program.
#pragma once

#include <string>

#include "app/unsaved_changes.h"
#include "dialogs/about_dlg.h"
#include "dialogs/set_3gsvc_dlg.h"
#include "dialogs/set_alert_dlg.h"
#include "dialogs/set_general_dlg.h"
#include "dialogs/set_keylock_dlg.h"
#include "platform/afxwin.h"
#include "res/program_facts.h"
#include "watch/reminder.h"

// Private message: vibrate for wParam milliseconds.
constexpr UINT WM_VIBRATE_PULSE = 0x1F5F;

class CMainDlg : public CDialog {
public:
    CMainDlg();
    ~CMainDlg() override;

    CCommandBar m_cmdBar;
    // The changes the settings dialogs could not store yet; made before the dialogs,
    // which store through it.
    UnsavedChanges m_unsaved;
    CAboutDlg m_dlgAbout;
    CSet3GsvcDlg m_dlg3Gsvc;
    CSetKeylockDlg m_dlgKeylock;
    CSetAlertDlg m_dlgAlert;
    CSetGeneralDlg m_dlgGeneral;
    LONG m_bTmailPassThrough = 0;  // 3G is let through for the carrier's mail client
    LONG m_nLastMissedCalls = 0;   // the counts the reminder last took note of
    LONG m_nLastUnreadSms = 0;
    LONG m_nAlertTicks = 0;        // ticks since the last restart or reminder
    LONG m_bAlertGiven = 0;        // once mode: the single reminder has been given
    HICON m_hIcon = nullptr;
    WString m_strModel;
    WString m_str3G;
    WString m_strAlert;
    WString m_strKeylock;

    // Rebuilds the four status texts from AppSettings and shows them.
    void RefreshStatusLines();
    // Fills AppSettings from the device and the registry, then refreshes the status lines.
    void LoadSettings();

    // The watch timer's handler: the reminder, the key lock and the mail-client
    // exception, in that order, for every expiry of WATCH_TIMER_ID.
    void OnWatchTick(UINT timer_id);
    void CheckReminder();
    void GiveReminder(ReminderKind kind, LONG count);
    void CheckTmailPassThrough();

protected:
    const MessageMap* GetMessageMap() const override;
    void DoDataExchange(CDataExchange* dx) override;
    BOOL PreTranslateMessage(MSG* msg) override;
    BOOL OnInitDialog() override;
    void OnDestroy() override;
    static const MessageMapEntry messageEntries[];
    static const MessageMap messageMap;

    void OnCloseKey();
    void On3GsvcSettings();
    void OnAlertSettings();
    void OnKeylockSettings();
    void OnGeneralSettings();
    void OnAbout();
    void OnExitProgram();
    LRESULT OnVibratePulse(WPARAM ms, LPARAM);

private:
    // Shows a settings dialog modally, then retries what it could not store and
    // rebuilds the status lines.
    void RunSettingsDialog(CDialog& dialog);
    // One row of the reminder tables for a single enabled kind.
    void CheckSingleKind(LONG count, LONG& remembered, ReminderKind kind);
    // The reminder tables with both kinds enabled.
    void CheckBothKinds(LONG missed, LONG unread);
    // Counter and once flag back to 0: the wait for the present counts starts again.
    void RestartReminder();
};
