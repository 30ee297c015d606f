// Dialog templates of Quillon: the main status window, the about box and the four
// settings dialogs. Rectangles are x, y, width, height in dialog units; controls are
// listed in template order, which is also their tab and creation order.
#include "res/resources.h"
#include "res/tables.h"
#include "res/version.h"

namespace quillon_res {
namespace {

using resource::ControlKind;
using resource::ControlTemplate;
using resource::DialogTemplate;
using resource::TextAlign;

constexpr WStringView kFont = TEXT("MS Shell Dlg");

// A drop-down list that only selects: a scroll bar, and a list height taken as given
// rather than rounded to whole entries.
constexpr ControlTemplate drop_list(int id, int x, int y, int cx, int cy) {
    return {id, ControlKind::ComboBox, TEXT(""), x, y, cx, cy, TextAlign::Left, 0, true, false};
}

// The template texts are placeholders: the window replaces them with the live status.
constexpr ControlTemplate kMainControls[] = {
    {IDC_MODEL, ControlKind::Static, TEXT("모델: SCH-M620"), 9, 9, 78, 12},
    {IDC_3GSVC_STATUS, ControlKind::Static, TEXT("3G 인터넷서비스 접속: 허용"), 9, 24, 122, 12},
    {IDC_ALERT_STATUS, ControlKind::Static, TEXT("부재중수신 알림: 사용"), 9, 39, 122, 12},
    {IDC_KEYLOCK_STATUS, ControlKind::Static, TEXT("키 자동잠금: 사용"), 9, 54, 122, 12},
};

constexpr ControlTemplate kAboutControls[] = {
    {IDC_EMBLEM, ControlKind::Picture, TEXT(""), 46, 6, 67, 62, TextAlign::Left, IDB_EMBLEM},
    {IDC_VERSION, ControlKind::Static, TEXT("QUILLON v" QUILLON_VERSION), 24, 68, 85, 15, TextAlign::Center},
};

constexpr ControlTemplate k3GsvcControls[] = {
    {IDC_BLOCK_3GSVC, ControlKind::Checkbox, TEXT("3G 인터넷서비스 연결 차단"), 6, 10, 111, 10},
    {IDC_TMAIL_3GSVC, ControlKind::Checkbox, TEXT("T메일 접속시 3G연결 허용"), 16, 42, 107, 10},
    {IDC_TMAIL_3GSVC_ALERT, ControlKind::Checkbox, TEXT("3G연결 알림음 사용"), 16, 61, 85, 10},
    {IDC_TMAIL_GROUP, ControlKind::GroupBox, TEXT("SK T메일 서비스"), 6, 27, 123, 51},
};

constexpr ControlTemplate kKeylockControls[] = {
    {IDC_AUTO_KEYLOCK, ControlKind::Checkbox, TEXT("자동 키잠금 사용"), 8, 14, 76, 10},
    drop_list(IDC_KEYLOCK_TIMEOUT, 15, 40, 58, 77),
    {IDC_KEYLOCK_VIBRATE, ControlKind::Checkbox, TEXT("키 잠금/해제시 진동알림"), 15, 63, 103, 10},
    {IDC_KEYLOCK_GROUP, ControlKind::GroupBox, TEXT(""), 9, 29, 117, 52},
};

constexpr ControlTemplate kAlertControls[] = {
    {IDC_CALL_ALERT, ControlKind::Checkbox, TEXT("부재중전화 알림"), 8, 10, 74, 10},
    {IDC_SMS_ALERT, ControlKind::Checkbox, TEXT("부재중SMS 알림"), 8, 26, 71, 10},
    {IDC_ALERT_INTERVAL_LABEL, ControlKind::Static, TEXT("알림간격"), 17, 54, 32, 8},
    drop_list(IDC_ALERT_INTERVAL, 49, 52, 42, 58),
    {IDC_ALERT_VIBRATE, ControlKind::Checkbox, TEXT("무음모드일때 진동알림"), 17, 73, 98, 10},
    {IDC_ALERT_GROUP, ControlKind::GroupBox, TEXT(""), 9, 41, 117, 52},
};

constexpr ControlTemplate kGeneralControls[] = {
    {IDC_AUTOSTART, ControlKind::Checkbox, TEXT("전원이 켜지면 Quillon 자동실행"), 6, 13, 122, 10},
    {IDC_POWERKEY_UNLOCK, ControlKind::Checkbox, TEXT("전원버튼을 누르면 키잠금 해제"), 6, 32, 122, 10},
};

constexpr DialogTemplate kDialogs[] = {
    {IDD_MAIN, kMainWindowTitle, kFont, 9, 159, 96, true, kMainControls},
    {IDD_ABOUT, TEXT("QUILLON 정보"), kFont, 8, 160, 116, true, kAboutControls},
    {IDD_SET_3GSVC, TEXT("3G 연결 설정"), kFont, 8, 186, 94, true, k3GsvcControls},
    {IDD_SET_KEYLOCK, TEXT("키잠금 설정"), kFont, 8, 186, 94, true, kKeylockControls},
    {IDD_SET_ALERT, TEXT("부재중알림 설정"), kFont, 8, 173, 104, true, kAlertControls},
    {IDD_SET_GENERAL, TEXT("기본설정"), kFont, 8, 186, 94, true, kGeneralControls},
};

}  // namespace

std::span<const resource::DialogTemplate> dialogs() {
    return kDialogs;
}

}  // namespace quillon_res
