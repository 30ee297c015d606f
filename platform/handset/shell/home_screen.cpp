// The phone's home screen: what it shows (the shell facts that the text screen and the
// pixel screen both draw) and its text form of 14 lines.
#include "platform/handset/shell/home_screen.h"

#include "platform/handset/core/events.h"
#include "platform/handset/display/screen.h"
#include "res/resources.h"

namespace handset::shell {
namespace {

std::u16string count_text(const std::optional<DWORD>& n) {
    return n ? to_utf16(std::to_string(*n)) : u"?";
}

}  // namespace

ShellFacts shell_facts(const PhoneState& state, const PhoneTime& time) {
    ShellFacts facts;
    facts.model = state.model.empty() ? u"Phone" : to_utf16(state.model);
    facts.clock = to_utf16(time.clock_text(state.handset_ms));
    facts.date = to_utf16(time.date_text(state.handset_ms));
    facts.rows.emplace_back(u"부재중 전화", count_text(state.missed_calls));
    facts.rows.emplace_back(u"읽지 않은 SMS", count_text(state.unread_sms));
    if (state.active_calls && *state.active_calls > 0)
        facts.rows.emplace_back(u"통화 중", count_text(state.active_calls));
    facts.rows.emplace_back(u"프로필", state.profile.empty() ? u"?" : state.profile);
    facts.rows.emplace_back(u"키패드", state.keypad_locked ? u"잠김" : u"열림");
    facts.soft_key = u"Quillon";
    facts.icon_id = IDI_QUILLON;
    facts.keypad_locked = state.keypad_locked;
    return facts;
}

std::vector<std::string> render_home_screen(const PhoneState& state, const PhoneTime& time) {
    const int w = kScreenColumns;
    const ShellFacts facts = shell_facts(state, time);
    std::vector<std::string> lines;
    lines.push_back(spread_cells(u" " + facts.model, facts.clock + u" ", w));

    std::vector<std::string> body;
    body.push_back(fit_cells(u"", w));
    body.push_back(center_cells(facts.clock, w));
    body.push_back(center_cells(facts.date, w));
    body.push_back(fit_cells(u"", w));
    for (const auto& [label, value] : facts.rows) body.push_back(spread_cells(u"  " + label, value + u"  ", w));
    while (body.size() < static_cast<std::size_t>(kScreenRows)) body.push_back(fit_cells(u"", w));
    body.resize(static_cast<std::size_t>(kScreenRows));
    lines.insert(lines.end(), body.begin(), body.end());

    lines.push_back(spread_cells(u" " + facts.soft_key, u"", w));
    return lines;
}

}  // namespace handset::shell
