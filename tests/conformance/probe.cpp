// The probe dialog and the harness's resource table.
#include "probe.h"

#include "res/resources.h"

namespace conformance {
namespace {

using resource::ControlKind;
using resource::ControlTemplate;
using resource::DialogTemplate;

const ControlTemplate kProbeControls[] = {
    {kAutoCheck, ControlKind::Checkbox, TEXT("자동"), 4, 4, 80, 10},
    {kPlainCheck, ControlKind::Checkbox, TEXT("수동"), 4, 16, 80, 10, resource::TextAlign::Left, 0, false, true, false},
    {kList, ControlKind::ComboBox, TEXT(""), 4, 28, 80, 60, resource::TextAlign::Left, 0, true},
    {kLabel, ControlKind::Static, TEXT("Label"), 4, 44, 80, 10},
    {kPush, ControlKind::Button, TEXT("Push"), 4, 58, 40, 14},
};

std::vector<DialogTemplate> dialogs() {
    std::vector<DialogTemplate> all(quillon_resources().dialogs.begin(), quillon_resources().dialogs.end());
    all.push_back({kProbeDialog, kProbeTitle, TEXT("MS Shell Dlg"), 8, 120, 80, true, kProbeControls});
    return all;
}

}  // namespace

const resource::Resources& probe_resources() {
    static const std::vector<DialogTemplate> all = dialogs();
    static const resource::Resources table = [] {
        resource::Resources r = quillon_resources();
        r.dialogs = all;
        return r;
    }();
    return table;
}

BOOL ProbeDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    if (on_init) on_init(*this);
    PostMessage(kStart);
    return TRUE;
}

LRESULT ProbeDialog::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
    if (message >= WM_APP && message != kStart) seen.push_back({message, wparam});
    if (message == WM_TIMER || message == WM_COMMAND) seen.push_back({message, wparam});
    if (on_message)
        if (const std::optional<LRESULT> result = on_message(*this, message, wparam, lparam)) return *result;
    if (message == kStart) {
        if (steps) steps(*this);
        return 0;
    }
    return CDialog::WindowProc(message, wparam, lparam);
}

}  // namespace conformance
