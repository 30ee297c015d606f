// The pieces every settings dialog and the about box share.
#include "dialogs/dialog_common.h"

#include "app/main_dlg.h"
#include "res/resources.h"

void CreateOkSoftKeyBar(CWnd& dialog) {
    SHMENUBARINFO bar{};
    bar.cbSize = sizeof(bar);
    bar.hwndParent = dialog.m_hWnd;
    bar.dwFlags = SHCMBF_HMENU;
    bar.nToolBarId = IDR_OK_MENU;
    bar.hInstRes = AfxGetResourceHandle();
    if (SHCreateMenuBar(&bar)) return;
    CWinApp* app = AfxGetApp();
    dialog.MessageBox(TEXT("Soft Key Bar 생성 실패!"), app != nullptr ? app->m_pszAppName : nullptr, MB_OK);
}

CMainDlg* OwnerMainDlg(const CWnd& dialog) { return dynamic_cast<CMainDlg*>(dialog.GetParent()); }

void StoreSetting(SettingWord& field, LONG value, LPCWSTR value_name) {
    field = value;
    WriteRegDword(HKEY_CURRENT_USER, kSettingsKey, value_name, static_cast<DWORD>(value));
}

LONG TickOf(const CButton& box) { return box.GetCheck() == BST_CHECKED ? 1 : 0; }
