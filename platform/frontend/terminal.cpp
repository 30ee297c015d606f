// The terminal front end (ncursesw): the phone on the left (title bar, the 40 x 12 cell
// screen, the soft-key bar), the device's state and the latest events on the right, and
// a command line for the handset commands.
//
// Only the UI thread touches ncurses. Other threads (the event log, the screen model, the
// command worker) write a byte into a wake-up pipe; the UI thread waits on the keyboard,
// that pipe and a signalfd for the ending signals, and otherwise wakes once a minute for
// the clock. SIGINT, SIGTERM and SIGHUP, and a terminal that goes away, end the phone as
// F10 does; when no one is left to press F10 again, a phone that has not ended by then
// leaves on its own after a grace period.
// Handset commands typed on the command line run on a worker thread, so a long `wait`
// or a second instance's start does not freeze the screen.
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/frontend/executor.h"
#include "platform/frontend/frontend.h"
#include "platform/frontend/keys.h"
#include "platform/frontend/launcher.h"
#include "platform/frontend/phone.h"
#include "platform/frontend/phone_state.h"
#include "platform/frontend/program_host.h"
#include "platform/frontend/recorder.h"
#include "platform/frontend/terminal_io.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/core/device.h"
#include "platform/handset/core/events.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/window/screen.h"
#include "platform/handset/window/wm.h"

// Last: curses defines TRUE and FALSE, which the platform headers declare themselves.
#define NCURSES_WIDECHAR 1
#define NCURSES_NOMACROS 1
#include <ncursesw/curses.h>

namespace handset::frontend {
namespace {

// Layout: a header row, the phone's frame on the left, the panel to its right, and two
// rows at the bottom for messages and the help or command line.
constexpr int kPhoneWidth = kScreenColumns + 2;
constexpr int kPhoneHeight = kScreenRows + 4;  // frame, title bar, body, soft-key bar
constexpr int kMinPanelWidth = 30;
constexpr int kMinWidth = kPhoneWidth + 1 + kMinPanelWidth;
constexpr int kMinHeight = 1 + kPhoneHeight + 2;
constexpr std::size_t kLogLines = 500;

constexpr char kWakeRedraw = 'w';

// How long an end that no user can repeat (a signal, a lost terminal) waits for Quillon
// and the running command before the phone leaves without them.
constexpr auto kUnattendedEndGrace = std::chrono::seconds(10);

constexpr const char* kHelp =
    "F1/F2 soft keys  Esc back  Enter  arrows  * # 0-9  : command  F10 or Ctrl-C quit";

// The phone's texts are UTF-8; without a UTF-8 locale ncursesw would draw Hangul as
// escapes, so a C.UTF-8 locale stands in when the environment gives none.
void ensure_utf8_locale() {
    std::setlocale(LC_ALL, "");
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0) return;
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"})
        if (std::setlocale(LC_ALL, name)) return;
}

std::string wide_to_utf8(const std::wstring& text) {
    std::u16string u;
    for (wchar_t c : text) append_utf16(u, static_cast<char32_t>(c));
    return to_utf8(u);
}

// One event as a short panel line: "  12.345 key vk=112 up=false".
std::string describe_event(const Json& event) {
    char stamp[32];
    const double t = event.contains("t") && event["t"].is_number() ? event["t"].get<double>() / 1000.0 : 0.0;
    std::snprintf(stamp, sizeof stamp, "%9.3f", t);
    std::string text = stamp;
    text += ' ';
    text += event.value("ev", std::string("?"));
    for (const auto& [key, value] : event.items()) {
        if (key == "t" || key == "ev") continue;
        text += ' ' + key + '=' + (value.is_string() ? value.get<std::string>() : value.dump());
    }
    return text;
}

std::string u8(std::u16string_view s) { return to_utf8(s); }

struct LogLine {
    enum class Kind { Event, Command, Output, Error, Info } kind;
    std::string text;
};

struct Job {
    std::string text;
    std::optional<Command> command;  // nothing: end Quillon and leave the emulator
};

class TerminalFrontEnd : public FrontEnd {
public:
    explicit TerminalFrontEnd(TerminalOptions options) : options_(std::move(options)) {}

