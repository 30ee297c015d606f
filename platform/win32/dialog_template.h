// Dialogs and menus of the program's resource table as the desktop's window manager
// takes them: an in-memory DLGTEMPLATE and a menu handle, built from the same tables
// the handset lays out itself.
#pragma once

#include <vector>

#include "platform/resource.h"

namespace win32 {

// The dialog as a DLGTEMPLATE followed by its items, WORD-aligned as the dialog manager
// reads it. The dialog is a captioned pop-up that starts hidden; its controls keep the
// template's ids, texts, rectangles and order.
std::vector<WORD> build_dialog_template(const resource::DialogTemplate& dialog);

// The menu as a menu bar: each top-level item becomes an item of the bar (a plain item
// sends its command, an item with entries opens them as a drop-down). Null when the
// system cannot make the menu; the caller owns the handle.
HMENU build_menu_bar(const resource::MenuTemplate& menu);

// Gives `window` the menu bar `menu` (which it then owns, destroying the one it had) and
// grows the window by the bar's height, so that its client area keeps its size.
bool set_menu_bar(HWND window, HMENU menu);

// The control's style bits on the desktop, for its kind and options.
DWORD control_style(const resource::ControlTemplate& control);

}  // namespace win32
