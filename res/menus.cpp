// Soft-key menus and the string table of Quillon. A top-level menu's first item is the
// left soft key and its second the right one; a popup opens from its soft key.
#include "res/resources.h"
#include "res/tables.h"

namespace quillon_res {
namespace {

using resource::MenuItem;
using resource::MenuTemplate;
using resource::StringResource;

constexpr MenuItem kSeparator{0, TEXT(""), {}, true};

// clang-format off
constexpr MenuItem kMainPopup[] = {
    {ID_MENU_3GSVC, TEXT("3G 인터넷서비스")},
    {ID_MENU_ALERT, TEXT("부재중수신 알림")},
    {ID_MENU_KEYLOCK, TEXT("자동 키잠금")},
    kSeparator,
    {ID_MENU_GENERAL, TEXT("기본설정")},
    kSeparator,
    {ID_MENU_ABOUT, TEXT("QUILLON 정보")},
    kSeparator,
    {ID_MENU_EXIT, TEXT("프로그램 종료")},
};
// clang-format on

// "닫기" only hides the window (it sends IDOK, which the window turns into Back);
// ending the program is the popup's last item.
constexpr MenuItem kMainSoftKeys[] = {
    {IDOK, TEXT("닫기")},
    {0, TEXT("메뉴"), kMainPopup},
};

constexpr MenuItem kOkSoftKey[] = {
    {IDOK, TEXT("확인")},
};

constexpr MenuTemplate kMenus[] = {
    {IDR_MAINMENU, kMainSoftKeys},
    {IDR_OK_MENU, kOkSoftKey},
};

constexpr StringResource kStrings[] = {
    {IDS_OK, TEXT("확인")},
};

}  // namespace

std::span<const resource::MenuTemplate> menus() {
    return kMenus;
}
std::span<const resource::StringResource> strings() {
    return kStrings;
}

}  // namespace quillon_res
