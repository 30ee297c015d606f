// Quillon's resource table: the parts from dialogs.cpp, menus.cpp and images.cpp, the
// version record, and the markers that apply to every resource (Korean, and drawn at
// the screen's own resolution rather than scaled by the platform).
#include "res/resources.h"
#include "res/tables.h"

namespace {

constexpr int kLanguageKorean = 1042;
constexpr resource::SoftKeyBarResource kSoftKeyBars[] = {SKB_MAINMENU};

}  // namespace

const resource::Resources& quillon_resources() {
    static const resource::Resources table{
        .dialogs = quillon_res::dialogs(),
        .menus = quillon_res::menus(),
        .strings = quillon_res::strings(),
        .icons = quillon_res::icons(),
        .bitmaps = quillon_res::bitmaps(),
        .version = {.file_version = TEXT("1.0.0.1"),
                    .product_version = TEXT("1.0.0.1"),
                    .original_filename = TEXT("Quillon.exe"),
                    .language = kLanguageKorean},
        .hi_res_aware = true,
        .language = kLanguageKorean,
        .softkey_bars = kSoftKeyBars,
    };
    return table;
}