    int run() override;

private:
    // Any thread.
    void wake(char c = kWakeRedraw) {
        [[maybe_unused]] ssize_t n = ::write(wake_[1], &c, 1);
    }
    void log(LogLine::Kind kind, std::string text) {
        {
            std::lock_guard lock(mu_);
            log_.push_back({kind, std::move(text)});
            while (log_.size() > kLogLines) log_.pop_front();
        }
        wake();
    }
    void submit(Job job) {
        {
            std::lock_guard lock(mu_);
            jobs_.push_back(std::move(job));
        }
        jobs_cv_.notify_one();
        wake();
    }
    void worker_loop();

    // UI thread.
    void draw();
    void draw_phone(int top, int left);
    void draw_panel(int top, int left, int width, int height);
    void draw_bottom(int rows, int cols);
    void handle_key(int status, wint_t ch);
    void handle_command_key(int status, wint_t ch);
    void submit_command_line(const std::string& text);
    void request_quit();
    // An end that no user at the keyboard asked for: a signal or a lost terminal.
    void request_unattended_end();
    void on_signal(int signo);

    void loop(EndingSignals& signals);
    void read_keyboard();

    TerminalOptions options_;
    std::unique_ptr<Phone> phone_;  // while run() runs
    SessionRecorder recorder_;      // writes nothing unless opened
    PhoneTime time_;
    int wake_[2] = {-1, -1};

    std::mutex mu_;
    std::deque<LogLine> log_;
    std::deque<Job> jobs_;
    std::condition_variable jobs_cv_;
    std::string busy_;       // the command the worker runs now
    bool worker_stop_ = false;
    bool finished_ = false;  // the quit job has ended Quillon

    // UI thread only.
    bool quitting_ = false;
    bool leave_now_ = false;
    bool terminal_gone_ = false;
    std::optional<std::chrono::steady_clock::time_point> end_deadline_;  // unattended end
    bool editing_ = false;
    std::wstring input_;
    std::vector<std::wstring> history_;
    std::size_t history_pos_ = 0;
    std::string message_;
    int command_number_ = 0;
};

void TerminalFrontEnd::worker_loop() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mu_);
            jobs_cv_.wait(lock, [&] { return worker_stop_ || !jobs_.empty(); });
            if (worker_stop_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            busy_ = job.text;
        }
        wake();
        if (!job.command) {
            std::string error;
            if (phone_->host().running()) {
                Participation participation;
                if (!phone_->host().quit(error)) log(LogLine::Kind::Error, "quit: " + error);
            }
            std::lock_guard lock(mu_);
            busy_.clear();
            finished_ = true;
            wake();
            continue;
        }
        std::ostringstream out;
        std::string error, notice;
        bool ok;
        {
            Participation participation;
            ok = phone_->executor().run(*job.command, out, error, notice);
        }
        std::istringstream lines(out.str());
        for (std::string line; std::getline(lines, line);) log(LogLine::Kind::Output, line);
        if (!notice.empty()) log(LogLine::Kind::Output, job.text + ": " + notice);
        if (!ok) log(LogLine::Kind::Error, job.text + ": " + error);
        std::lock_guard lock(mu_);
        busy_.clear();
        wake();
    }
}

