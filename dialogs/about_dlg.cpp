// The about box: everything it shows comes from its dialog resource.
#include "dialogs/about_dlg.h"

#include "dialogs/dialog_common.h"
#include "res/resources.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUT) {}

BOOL CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CreateOkSoftKeyBar(*this);
    return TRUE;
}
