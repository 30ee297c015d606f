// What the settings dialogs and the about box share: the single "확인" soft key, the
// way back to the main window that owns them, and the store of a changed setting.
#pragma once

#include "app/settings.h"
#include "platform/afxwin.h"

class CMainDlg;

// Creates the dialog's soft-key bar from menu 130 ("확인", command 1). When the platform
// cannot create it, tells the user in a message box and lets the dialog open without it.
void CreateOkSoftKeyBar(CWnd& dialog);
// The main window that runs `dialog` modally (its parent), or null when another window
// owns it.
CMainDlg* OwnerMainDlg(const CWnd& dialog);
// Stores a control's new state in its field and writes it under "Software\Quillon" at
// once. A failed write is not reported: the field keeps the new value for this run.
void StoreSetting(SettingWord& field, LONG value, LPCWSTR value_name);
// The state of a checkbox as the settings store it: 1 ticked, 0 not.
LONG TickOf(const CButton& box);