void TerminalFrontEnd::draw_phone(int top, int left) {
    attron(A_BOLD);
    mvaddch(top, left, ACS_ULCORNER);
    mvhline(top, left + 1, ACS_HLINE, kPhoneWidth - 2);
    mvaddch(top, left + kPhoneWidth - 1, ACS_URCORNER);
    mvvline(top + 1, left, ACS_VLINE, kPhoneHeight - 2);
    mvvline(top + 1, left + kPhoneWidth - 1, ACS_VLINE, kPhoneHeight - 2);
    mvaddch(top + kPhoneHeight - 1, left, ACS_LLCORNER);
    mvhline(top + kPhoneHeight - 1, left + 1, ACS_HLINE, kPhoneWidth - 2);
    mvaddch(top + kPhoneHeight - 1, left + kPhoneWidth - 1, ACS_LRCORNER);
    attroff(A_BOLD);

    std::vector<std::string> screen = render_screen();
    screen.resize(kScreenRows + 2, std::string(kScreenColumns, ' '));
    if (keypad_locked()) {
        // The shell's lock screen covers whatever is in front until F1 then * unlocks.
        const PhoneState state = read_phone_state();
        std::vector<std::string> body(kScreenRows, fit_cells(u"", kScreenColumns));
        body[2] = center_cells(to_utf16(time_.clock_text(state.handset_ms)), kScreenColumns);
        body[3] = center_cells(to_utf16(time_.date_text(state.handset_ms)), kScreenColumns);
        body[6] = center_cells(u"키패드 잠김", kScreenColumns);
        body[8] = center_cells(u"잠금 해제: 왼쪽 소프트키(F1) 다음 *", kScreenColumns);
        std::copy(body.begin(), body.end(), screen.begin() + 1);
        screen.back() = spread_cells(u" 잠금 해제", u"", kScreenColumns);
    }
    attron(A_REVERSE);
    mvaddstr(top + 1, left + 1, screen[0].c_str());
    attroff(A_REVERSE);
    for (int i = 0; i < kScreenRows; ++i) mvaddstr(top + 2 + i, left + 1, screen[1 + i].c_str());
    attron(A_REVERSE);
    mvaddstr(top + 2 + kScreenRows, left + 1, screen[kScreenRows + 1].c_str());
    attroff(A_REVERSE);
}

void TerminalFrontEnd::draw_panel(int top, int left, int width, int height) {
    const PhoneState s = read_phone_state();
    const auto count = [](const std::optional<DWORD>& n) { return n ? std::to_string(*n) : std::string("?"); };
    std::vector<std::string> rows;
    const auto row = [&](const char* label, const std::string& value) {
        char head[16];
        std::snprintf(head, sizeof head, "%-11s", label);
        rows.push_back(head + value);
    };
    const long long minutes = s.handset_ms / 60'000;
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, " (+%lld:%02lld)", minutes / 60, minutes % 60);
    row("Time", time_.clock_text(s.handset_ms) + elapsed);
    row("Power", u8(s.power));
    row("Keypad", s.keypad_locked ? "locked" : "unlocked");
    row("Missed", count(s.missed_calls));
    row("Unread SMS", count(s.unread_sms));
    row("Calls", count(s.active_calls));
    row("Profile", s.profile.empty() ? "?" : u8(s.profile));
    row("Phone book", s.entry_name.empty() ? "no carrier entry" : s.entry_name + ": " + s.entry_form);
    row("Mail", s.mail_running ? "running" : "not running");
    row("Quillon", phone_->host().running() ? "running here" : "not running here");
    std::string output = s.sound ? "sound " + u8(*s.sound) : "";
    if (s.vibrating) output += output.empty() ? "vibrating" : ", vibrating";
    row("Output", output.empty() ? "quiet" : output);

    attron(A_BOLD);
    mvaddstr(top, left, fit_cells(u" Phone", width).c_str());
    attroff(A_BOLD);
    int y = top + 1;
    for (const auto& r : rows) {
        if (y >= top + height) return;
        mvaddstr(y++, left, fit_cells(to_utf16(" " + r), width).c_str());
    }
    if (y + 1 >= top + height) return;
    attron(A_BOLD);
    mvaddstr(y++, left, fit_cells(u" Events", width).c_str());
    attroff(A_BOLD);

    // The latest lines that fit: an event takes one row, a command's output wraps.
    const int room = top + height - y;
    struct Row {
        std::string text;
        int attr;
    };
    std::vector<Row> rows_shown;
    {
        std::lock_guard lock(mu_);
        for (auto it = log_.rbegin(); it != log_.rend() && static_cast<int>(rows_shown.size()) < room; ++it) {
            int attr = A_NORMAL;
            if (it->kind == LogLine::Kind::Command) attr = A_BOLD;
            if (it->kind == LogLine::Kind::Error) attr = A_BOLD | (has_colors() ? COLOR_PAIR(1) : A_UNDERLINE);
            if (it->kind == LogLine::Kind::Output || it->kind == LogLine::Kind::Info)
                attr = has_colors() ? COLOR_PAIR(2) : A_NORMAL;
            const std::u16string text = to_utf16(it->text);
            std::vector<std::string> pieces = it->kind == LogLine::Kind::Event
                                                  ? std::vector<std::string>{fit_cells(text, width - 1)}
                                                  : wrap_cells(text, width - 1);
            for (auto& piece : pieces) piece.insert(0, " ");
            for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece)
                rows_shown.push_back({std::move(*piece), attr});
        }
    }
    if (static_cast<int>(rows_shown.size()) > room) rows_shown.resize(static_cast<std::size_t>(room));
    for (auto it = rows_shown.rbegin(); it != rows_shown.rend(); ++it) {
        attron(it->attr);
        mvaddstr(y++, left, it->text.c_str());
        attroff(it->attr);
    }
}

