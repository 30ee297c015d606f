// The about box: the emblem, the name and the version, closed with "확인".
#pragma once

#include "platform/afxwin.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    BOOL OnInitDialog() override;
};
