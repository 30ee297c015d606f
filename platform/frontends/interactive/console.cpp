// The interactive front ends' log, command worker, command line and panel rows.
#include "platform/frontends/interactive/console.h"

#include <cstdio>
#include <sstream>

#include "platform/phone/phone.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/core/utf.h"

using namespace handset;
using namespace handset::shell;
using namespace phone;

namespace frontends {
namespace {

// Enough to fill any panel, not so many that a day's run keeps them all.
constexpr std::size_t kKeptLines = 500;

constexpr std::string_view kRowLabels[] = {"Time",       "Speed", "Power", "Battery", "Keypad", "Missed", "Unread SMS",
                                           "Calls",      "Profile", "Phone book", "Mail", "Quillon", "Output"};

}  // namespace

void ConsoleLog::add(ConsoleLine::Kind kind, std::string text) {
    {
        std::lock_guard lock(mu_);
        lines_.push_back({kind, std::move(text)});
        ++added_;
        while (lines_.size() > kKeptLines) lines_.pop_front();
    }
    if (changed_) changed_();
}

void ConsoleLog::clear() {
    {
        std::lock_guard lock(mu_);
        lines_.clear();
    }
    if (changed_) changed_();
}

std::vector<ConsoleLine> ConsoleLog::latest(std::size_t count, std::size_t skip) const {
    std::lock_guard lock(mu_);
    const std::size_t end = lines_.size() > skip ? lines_.size() - skip : 0;
    const std::size_t first = end > count ? end - count : 0;
    return {lines_.begin() + static_cast<std::ptrdiff_t>(first), lines_.begin() + static_cast<std::ptrdiff_t>(end)};
}

std::size_t ConsoleLog::size() const {
    std::lock_guard lock(mu_);
    return lines_.size();
}

unsigned long long ConsoleLog::added() const {
    std::lock_guard lock(mu_);
    return added_;
}

std::string describe_event(const Event& event) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%9.3f", static_cast<double>(event.t) / 1000.0);
    std::string text = stamp;
    text += ' ';
    text += event.kind;
    for (const Field& f : event.fields) {
        text += ' ' + f.name + '=';
        if (f.value.kind() == FieldValue::Kind::Text) text += f.value.text();
        else f.value.write_json(text);
    }
    return text;
}

CommandWorker::CommandWorker(Phone& phone, ConsoleLog& log, std::function<void()> changed)
    : phone_(phone), log_(log), changed_(std::move(changed)), thread_([this] { loop(); }) {}

CommandWorker::~CommandWorker() { stop(); }

void CommandWorker::run(std::string text, Command command) { submit({std::move(text), std::move(command)}); }

void CommandWorker::end_quillon() { submit({"end Quillon", std::nullopt}); }

void CommandWorker::submit(Job job) {
    {
        std::lock_guard lock(mu_);
        jobs_.push_back(std::move(job));
    }
    cv_.notify_one();
}

void CommandWorker::stop() {
    {
        std::lock_guard lock(mu_);
        stopping_ = true;
    }
    cv_.notify_one();
    if (thread_.joinable()) thread_.join();
}

std::string CommandWorker::busy() const {
    std::lock_guard lock(mu_);
    return busy_;
}

bool CommandWorker::finished() const {
    std::lock_guard lock(mu_);
    return finished_;
}

void CommandWorker::loop() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mu_);
            cv_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (stopping_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            busy_ = job.text;
        }
        if (changed_) changed_();
        carry_out(job);
        {
            std::lock_guard lock(mu_);
            busy_.clear();
            if (!job.command) finished_ = true;
        }
        if (changed_) changed_();
    }
}

void CommandWorker::carry_out(const Job& job) {
    // A worker is no program thread: it holds handset time only while its command runs.
    const Participation participation;
    std::string error;
    if (!job.command) {
        if (phone_.host().running() && !phone_.host().quit(error))
            log_.add(ConsoleLine::Kind::Error, "quit: " + error);
        return;
    }
    std::string out;
    std::string notice;
    const bool ok = phone_.executor().run(*job.command, out, error, notice);
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) log_.add(ConsoleLine::Kind::Output, line);
    if (!notice.empty()) log_.add(ConsoleLine::Kind::Output, job.text + ": " + notice);
    if (!ok) log_.add(ConsoleLine::Kind::Error, job.text + ": " + error);
}