void TerminalFrontEnd::draw_bottom(int rows, int cols) {
    std::string status;
    {
        std::lock_guard lock(mu_);
        if (!busy_.empty()) status = "running: " + busy_;
    }
    if (quitting_) status = "Ending Quillon... (F10 again leaves at once)";
    if (status.empty()) status = message_;
    mvaddstr(rows - 2, 0, fit_cells(to_utf16(status), cols).c_str());
    if (editing_) {
        std::wstring shown = input_;
        // Keep the end of a long line in view.
        while (!shown.empty() && text_cells(to_utf16(wide_to_utf8(shown))) > cols - 2) shown.erase(0, 1);
        const std::string line = ":" + wide_to_utf8(shown);
        mvaddstr(rows - 1, 0, fit_cells(to_utf16(line), cols).c_str());
        move(rows - 1, std::min(cols - 1, text_cells(to_utf16(line))));
    } else {
        attron(A_REVERSE);
        mvaddstr(rows - 1, 0, fit_cells(to_utf16(kHelp), cols).c_str());
        attroff(A_REVERSE);
    }
}

void TerminalFrontEnd::draw() {
    int rows, cols;
    getmaxyx(stdscr, rows, cols);
    erase();
    if (rows < kMinHeight || cols < kMinWidth) {
        curs_set(0);
        const std::string text = "Terminal too small: the phone needs " + std::to_string(kMinWidth) + " x " +
                                 std::to_string(kMinHeight) + " (now " + std::to_string(cols) + " x " +
                                 std::to_string(rows) + "). F10 quits.";
        mvaddstr(0, 0, fit_cells(to_utf16(text), cols).c_str());
        refresh();
        return;
    }
    const std::string model = device().model();
    attron(A_REVERSE);
    mvaddstr(0, 0, fit_cells(to_utf16(" Quillon handset emulator   model " + model + "   device " +
                                      device().folder().string()),
                             cols)
                       .c_str());
    attroff(A_REVERSE);
    draw_phone(1, 0);
    draw_panel(1, kPhoneWidth + 1, cols - kPhoneWidth - 1, rows - 3);
    draw_bottom(rows, cols);
    curs_set(editing_ ? 1 : 0);
    refresh();
}

void TerminalFrontEnd::request_quit() {
    if (quitting_) {
        leave_now_ = true;
        return;
    }
    quitting_ = true;
    // A command still waiting (`:wait 1h`) would hold the end back behind it.
    phone_->host().cancel_waits();
    submit(Job{"end Quillon", std::nullopt});
}

void TerminalFrontEnd::request_unattended_end() {
    if (end_deadline_) return;
    end_deadline_ = std::chrono::steady_clock::now() + kUnattendedEndGrace;
    if (!quitting_) request_quit();
}

void TerminalFrontEnd::on_signal(int signo) {
    if (signo == SIGHUP) terminal_gone_ = true;
    // Ctrl-C is the user's F10 (a second one leaves at once); TERM and HUP come from
    // outside, where no one may send another.
    if (signo == SIGINT) request_quit();
    else request_unattended_end();
}

