// Windows for the cases: a dialog that runs a case's steps from inside its own modal
// loop and records the private messages and timer ticks it receives, and the resource
// table the cases build their dialogs from (the program's own dialogs and one of the
// harness's, with both kinds of check box).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/afxwin.h"
#include "platform/resource.h"

namespace conformance {

// The harness's dialog and its controls.
constexpr int kProbeDialog = 900;
constexpr int kAutoCheck = 901;
constexpr int kPlainCheck = 902;
constexpr int kList = 903;
constexpr int kLabel = 904;
constexpr int kPush = 905;
inline constexpr WCHAR kProbeTitle[] = TEXT("Conformance probe");

// The program's resource table with the harness's dialog added; lives for the process.
const resource::Resources& probe_resources();

// A message as the probe saw it, for comparing sequences in the manner of ok_seq.
struct Seen {
    UINT message;
    WPARAM wparam;
    bool operator==(const Seen&) const = default;
};
inline std::string describe(const Seen& s) {
    return std::to_string(s.message) + ":" + std::to_string(static_cast<unsigned long long>(s.wparam));
}

// A modal dialog that, once its loop runs, takes kStart and calls `steps`; `on_message`
// sees every message first (a value handles it, and is the message's result). Messages from WM_APP up, WM_TIMER
// and WM_COMMAND are recorded in `seen`, in the order they arrive.
class ProbeDialog : public CDialog {
public:
    static constexpr UINT kStart = WM_APP + 100;

    explicit ProbeDialog(UINT template_id = kProbeDialog, CWnd* parent = nullptr) : CDialog(template_id, parent) {}

    std::function<void(ProbeDialog&)> on_init;
    std::function<void(ProbeDialog&)> steps;
    std::function<std::optional<LRESULT>(ProbeDialog&, UINT, WPARAM, LPARAM)> on_message;
    std::vector<Seen> seen;

    BOOL OnInitDialog() override;
    LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;
};

}  // namespace conformance
