// What the settings dialogs and the about box share: the single "확인" soft key, the
// way back to the main window that owns them, and the store of a changed setting.
#pragma once

#include "app/settings.h"
#include "app/unsaved_changes.h"
#include "platform/afxwin.h"

class CMainDlg;

// Shows `text` in a message box owned by `dialog`, with the application's name as its
// caption and a single OK button; returns once the user has dismissed it.
void ShowProgramMessage(CWnd& dialog, LPCWSTR text);
// Creates the dialog's soft-key bar from menu 130 ("확인", command 1). When the platform
// cannot create it, tells the user in a message box and lets the dialog open without it.
void CreateOkSoftKeyBar(CWnd& dialog);
// The main window that runs `dialog` modally (its parent), or null when another window
// owns it.
CMainDlg* OwnerMainDlg(const CWnd& dialog);
// The state of a checkbox as the settings store it: 1 ticked, 0 not.
LONG TickOf(const CButton& box);

// How a settings dialog stores its changes: through the main window's record of unsaved
// changes, which keeps a refused change for a retry, and telling the user of a refusal
// once per showing of the dialog.
class ChangeStore {
public:
    explicit ChangeStore(UnsavedChanges& unsaved) : m_unsaved(unsaved) {}

    // A new showing of the dialog: the next refusal is told again.
    void Rearm() { m_bTold = false; }
    // Stores a control's new state in its field and writes it under "Software\Quillon"
    // at once. Whether or not the write succeeds, the field keeps the new value for the
    // run. Returns whether the write succeeded.
    bool StoreSetting(SettingWord& field, LONG value);
    UnsavedChanges& Unsaved() { return m_unsaved; }
    // Run as a handler's last step, so that the dialog behind the box is complete: when
    // the change was not stored and the user has not yet been told during this showing,
    // a message box owned by `dialog` says that the setting could not be saved.
    void TellIfRefused(CWnd& dialog, bool stored);

private:
    UnsavedChanges& m_unsaved;
    bool m_bTold = false;
};
