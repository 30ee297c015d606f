// The general settings: the start-up shortcut and the power-key unlock.
#pragma once

#include <string>

#include "platform/afxwin.h"

class CSetGeneralDlg : public CDialog {
public:
    CSetGeneralDlg();

    CButton m_chkAutostart;
    CButton m_chkPowerKeyUnlock;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    const MessageMap* GetMessageMap() const override;
    static const MessageMapEntry messageEntries[];
    static const MessageMap messageMap;

    void OnAutostart();
    void OnPowerKeyUnlock();
};

// The target text of the start-up shortcut: "Quillon.exe" in `folder`, in double quotes.
WString StartupShortcutTarget(const WString& folder);
