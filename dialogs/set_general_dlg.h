// The general settings: the start-up shortcut and the power-key unlock.
#pragma once

#include <string>

#include "dialogs/dialog_common.h"
#include "platform/afxwin.h"

class CSetGeneralDlg : public CDialog {
public:
    // Stores its changes through `unsaved`, the main window's record.
    explicit CSetGeneralDlg(UnsavedChanges& unsaved);

    CButton m_chkAutostart;
    CButton m_chkPowerKeyUnlock;

protected:
    ChangeStore m_store;

    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    const MessageMap* GetMessageMap() const override;
    static const MessageMapEntry messageEntries[];
    static const MessageMap messageMap;

    void OnAutostart();
    void OnPowerKeyUnlock();
};
