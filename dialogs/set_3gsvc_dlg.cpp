// The 3G connection settings dialog. Its first box stores nothing in the registry: the
// block lives in the carrier's phone-book entry, which it changes at once.
#include "dialogs/set_3gsvc_dlg.h"

#include "app/haptics.h"
#include "app/main_dlg.h"
#include "app/settings.h"
#include "dialogs/dialog_common.h"
#include "res/resources.h"
#include "watch/block_3g.h"

const MessageMapEntry CSet3GsvcDlg::messageEntries[] = {
    ON_COMMAND<CSet3GsvcDlg, &CSet3GsvcDlg::OnBlock3G>(IDC_BLOCK_3GSVC),
    ON_COMMAND<CSet3GsvcDlg, &CSet3GsvcDlg::OnTmail3Gsvc>(IDC_TMAIL_3GSVC),
    ON_COMMAND<CSet3GsvcDlg, &CSet3GsvcDlg::OnTmailAlert>(IDC_TMAIL_3GSVC_ALERT),
};
const MessageMap CSet3GsvcDlg::messageMap{&CDialog::messageMap, messageEntries};
const MessageMap* CSet3GsvcDlg::GetMessageMap() const { return &messageMap; }

CSet3GsvcDlg::CSet3GsvcDlg(UnsavedChanges& unsaved) : CDialog(IDD_SET_3GSVC), m_store(unsaved) {}

void CSet3GsvcDlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_BLOCK_3GSVC, m_chkBlock3G);
    DDX_Control(dx, IDC_TMAIL_3GSVC, m_chkTmail3Gsvc);
    DDX_Control(dx, IDC_TMAIL_3GSVC_ALERT, m_chkTmailAlert);
    DDX_Control(dx, IDC_TMAIL_GROUP, m_grpTmail);
}

BOOL CSet3GsvcDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CreateOkSoftKeyBar(*this);
    m_store.Rearm();

    switch (AppSettings.carrier) {
        case 1:
            // The mail-client exception only matters while 3G is blocked.
            if (AppSettings.data3GAllowed != 0) {
                m_chkBlock3G.SetCheck(BST_UNCHECKED);
                m_grpTmail.EnableWindow(FALSE);
                m_chkTmail3Gsvc.EnableWindow(FALSE);
                m_chkTmailAlert.EnableWindow(FALSE);
            } else {
                m_chkBlock3G.SetCheck(BST_CHECKED);
            }
            m_chkTmail3Gsvc.SetCheck(AppSettings.enableTmail3Gsvc);
            m_chkTmailAlert.SetCheck(AppSettings.enableTmail3GsvcAlert);
            break;
        case 2:
            // The exception exists for the SKT entry only.
            m_chkBlock3G.SetCheck(AppSettings.data3GAllowed == 0 ? BST_CHECKED : BST_UNCHECKED);
            m_grpTmail.EnableWindow(FALSE);
            m_chkTmail3Gsvc.EnableWindow(FALSE);
            m_chkTmailAlert.EnableWindow(FALSE);
            break;
        default:
            break;
    }
    return TRUE;
}

void CSet3GsvcDlg::OnBlock3G() {
    CMainDlg* owner = OwnerMainDlg(*this);
    const bool blocked = TickOf(m_chkBlock3G) != 0;
    AppSettings.data3GAllowed = blocked ? 0 : 1;
    // Allowing 3G outright ends any pass-through for the mail client.
    if (!blocked && owner != nullptr) owner->m_bTmailPassThrough = 0;
    VibrateFor(50);
    const bool stored = m_store.Unsaved().StorePhoneBookForm();
    if (AppSettings.carrier == 1) {
        const BOOL enable = TickOf(m_chkBlock3G) != 0 ? TRUE : FALSE;
        m_chkTmail3Gsvc.EnableWindow(enable);
        m_chkTmailAlert.EnableWindow(enable);
        m_grpTmail.EnableWindow(enable);
    }
    m_store.TellIfRefused(*this, stored);
}

void CSet3GsvcDlg::OnTmail3Gsvc() {
    CMainDlg* owner = OwnerMainDlg(*this);
    const LONG enable = TickOf(m_chkTmail3Gsvc);
    VibrateFor(50);
    // Switching the exception off ends a pass-through in progress; the flag stays set,
    // so the program's end blocks again, which then changes nothing. That move is the
    // pass-through's own and stays silent. The setting is written after the entry has
    // moved back.
    if (enable == 0 && owner != nullptr && owner->m_bTmailPassThrough != 0) Apply3GState(0);
    m_store.TellIfRefused(*this, m_store.StoreSetting(AppSettings.enableTmail3Gsvc, enable));
}

void CSet3GsvcDlg::OnTmailAlert() {
    VibrateFor(50);
    m_store.TellIfRefused(*this, m_store.StoreSetting(AppSettings.enableTmail3GsvcAlert, TickOf(m_chkTmailAlert)));
}
