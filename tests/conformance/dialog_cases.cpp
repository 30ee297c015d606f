// Dialog and control cases: control lookup, check boxes that check themselves and ones
// that leave it to the program, enabling against the focus, a combo box's selection in
// and out of range, the value EndDialog gives DoModal; and the layout of every dialog of
// the program through MapDialogRect with its font's base units.
#include "harness.h"
#include "probe.h"
#include "res/resources.h"

namespace conformance {
namespace {

// Runs the probe dialog with `steps` and ends it; the steps see the dialog's window.
void with_probe(const std::function<void(HWND)>& steps) {
    ProbeDialog probe;
    probe.steps = [&](ProbeDialog& p) {
        steps(p.m_hWnd);
        p.EndDialog(0);
    };
    probe.DoModal();
}

std::vector<WPARAM> clicks_of(const ProbeDialog& probe) {
    std::vector<WPARAM> out;
    for (const Seen& s : probe.seen)
        if (s.message == WM_COMMAND && HIWORD(s.wparam) == BN_CLICKED) out.push_back(LOWORD(s.wparam));
    return out;
}

Case dlg_item() {
    return {"get_dlg_item", "GetDlgItem GetParent", [](Check& c) {
                with_probe([&](HWND dialog) {
                    HWND item = GetDlgItem(dialog, kList);
                    c.is("found", item != nullptr);
                    c.eq("its parent", GetParent(item), dialog);
                    c.eq("missing id", GetDlgItem(dialog, 4242), HWND(nullptr));
                });
            }};
}

Case check_buttons() {
    return {"check_dlg_button_on_both_kinds", "CheckDlgButton IsDlgButtonChecked", [](Check& c) {
                with_probe([&](HWND dialog) {
                    c.eq("auto, initially", IsDlgButtonChecked(dialog, kAutoCheck), UINT(BST_UNCHECKED));
                    c.eq("check auto", CheckDlgButton(dialog, kAutoCheck, BST_CHECKED), TRUE);
                    c.eq("check plain", CheckDlgButton(dialog, kPlainCheck, BST_CHECKED), TRUE);
                    c.eq("auto", IsDlgButtonChecked(dialog, kAutoCheck), UINT(BST_CHECKED));
                    c.eq("plain", IsDlgButtonChecked(dialog, kPlainCheck), UINT(BST_CHECKED));
                    CheckDlgButton(dialog, kPlainCheck, BST_UNCHECKED);
                    c.eq("plain unchecked", IsDlgButtonChecked(dialog, kPlainCheck), UINT(BST_UNCHECKED));
                    c.eq("by message", SendMessageW(GetDlgItem(dialog, kAutoCheck), BM_GETCHECK, 0, 0),
                         LRESULT(BST_CHECKED));
                });
            }};
}

Case click_boxes() {
    return {"click_auto_and_plain_check_boxes", "SendMessageW(BM_CLICK) IsDlgButtonChecked", [](Check& c) {
                ProbeDialog probe;
                UINT auto_after = 9, plain_after = 9;
                probe.steps = [&](ProbeDialog& p) {
                    SendMessageW(GetDlgItem(p.m_hWnd, kAutoCheck), BM_CLICK, 0, 0);
                    SendMessageW(GetDlgItem(p.m_hWnd, kPlainCheck), BM_CLICK, 0, 0);
                    auto_after = IsDlgButtonChecked(p.m_hWnd, kAutoCheck);
                    plain_after = IsDlgButtonChecked(p.m_hWnd, kPlainCheck);
                    p.EndDialog(0);
                };
                probe.DoModal();
                c.eq("auto box checks itself", auto_after, UINT(BST_CHECKED));
                c.eq("plain box stays", plain_after, UINT(BST_UNCHECKED));
                c.eq("both tell the dialog", clicks_of(probe), std::vector<WPARAM>{kAutoCheck, kPlainCheck});
            }};
}

Case check_by_framework() {
    return {"framework_check_matches_api", "CButton::SetCheck IsDlgButtonChecked", [](Check& c) {
                ProbeDialog probe;
                CButton box;
                UINT seen = 9;
                int back = 9;
                probe.steps = [&](ProbeDialog& p) {
                    box.m_hWnd = GetDlgItem(p.m_hWnd, kAutoCheck);
                    box.SetCheck(BST_CHECKED);
                    seen = IsDlgButtonChecked(p.m_hWnd, kAutoCheck);
                    CheckDlgButton(p.m_hWnd, kAutoCheck, BST_UNCHECKED);
                    back = box.GetCheck();
                    box.m_hWnd = nullptr;
                    p.EndDialog(0);
                };
                probe.DoModal();
                c.eq("set by the framework", seen, UINT(BST_CHECKED));
                c.eq("read by the framework", back, BST_UNCHECKED);
            }};
}

Case enable_result() {
    return {"enable_window_gives_previous_state", "EnableWindow IsWindowEnabled", [](Check& c) {
                with_probe([&](HWND dialog) {
                    HWND box = GetDlgItem(dialog, kAutoCheck);
                    c.eq("disable an enabled window", EnableWindow(box, FALSE), FALSE);
                    c.eq("disabled", IsWindowEnabled(box), FALSE);
                    c.is("disable again: was disabled", EnableWindow(box, FALSE) != FALSE);
                    c.is("enable: was disabled", EnableWindow(box, TRUE) != FALSE);
                    c.eq("enabled", IsWindowEnabled(box), TRUE);
                });
            }};
}

Case disable_focused() {
    return {"disabling_the_focus_drops_it", "SetFocus GetFocus EnableWindow", [](Check& c) {
                with_probe([&](HWND dialog) {
                    HWND box = GetDlgItem(dialog, kPlainCheck);
                    SetFocus(box);
                    c.eq("focused", GetFocus(), box);
                    EnableWindow(box, FALSE);
                    c.eq("after disabling", GetFocus(), HWND(nullptr));
                    EnableWindow(box, TRUE);
                    c.eq("enabling does not bring it back", GetFocus(), HWND(nullptr));
                });
            }};
}

Case focus_moves() {
    return {"set_focus_gives_previous", "SetFocus GetFocus", [](Check& c) {
                with_probe([&](HWND dialog) {
                    HWND first = GetDlgItem(dialog, kAutoCheck);
                    HWND second = GetDlgItem(dialog, kList);
                    SetFocus(first);
                    c.eq("previous focus", SetFocus(second), first);
                    c.eq("now", GetFocus(), second);
                });
            }};
}

LRESULT combo(HWND dialog, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
    return SendMessageW(GetDlgItem(dialog, kList), message, wparam, lparam);
}

LPARAM text_param(LPCWSTR text) { return reinterpret_cast<LPARAM>(text); }

Case combo_add() {
    return {"combo_add_and_count", "SendMessageW(CB_ADDSTRING CB_GETCOUNT CB_GETCURSEL)", [](Check& c) {
                with_probe([&](HWND dialog) {
                    std::vector<LRESULT> indexes;
                    for (LPCWSTR t : {TEXT("한번만"), TEXT("2분마다"), TEXT("10분마다")})
                        indexes.push_back(combo(dialog, CB_ADDSTRING, 0, text_param(t)));
                    c.eq("indexes", indexes, std::vector<LRESULT>{0, 1, 2});
                    c.eq("count", combo(dialog, CB_GETCOUNT), LRESULT(3));
                    c.eq("nothing selected", combo(dialog, CB_GETCURSEL), LRESULT(CB_ERR));
                });
            }};
}

Case combo_select() {
    return {"combo_select_in_range", "SendMessageW(CB_SETCURSEL CB_GETCURSEL)", [](Check& c) {
                with_probe([&](HWND dialog) {
                    combo(dialog, CB_ADDSTRING, 0, text_param(TEXT("a")));
                    combo(dialog, CB_ADDSTRING, 0, text_param(TEXT("b")));
                    c.eq("set", combo(dialog, CB_SETCURSEL, 1), LRESULT(1));
                    c.eq("get", combo(dialog, CB_GETCURSEL), LRESULT(1));
                });
            }};
}

Case combo_out_of_range() {
    return {"combo_select_out_of_range", "SendMessageW(CB_SETCURSEL CB_GETCURSEL)", [](Check& c) {
                with_probe([&](HWND dialog) {
                    combo(dialog, CB_ADDSTRING, 0, text_param(TEXT("a")));
                    combo(dialog, CB_ADDSTRING, 0, text_param(TEXT("b")));
                    c.eq("past the end", combo(dialog, CB_SETCURSEL, 2), LRESULT(CB_ERR));
                    c.eq("far past the end", combo(dialog, CB_SETCURSEL, 1000), LRESULT(CB_ERR));
                    combo(dialog, CB_SETCURSEL, 1);
                    c.eq("minus one", combo(dialog, CB_SETCURSEL, static_cast<WPARAM>(-1)), LRESULT(CB_ERR));
                    c.eq("cleared again", combo(dialog, CB_GETCURSEL), LRESULT(CB_ERR));
                });
            }};
}

Case combo_reset() {
    return {"combo_reset_content", "SendMessageW(CB_RESETCONTENT) CComboBox", [](Check& c) {
                with_probe([&](HWND dialog) {
                    CComboBox list;
                    list.m_hWnd = GetDlgItem(dialog, kList);
                    list.AddString(TEXT("a"));
                    list.SetCurSel(0);
                    combo(dialog, CB_RESETCONTENT);
                    c.eq("count", list.GetCount(), 0);
                    c.eq("selection", list.GetCurSel(), CB_ERR);
                    c.eq("framework out of range", list.SetCurSel(0), CB_ERR);
                    list.m_hWnd = nullptr;
                });
            }};
}

Case end_in_init() {
    return {"end_dialog_during_init", "EndDialog DialogBox (CDialog::DoModal)", [](Check& c) {
                ProbeDialog probe;
                bool started = false;
                probe.on_init = [](ProbeDialog& p) { p.EndDialog(1234); };
                probe.steps = [&](ProbeDialog&) { started = true; };
                c.eq("result", probe.DoModal(), INT_PTR(1234));
                c.eq("its loop never ran", started, false);
                c.eq("window gone", probe.m_hWnd == nullptr || !IsWindow(probe.m_hWnd), true);
            }};
}

Case end_later() {
    return {"end_dialog_value", "EndDialog DialogBox (CDialog::DoModal)", [](Check& c) {
                ProbeDialog probe;
                probe.steps = [](ProbeDialog& p) { p.EndDialog(-7); };
                c.eq("negative value", probe.DoModal(), INT_PTR(-7));
                probe.steps = [](ProbeDialog& p) { p.EndDialog(IDOK); };
                c.eq("run again", probe.DoModal(), INT_PTR(IDOK));
            }};
}

Case close_is_cancel() {
    return {"close_is_cancel", "SendMessageW(WM_CLOSE) DialogBox (CDialog::DoModal)", [](Check& c) {
                ProbeDialog probe;
                probe.steps = [](ProbeDialog& p) { SendMessageW(p.m_hWnd, WM_CLOSE, 0, 0); };
                c.eq("result", probe.DoModal(), INT_PTR(IDCANCEL));
                c.eq("told as a command", probe.seen.empty() ? Seen{} : probe.seen.back(),
                     Seen{WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED)});
            }};
}

Case destroyed() {
    return {"destroyed_dialog_returns_minus_one", "DestroyWindow DialogBox (CDialog::DoModal)", [](Check& c) {
                ProbeDialog probe;
                probe.steps = [](ProbeDialog& p) { DestroyWindow(p.m_hWnd); };
                c.eq("result", probe.DoModal(), INT_PTR(-1));
            }};
}

Case window_text() {
    return {"window_text_truncated", "SetWindowTextW GetWindowTextW", [](Check& c) {
                with_probe([&](HWND dialog) {
                    HWND label = GetDlgItem(dialog, kLabel);
                    c.eq("set", SetWindowTextW(label, TEXT("부재중알림")), TRUE);
                    WCHAR small[4];
                    c.eq("copied", GetWindowTextW(label, small, 4), 3);
                    c.eq("text", WString(small), WString(TEXT("부재중")));
                    WCHAR title[32];
                    c.eq("dialog title length", GetWindowTextW(dialog, title, 32), 17);
                });
            }};
}

LONG scaled(int units, LONG base, int per) { return static_cast<LONG>((units * base + per / 2) / per); }

// The dialog's base units: the pixels of 4 horizontal and 8 vertical dialog units.
std::pair<LONG, LONG> base_units_of(HWND dialog) {
    RECT unit{0, 0, 4, 8};
    MapDialogRect(dialog, &unit);
    return {unit.right, unit.bottom};
}

// Every control of the dialog maps through the dialog's own base units, rounded as the
// dialog manager rounds. The units themselves come from each platform's dialog font.
Case layout_of(const resource::DialogTemplate& dialog) {
    const int id = dialog.id;
    return {"dialog_" + std::to_string(id), "MapDialogRect", [id](Check& c) {
                const resource::DialogTemplate* t = resource::find_dialog(id);
                ProbeDialog probe(static_cast<UINT>(id));
                std::vector<LONG> mapped, expected;
                std::pair<LONG, LONG> base{0, 0};
                probe.steps = [&](ProbeDialog& p) {
                    base = base_units_of(p.m_hWnd);
                    for (const resource::ControlTemplate& ctl : t->controls) {
                        RECT r{ctl.x, ctl.y, ctl.x + ctl.cx, ctl.y + ctl.cy};
                        MapDialogRect(p.m_hWnd, &r);
                        mapped.insert(mapped.end(), {r.left, r.top, r.right, r.bottom});
                        expected.insert(expected.end(),
                                        {scaled(ctl.x, base.first, 4), scaled(ctl.y, base.second, 8),
                                         scaled(ctl.x + ctl.cx, base.first, 4), scaled(ctl.y + ctl.cy, base.second, 8)});
                    }
                    p.EndDialog(0);
                };
                probe.DoModal();
                c.is("base units measured", base.first > 0 && base.second > 0);
                c.eq("controls", mapped, expected);
            }};
}

// The base units of the 8-point dialog font on a 96 dpi screen.
Case font_base_units() {
    return {"dialog_font_base_units", "MapDialogRect", [](Check& c) {
                ProbeDialog probe(static_cast<UINT>(IDD_SET_ALERT));
                std::pair<LONG, LONG> base{0, 0};
                probe.steps = [&](ProbeDialog& p) {
                    base = base_units_of(p.m_hWnd);
                    p.EndDialog(0);
                };
                probe.DoModal();
                c.eq("base units", std::vector<LONG>{base.first, base.second}, std::vector<LONG>{6, 12});
            },
            "the phone's dialog font is its own Korean system font (Baekmuk Dotum here), whose 8-point "
            "cell is a pixel taller than the desktop's MS Shell Dlg"};
}

}  // namespace

Table dialog_table() {
    return {"dialogs",
            {dlg_item(), check_buttons(), click_boxes(), check_by_framework(), enable_result(), disable_focused(),
             focus_moves(), combo_add(), combo_select(), combo_out_of_range(), combo_reset(), end_in_init(),
             end_later(), close_is_cancel(), destroyed(), window_text()}};
}

Table layout_table() {
    Table table{"layout", {}};
    for (const resource::DialogTemplate& d : quillon_resources().dialogs) table.cases.push_back(layout_of(d));
    table.cases.push_back(font_base_units());
    return table;
}

}  // namespace conformance
