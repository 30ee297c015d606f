// Dialog classes for the framework tests, written as a program of the phone writes
// them: a main window on template 102 with a watch-like timer and a soft-key menu, and
// a settings dialog on template 138 whose handlers follow its checkboxes and list.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/afxwin.h"
#include "platform/windows.h"

class AlertDialog : public CDialog {
public:
    AlertDialog() : CDialog(138) {}

    CButton call, sms, vibrate;
    CComboBox interval;
    CStatic label, group;
    BOOL menubar_ok = FALSE;
    DWORD menubar_error = 0;
    int initial_selection = 1;

    std::vector<std::string> log() {
        std::lock_guard lock(mu_);
        return log_;
    }

    void DoDataExchange(CDataExchange* dx) override {
        DDX_Control(dx, 1013, call);
        DDX_Control(dx, 1014, sms);
        DDX_Control(dx, 1016, interval);
        DDX_Control(dx, 1004, label);
        DDX_Control(dx, 1017, group);
        DDX_Control(dx, 1015, vibrate);
    }

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        SHMENUBARINFO mb{};
        mb.cbSize = sizeof mb;
        mb.hwndParent = m_hWnd;
        mb.dwFlags = SHCMBF_HMENU;
        mb.nToolBarId = 130;
        mb.hInstRes = AfxGetResourceHandle();
        menubar_ok = SHCreateMenuBar(&mb);
        if (!menubar_ok) menubar_error = GetLastError();
        interval.ResetContent();
        for (const char16_t* text : {u"한번만", u"2분마다", u"10분마다"}) interval.AddString(text);
        interval.SetCurSel(initial_selection);
        call.SetCheck(BST_CHECKED);
        sms.SetCheck(BST_UNCHECKED);
        vibrate.SetCheck(BST_CHECKED);
        return TRUE;
    }

protected:
    static const MessageMap messageMap;
    const MessageMap* GetMessageMap() const override { return &messageMap; }

private:
    void record(std::string entry) {
        std::lock_guard lock(mu_);
        log_.push_back(std::move(entry));
    }
    void follow() {
        const BOOL on = call.GetCheck() || sms.GetCheck();
        label.EnableWindow(on);
        interval.EnableWindow(on);
        group.EnableWindow(on);
        vibrate.EnableWindow(on);
    }
    void OnCall() {
        record("1013:" + std::to_string(call.GetCheck()));
        follow();
    }
    void OnSms() {
        record("1014:" + std::to_string(sms.GetCheck()));
        follow();
    }
    void OnInterval() { record("1016:" + std::to_string(interval.GetCurSel())); }
    void OnVibrate() { record("1015:" + std::to_string(vibrate.GetCheck())); }

    static const MessageMapEntry entries_[];
    std::mutex mu_;
    std::vector<std::string> log_;
};

inline const MessageMapEntry AlertDialog::entries_[] = {
    ON_COMMAND<AlertDialog, &AlertDialog::OnCall>(1013),
    ON_COMMAND<AlertDialog, &AlertDialog::OnSms>(1014),
    ON_NOTIFY_CODE<AlertDialog, &AlertDialog::OnInterval>(CBN_SELCHANGE, 1016),
    ON_COMMAND<AlertDialog, &AlertDialog::OnVibrate>(1015),
};
inline const MessageMap AlertDialog::messageMap{&CDialog::messageMap, AlertDialog::entries_};

class MainDialog : public CDialog {
public:
    MainDialog() : CDialog(102) {}

    AlertDialog alert;
    std::u16string status = u"상태";
    int ticks = 0;
    INT_PTR alert_result = 0;
    int message_box_result = 0;
    bool destroyed = false;
    bool consume_enter = true;

    void DoDataExchange(CDataExchange* dx) override { DDX_Text(dx, 1002, status); }

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        SHMENUBARINFO mb{};
        mb.cbSize = sizeof mb;
        mb.hwndParent = m_hWnd;
        mb.dwFlags = SHCMBF_HMENU;
        mb.nToolBarId = 128;
        SHCreateMenuBar(&mb);
        SetTimer(100, 3000, nullptr);
        return TRUE;
    }

    // The program's own filter comes before the framework's dialog keys: Enter does
    // nothing and Back hides the window.
    BOOL PreTranslateMessage(MSG* msg) override {
        if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN && consume_enter) return TRUE;
        if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
            ShowWindow(SW_MINIMIZE);
            return TRUE;
        }
        return CDialog::PreTranslateMessage(msg);
    }

protected:
    static const MessageMap messageMap;
    const MessageMap* GetMessageMap() const override { return &messageMap; }

private:
    void OnTimer(UINT id) {
        if (id == 100) ++ticks;
    }
    void OnAlert() { alert_result = alert.DoModal(); }
    void OnMessageBox() { message_box_result = MessageBox(u"Soft Key Bar 생성 실패!", u"Quillon", MB_OK); }
    void OnExit() { DestroyWindow(); }
    void OnDestroy() override {
        CDialog::OnDestroy();
        KillTimer(100);
        destroyed = true;
    }

    static const MessageMapEntry entries_[];
};

inline const MessageMapEntry MainDialog::entries_[] = {
    ON_TIMER_HANDLER<MainDialog, &MainDialog::OnTimer>(),
    ON_COMMAND<MainDialog, &MainDialog::OnAlert>(32778),
    ON_COMMAND<MainDialog, &MainDialog::OnMessageBox>(40002),
    ON_COMMAND<MainDialog, &MainDialog::OnExit>(32781),
};
inline const MessageMap MainDialog::messageMap{&CDialog::messageMap, MainDialog::entries_};
