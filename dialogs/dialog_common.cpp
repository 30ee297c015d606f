// The pieces every settings dialog and the about box share.
#include "dialogs/dialog_common.h"

#include "app/main_dlg.h"
#include "res/resources.h"

namespace {

constexpr LPCWSTR kSaveFailed = TEXT("설정 저장 실패!");

}  // namespace

void ShowProgramMessage(CWnd& dialog, LPCWSTR text) {
    CWinApp* app = AfxGetApp();
    dialog.MessageBox(text, app != nullptr ? app->m_pszAppName : nullptr, MB_OK);
}

void CreateOkSoftKeyBar(CWnd& dialog) {
    SHMENUBARINFO bar{};
    bar.cbSize = sizeof(bar);
    bar.hwndParent = dialog.m_hWnd;
    bar.dwFlags = SHCMBF_HMENU;
    bar.nToolBarId = IDR_OK_MENU;
    bar.hInstRes = AfxGetResourceHandle();
    if (SHCreateMenuBar(&bar)) return;
    ShowProgramMessage(dialog, TEXT("Soft Key Bar 생성 실패!"));
}

CMainDlg* OwnerMainDlg(const CWnd& dialog) { return dynamic_cast<CMainDlg*>(dialog.GetParent()); }

LONG TickOf(const CButton& box) { return box.GetCheck() == BST_CHECKED ? 1 : 0; }

bool ChangeStore::StoreSetting(SettingWord& field, LONG value) {
    field = value;
    return m_unsaved.StoreSetting(field);
}

void ChangeStore::TellIfRefused(CWnd& dialog, bool stored) {
    if (stored || m_bTold) return;
    m_bTold = true;
    ShowProgramMessage(dialog, kSaveFailed);
}