void TerminalFrontEnd::submit_command_line(const std::string& text) {
    std::vector<std::string> words;
    std::string error;
    if (split_arguments(text, words, error) && words.size() == 1) {
        if (words[0] == "exit") {
            request_quit();
            return;
        }
        if (words[0] == "help") {
            for (const CommandHelp& help : command_help()) log(LogLine::Kind::Info, help.usage);
            log(LogLine::Kind::Info, "help | clear | exit (leave the emulator)");
            return;
        }
        if (words[0] == "clear") {
            std::lock_guard lock(mu_);
            log_.clear();
            return;
        }
    }
    const ParsedLine parsed = parse_line(text, ++command_number_);
    if (!parsed.ok()) {
        message_ = "error: " + parsed.error;
        return;
    }
    if (!parsed.command) return;
    log(LogLine::Kind::Command, "> " + text);
    recorder_.command(text);
    submit(Job{text, *parsed.command});
}

void TerminalFrontEnd::handle_command_key(int status, wint_t ch) {
    if (status == KEY_CODE_YES) {
        switch (ch) {
            case KEY_BACKSPACE:
                if (!input_.empty()) input_.pop_back();
                break;
            case KEY_ENTER: {
                editing_ = false;
                const std::string text = wide_to_utf8(input_);
                if (!input_.empty()) history_.push_back(input_);
                input_.clear();
                submit_command_line(text);
                break;
            }
            case KEY_UP:
                if (history_pos_ > 0) input_ = history_[--history_pos_];
                break;
            case KEY_DOWN:
                if (history_pos_ + 1 < history_.size()) input_ = history_[++history_pos_];
                else {
                    history_pos_ = history_.size();
                    input_.clear();
                }
                break;
            case KEY_F(10): request_quit(); break;
            default: break;
        }
        return;
    }
    if (ch == 27) {
        editing_ = false;
        input_.clear();
    } else if (ch == '\n' || ch == '\r') {
        handle_command_key(KEY_CODE_YES, KEY_ENTER);
    } else if (ch == 127 || ch == 8) {
        if (!input_.empty()) input_.pop_back();
    } else if (ch == 21) {  // Ctrl-U
        input_.clear();
    } else if (ch >= 32) {
        input_ += static_cast<wchar_t>(ch);
    }
}

void TerminalFrontEnd::handle_key(int status, wint_t ch) {
    if (editing_) {
        handle_command_key(status, ch);
        return;
    }
    message_.clear();
    const bool function_key = status == KEY_CODE_YES;
    if (function_key && ch == KEY_F(10)) {
        request_quit();
        return;
    }
    if (!function_key && ch == ':') {
        editing_ = true;
        input_.clear();
        history_pos_ = history_.size();
        return;
    }
    // Characters beyond ASCII would meet the function keys' codes in the key table.
    if (!function_key && ch >= 128) return;
    if (const auto vk = key_by_curses(static_cast<int>(ch))) {
        recorder_.key(*vk);
        press_user_key(*vk);
    }
}

void TerminalFrontEnd::read_keyboard() {
    wint_t ch;
    int status;
    errno = 0;
    while ((status = get_wch(&ch)) != ERR) {
        if (status == KEY_CODE_YES && ch == KEY_RESIZE) continue;  // the next draw fits the new size
        handle_key(status, ch);
        errno = 0;
    }
    if (errno == EIO) terminal_gone_ = true;
}

