// The 3G connection settings: block or allow the carrier's 3G packet data, and on SKT
// phones the exception for the carrier's mail client and its alert sound.
#pragma once

#include "platform/afxwin.h"

class CSet3GsvcDlg : public CDialog {
public:
    CSet3GsvcDlg();

    CButton m_chkBlock3G;
    CButton m_chkTmail3Gsvc;
    CButton m_chkTmailAlert;
    CStatic m_grpTmail;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    const MessageMap* GetMessageMap() const override;
    static const MessageMapEntry messageEntries[];
    static const MessageMap messageMap;

    void OnBlock3G();
    void OnTmail3Gsvc();
    void OnTmailAlert();
};