void CommandLine::open() {
    editing_ = true;
    input_.clear();
    history_pos_ = history_.size();
}

void CommandLine::cancel() {
    editing_ = false;
    input_.clear();
}

std::string CommandLine::enter() {
    const std::string line = text();
    if (!input_.empty()) history_.push_back(input_);
    cancel();
    return line;
}

void CommandLine::type(char32_t c) { input_ += c; }

void CommandLine::erase_last() {
    if (!input_.empty()) input_.pop_back();
}

void CommandLine::erase_all() { input_.clear(); }

void CommandLine::back() {
    if (history_pos_ > 0) input_ = history_[--history_pos_];
}

void CommandLine::forward() {
    if (history_pos_ + 1 < history_.size()) {
        input_ = history_[++history_pos_];
        return;
    }
    history_pos_ = history_.size();
    input_.clear();
}

std::string CommandLine::text() const {
    std::u16string line;
    for (char32_t c : input_) append_utf16(line, c);
    return to_utf8(line);
}

TypedLine read_typed_line(const std::string& text, int number, ConsoleLog& log) {
    TypedLine typed;
    std::vector<std::string> words;
    std::string error;
    if (split_arguments(text, words, error) && words.size() == 1) {
        if (words[0] == "exit") {
            typed.action = TypedLine::Action::Exit;
            return typed;
        }
        if (words[0] == "help") {
            for (const CommandHelp& help : command_help()) log.add(ConsoleLine::Kind::Info, help.usage);
            log.add(ConsoleLine::Kind::Info, "help | clear | exit (leave the emulator)");
            return typed;
        }
        if (words[0] == "clear") {
            log.clear();
            return typed;
        }
    }
    ParsedLine parsed = parse_line(text, number);
    if (!parsed.ok()) {
        typed.message = "error: " + parsed.error;
        return typed;
    }
    if (!parsed.command) return typed;
    log.add(ConsoleLine::Kind::Command, "> " + text);
    typed.action = TypedLine::Action::Run;
    typed.command = std::move(parsed.command);
    return typed;
}

std::span<const std::string_view> panel_row_labels() { return kRowLabels; }

std::vector<std::pair<std::string, std::string>> panel_rows(const PhoneState& s, const PhoneTime& time,
                                                            bool quillon_running) {
    const auto count = [](const std::optional<DWORD>& n) { return n ? std::to_string(*n) : std::string("?"); };
    const long long minutes = s.handset_ms / 60'000;
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, " (+%lld:%02lld)", minutes / 60, minutes % 60);
    std::string output = s.sound ? "sound " + to_utf8(*s.sound) : "";
    if (s.vibrating) output += output.empty() ? "vibrating" : ", vibrating";
    const std::string values[] = {
        time.clock_text(s.handset_ms) + elapsed,
        speed_text(s.clock_speed) + "×",
        to_utf8(s.power),
        std::to_string(s.battery_percent) + "%" + (s.charging ? ", charging" : s.charger ? ", on the charger" : ""),
        s.keypad_locked ? "locked" : "unlocked",
        count(s.missed_calls),
        count(s.unread_sms),
        count(s.active_calls),
        s.profile.empty() ? "?" : to_utf8(s.profile),
        s.entry_name.empty() ? "no carrier entry" : s.entry_name + ": " + s.entry_form,
        s.mail_running ? "running" : "not running",
        quillon_running ? "running here" : "not running here",
        output.empty() ? "quiet" : output,
    };
    static_assert(std::size(values) == std::size(kRowLabels));
    std::vector<std::pair<std::string, std::string>> rows;
    for (std::size_t i = 0; i < std::size(values); ++i) rows.emplace_back(panel_row_labels()[i], values[i]);
    return rows;
}

}  // namespace frontends
