// The 3G connection settings: block or allow the carrier's 3G packet data, and on SKT
// phones the exception for the carrier's mail client and its alert sound.
#pragma once

#include "dialogs/dialog_common.h"
#include "platform/afxwin.h"

class CSet3GsvcDlg : public CDialog {
public:
    // Stores its changes through `unsaved`, the main window's record.
    explicit CSet3GsvcDlg(UnsavedChanges& unsaved);

    CButton m_chkBlock3G;
    CButton m_chkTmail3Gsvc;
    CButton m_chkTmailAlert;
    CStatic m_grpTmail;

protected:
    ChangeStore m_store;

    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    const MessageMap* GetMessageMap() const override;
    static const MessageMapEntry messageEntries[];
    static const MessageMap messageMap;

    void OnBlock3G();
    void OnTmail3Gsvc();
    void OnTmailAlert();
};
