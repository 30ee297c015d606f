// The key lock settings: the automatic key lock, its idle time and the vibration on
// lock and unlock.
#pragma once

#include "dialogs/dialog_common.h"
#include "platform/afxwin.h"

class CSetKeylockDlg : public CDialog {
public:
    // Stores its changes through `unsaved`, the main window's record.
    explicit CSetKeylockDlg(UnsavedChanges& unsaved);

    CButton m_chkAutoKeylock;
    CComboBox m_cmbTimeout;
    CStatic m_grpTimeout;
    CButton m_chkVibrate;

protected:
    ChangeStore m_store;

    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    const MessageMap* GetMessageMap() const override;
    static const MessageMapEntry messageEntries[];
    static const MessageMap messageMap;

    void OnAutoKeylock();
    void OnSelchangeTimeout();
    void OnVibrateKeylock();

private:
    void EnableTimeoutControls(BOOL enable);
};
