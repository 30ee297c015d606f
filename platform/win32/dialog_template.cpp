// The in-memory dialog templates and menu bars of the Win32 build. The layout of a
// DLGTEMPLATE is the desktop's: a header, the menu, class and title, the font, then one
// DWORD-aligned DLGITEMTEMPLATE per control with its class atom and text.
#include "platform/win32/dialog_template.h"

#include <cassert>

namespace win32 {
namespace {

// Predefined window classes, by the atoms a template names them with.
constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kStaticAtom = 0x0082;
constexpr WORD kComboBoxAtom = 0x0085;

class TemplateWriter {
public:
    void word(WORD w) { words_.push_back(w); }
    void dword(DWORD d) {
        word(LOWORD(d));
        word(HIWORD(d));
    }
    void text(resource::TextView s) {
        for (WCHAR c : s) word(static_cast<WORD>(c));
        word(0);
    }
    // DLGITEMTEMPLATEs start on a DWORD boundary.
    void align_dword() {
        if (words_.size() % 2 != 0) word(0);
    }
    std::vector<WORD> take() { return std::move(words_); }

private:
    std::vector<WORD> words_;
};

WORD class_atom(resource::ControlKind kind) {
    switch (kind) {
        case resource::ControlKind::Checkbox:
        case resource::ControlKind::GroupBox:
        case resource::ControlKind::Button: return kButtonAtom;
        case resource::ControlKind::ComboBox: return kComboBoxAtom;
        case resource::ControlKind::Static:
        case resource::ControlKind::Picture: break;
    }
    return kStaticAtom;
}

}  // namespace

DWORD control_style(const resource::ControlTemplate& c) {
    DWORD style = WS_CHILD | WS_VISIBLE;
    switch (c.kind) {
        case resource::ControlKind::Static:
            style |= c.align == resource::TextAlign::Center  ? SS_CENTER
                     : c.align == resource::TextAlign::Right ? SS_RIGHT
                                                            : SS_LEFT;
            break;
        // A bitmap static takes its bitmap's size unless told to centre it in the
        // control's own: the emblem keeps the template's box and no more, so that it
        // cannot reach the version line below it whatever the dialog font's units.
        case resource::ControlKind::Picture: style |= SS_BITMAP | SS_CENTERIMAGE; break;
        case resource::ControlKind::Checkbox: style |= (c.auto_check ? BS_AUTOCHECKBOX : BS_CHECKBOX) | WS_TABSTOP; break;
        case resource::ControlKind::GroupBox: style |= BS_GROUPBOX; break;
        case resource::ControlKind::Button: style |= BS_PUSHBUTTON | WS_TABSTOP; break;
        case resource::ControlKind::ComboBox:
            style |= CBS_DROPDOWNLIST | WS_TABSTOP;
            if (c.vscroll) style |= WS_VSCROLL;
            if (!c.integral_height) style |= CBS_NOINTEGRALHEIGHT;
            break;
    }
    return style;
}

std::vector<WORD> build_dialog_template(const resource::DialogTemplate& d) {
    TemplateWriter out;
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER;
    out.dword(style);
    out.dword(0);  // extended style
    out.word(static_cast<WORD>(d.controls.size()));
    out.word(0);  // x, y: centred by DS_CENTER
    out.word(0);
    out.word(static_cast<WORD>(d.cx));
    out.word(static_cast<WORD>(d.cy));
    out.word(0);  // no menu: the soft-key bar sets one when the dialog asks for it
    out.word(0);  // the dialog class
    out.text(d.title);
    out.word(static_cast<WORD>(d.point_size));
    out.text(d.font);
    for (const resource::ControlTemplate& c : d.controls) {
        out.align_dword();
        out.dword(control_style(c));
        out.dword(0);
        out.word(static_cast<WORD>(c.x));
        out.word(static_cast<WORD>(c.y));
        out.word(static_cast<WORD>(c.cx));
        out.word(static_cast<WORD>(c.cy));
        out.word(static_cast<WORD>(c.id));
        out.word(0xFFFF);
        out.word(class_atom(c.kind));
        out.text(c.text);
        out.word(0);  // no creation data
    }
    return out.take();
}

HMENU build_menu_bar(const resource::MenuTemplate& menu) {
    HMENU bar = CreateMenu();
    if (bar == nullptr) return nullptr;
    for (const resource::MenuItem& item : menu.items) {
        const WString label(item.text);
        if (item.popup.empty()) {
            AppendMenuW(bar, MF_STRING, static_cast<UINT_PTR>(item.id), label.c_str());
            continue;
        }
        HMENU popup = CreatePopupMenu();
        if (popup == nullptr) {
            DestroyMenu(bar);
            return nullptr;
        }
        for (const resource::MenuItem& entry : item.popup) {
            if (entry.separator) {
                AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
                continue;
            }
            const WString text(entry.text);
            AppendMenuW(popup, MF_STRING, static_cast<UINT_PTR>(entry.id), text.c_str());
        }
        // The bar owns the pop-up from here on and destroys it with itself.
        AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), label.c_str());
    }
    assert(GetMenuItemCount(bar) == static_cast<int>(menu.items.size()));
    return bar;
}

bool set_menu_bar(HWND window, HMENU menu) {
    RECT before{};
    GetClientRect(window, &before);
    HMENU old = GetMenu(window);
    if (!SetMenu(window, menu)) {
        DestroyMenu(menu);
        return false;
    }
    if (old != nullptr) DestroyMenu(old);
    RECT after{};
    GetClientRect(window, &after);
    RECT frame{};
    GetWindowRect(window, &frame);
    const int grow = (before.bottom - before.top) - (after.bottom - after.top);
    if (grow != 0)
        SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + grow,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return true;
}

}  // namespace win32
