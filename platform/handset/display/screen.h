// The phone's screen as text, drawn from a screen snapshot, for the front ends and
// scripts (the controls as JSON and the user's actions are window/automation.h).
//
// The screen is 14 lines of UTF-8 text: a title bar, 12 lines of 40 cells and a soft-key
// bar (left label on the left, right label on the right). A dialog unit is 1/4 of a cell
// across and 1/8 of a cell down. Hangul and other wide characters take two cells. Every
// line is exactly 40 cells wide.
//
//   checkbox        [x] text / [ ] text
//   combobox        <selected text> padded to the control's width; < > when none selected
//   push button     [text]
//   group box       frame of box characters with its text in the top edge
//   static          its text, aligned as the template says, wrapped when the control is
//                   taller than one line
//   picture         the bitmap drawn with a shade ramp (" .:-=+*#%@", dark is dense)
//   disabled        checkbox, combobox and button show ( ) instead of their brackets:
//                   (x) text, (2분마다  ); a static text or picture has a '~' in the cell
//                   before it; a group box has a '~' right after its top-left corner
//   focus           a '>' in the cell left of the focused control
//   popup menu      a framed list above the soft-key bar, '>' marks the selected item
//   message box     a framed box over the middle of the screen; title bar = its caption
//
// All functions are thread-safe.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handset/window/snapshot.h"

namespace handset {

constexpr int kScreenColumns = 40;
constexpr int kScreenRows = 12;  // between the title bar and the soft-key bar

// The screen of this host: title bar, 12 body lines, soft-key bar. When no window is in
// front, the home-screen renderer's lines (when installed), else an empty screen.
std::vector<std::string> render_screen();
// The same for a snapshot of the windows (its shell facts are not drawn: the home screen
// comes from the renderer installed below).
std::vector<std::string> render_screen(const ScreenSnapshot& shot);
void set_home_screen_renderer(std::function<std::vector<std::string>()> renderer);

// Columns a UTF-16 text takes on the screen (wide characters count two).
int text_cells(std::u16string_view text);

}  // namespace handset
