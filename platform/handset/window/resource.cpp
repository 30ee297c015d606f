// The registered resource table of the running program and its lookups by id.
#include "platform/handset/window/resource.h"

#include <atomic>

namespace handset {
namespace {

std::atomic<const Resources*> g_resources{nullptr};

template <class Span>
auto find_by_id(Span items, int id) -> decltype(&items[0]) {
    for (const auto& item : items)
        if (item.id == id) return &item;
    return nullptr;
}

}  // namespace

void set_resources(const Resources* resources) { g_resources.store(resources); }

const Resources* resources() { return g_resources.load(); }

const DialogTemplate* find_dialog(int id) {
    const Resources* r = resources();
    return r ? find_by_id(r->dialogs, id) : nullptr;
}

const MenuTemplate* find_menu(int id) {
    const Resources* r = resources();
    return r ? find_by_id(r->menus, id) : nullptr;
}

std::u16string_view find_string(int id) {
    const Resources* r = resources();
    if (!r) return {};
    const StringResource* s = find_by_id(r->strings, id);
    return s ? s->text : std::u16string_view();
}

const IconResource* find_icon(int id) {
    const Resources* r = resources();
    return r ? find_by_id(r->icons, id) : nullptr;
}

const ImageResource* find_bitmap(int id) {
    const Resources* r = resources();
    return r ? find_by_id(r->bitmaps, id) : nullptr;
}

const SoftKeyBarResource* find_softkey_bar(int id) {
    const Resources* r = resources();
    return r ? find_by_id(r->softkey_bars, id) : nullptr;
}

}  // namespace handset
