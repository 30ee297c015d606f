// The missed-call alert settings: the two reminders, their interval and the vibration
// in silent mode.
#pragma once

#include "dialogs/dialog_common.h"
#include "platform/afxwin.h"

class CSetAlertDlg : public CDialog {
public:
    // Stores its changes through `unsaved`, the main window's record.
    explicit CSetAlertDlg(UnsavedChanges& unsaved);

    CButton m_chkCallAlert;
    CButton m_chkSmsAlert;
    CComboBox m_cmbInterval;
    CStatic m_stcInterval;
    CStatic m_grpInterval;
    CButton m_chkVibrate;

protected:
    ChangeStore m_store;

    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    const MessageMap* GetMessageMap() const override;
    static const MessageMapEntry messageEntries[];
    static const MessageMap messageMap;

    void OnCallAlert();
    void OnSmsAlert();
    void OnSelchangeInterval();
    void OnVibrateAlert();

private:
    // Enables the interval controls while at least one reminder is on.
    void EnableIntervalControls();
};