void TerminalFrontEnd::loop(EndingSignals& signals) {
    while (!leave_now_) {
        {
            std::lock_guard lock(mu_);
            if (finished_) return;
        }
        if (!terminal_gone_) draw();
        // A terminal that is gone is not watched any more: it would be ready forever.
        pollfd fds[3] = {
            {terminal_gone_ ? -1 : STDIN_FILENO, POLLIN, 0}, {wake_[0], POLLIN, 0}, {signals.fd(), POLLIN, 0}};
        // The clocks on screen show minutes: wake when the next one begins (in real time,
        // sooner when the clock runs fast, but not more often than ten times a second).
        const double handset_ms = static_cast<double>(60'000 - clock().now_ms() % 60'000);
        long long ms = std::clamp(static_cast<long long>(handset_ms / clock().speed()) + 1, 100LL, 60'000LL);
        if (end_deadline_) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*end_deadline_ - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                leave_now_ = true;
                return;
            }
            ms = std::min<long long>(ms, left.count());
        }
        timespec timeout{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000};
        if (::ppoll(fds, 3, &timeout, signals.wait_mask()) > 0) {
            if (fds[1].revents & POLLIN) {
                char bytes[256];
                while (::read(wake_[0], bytes, sizeof bytes) > 0) {
                }
            }
            if (fds[2].revents & POLLIN) signals.take([this](int signo) { on_signal(signo); });
            if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) terminal_gone_ = true;
        }
        // Also after a wake-up without input: ncurses takes a resize in get_wch.
        if (!terminal_gone_) read_keyboard();
        // The terminal went away (a closed window, a dropped link): end as F10 does.
        if (terminal_gone_) request_unattended_end();
    }
}

int TerminalFrontEnd::run() {
    ensure_utf8_locale();
    time_ = PhoneTime();
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::fprintf(stderr, "quillon: cannot make a pipe: %s\n", std::strerror(errno));
        return kExitCommandFailed;
    }
    StderrCapture captured(device().run_dir() / ("terminal-" + std::to_string(::getpid()) + ".err"));
    // Before any thread starts: they all inherit the blocked ending signals.
    EndingSignals signals;

    set_escdelay(25);
    initscr();
    cbreak();
    noecho();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    if (has_colors()) {
        start_color();
        use_default_colors();
        init_pair(1, COLOR_RED, -1);
        init_pair(2, COLOR_CYAN, -1);
    }

    FILE* log_file = options_.log ? std::fopen(options_.log->c_str(), "w") : nullptr;
    if (options_.log && !log_file) log(LogLine::Kind::Error, "cannot write the log " + options_.log->string());
    PhoneOptions phone;
    phone.home_screen = time_;
    phone.launch = [this] { submit(Job{"start", Command{cmd::Start{}}}); };
    phone.report = [this](const std::string& text) { log(LogLine::Kind::Error, text); };
    phone_ = std::make_unique<Phone>(std::move(phone), [this, log_file](const std::string& line, const Json& event) {
        if (log_file) {
            std::fputs((line + "\n").c_str(), log_file);
            std::fflush(log_file);
        }
        log(LogLine::Kind::Event, describe_event(event));
    });
    set_screen_listener([this] { wake(); });
    set_audio_output(true);

    std::thread worker([this] { worker_loop(); });
    std::string error;
    if (options_.record) {
        if (recorder_.open(*options_.record, error)) recorder_.begin(!options_.no_start);
        else log(LogLine::Kind::Error, error);
    }
    {
        Participation participation;
        phone_->start_services();
        if (!options_.no_start && !phone_->start_quillon(error)) log(LogLine::Kind::Error, "cannot start Quillon: " + error);
    }

    loop(signals);

    {
        std::lock_guard lock(mu_);
        worker_stop_ = true;
    }
    jobs_cv_.notify_one();
    endwin();
    if (leave_now_) {
        // The user insisted, or an unattended end ran out of time: leave without waiting
        // for the program or a running command.
        captured.restore();
        std::fprintf(stderr, "quillon: left without ending Quillon\n");
        std::fflush(nullptr);
        std::_Exit(kExitCommandFailed);
    }
    worker.join();
    recorder_.end();
    {
        Participation participation;
        phone_->end(error);  // Quillon has ended in the worker's quit job
    }
    set_screen_listener(nullptr);
    phone_.reset();
    if (log_file) std::fclose(log_file);
    captured.restore();
    ::close(wake_[0]);
    ::close(wake_[1]);
    return kExitOk;
}

}  // namespace

std::unique_ptr<FrontEnd> make_terminal(TerminalOptions options) {
    return std::make_unique<TerminalFrontEnd>(std::move(options));
}

}  // namespace handset::frontend
