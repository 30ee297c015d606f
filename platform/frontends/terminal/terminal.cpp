// The terminal front end (ncursesw): the phone on the left (title bar, the 40 x 12 cell
// screen, the soft-key bar), the device's state and the latest events on the right, and
// a command line for the handset commands.
//
// Only the UI thread touches ncurses. Other threads (the event log, the screen model, the
// command worker) write a byte into a wake-up pipe; the UI thread waits on the keyboard,
// that pipe and a signalfd for the ending signals, and otherwise wakes once a minute for
// the clock. SIGINT, SIGTERM and SIGHUP, and a terminal that goes away, end the phone as
// F10 does; when no one is left to press F10 again, a phone that has not ended by then
// leaves on its own after a grace period. Handset commands typed on the command line
// run on the console's worker thread (console.h).
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <filesystem>

#include "platform/phone/executor.h"
#include "platform/frontends/interactive/console.h"
#include "platform/frontends/frontend.h"
#include "platform/frontends/interactive/handset_controls.h"
#include "platform/frontends/interactive/interactive.h"
#include "platform/phone/keys.h"
#include "platform/handset/shell/home_screen.h"
#include "platform/handset/shell/launcher.h"
#include "platform/phone/phone.h"
#include "platform/handset/shell/phone_state.h"
#include "platform/phone/program_host.h"
#include "platform/frontends/interactive/ending_signals.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/core/device.h"
#include "platform/handset/core/events.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/display/lock_screen.h"
#include "platform/handset/display/screen.h"
#include "platform/handset/window/wm.h"

// Last: curses defines TRUE and FALSE, which the platform headers declare themselves.
#include "platform/frontends/terminal/curses_library.h"

using namespace handset;
using namespace handset::shell;
using namespace phone;

namespace frontends {
namespace {

// Layout: a header row, the phone's frame on the left, the panel to its right, and two
// rows at the bottom for messages and the help or command line.
constexpr int kPhoneWidth = kScreenColumns + 2;
constexpr int kPhoneHeight = kScreenRows + 4;  // frame, title bar, body, soft-key bar
constexpr int kMinPanelWidth = 30;
constexpr int kMinWidth = kPhoneWidth + 1 + kMinPanelWidth;
constexpr int kMinHeight = 1 + kPhoneHeight + 2;

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

class TerminalFrontEnd : public FrontEnd {
public:
    explicit TerminalFrontEnd(InteractiveOptions options) : phone_(std::move(options), [this] { wake(); }) {}

    int run() override;

private:
    // Any thread: the UI thread redraws.
    void wake() {
        const char c = 0;
        [[maybe_unused]] ssize_t n = ::write(wake_[1], &c, 1);
    }

    // UI thread.
    void draw();
    void draw_phone(int top, int left);
    void draw_panel(int top, int left, int width, int height);
    // Returns the rows the bottom takes.
    int draw_bottom(int rows, int cols);
    void handle_key(int status, wint_t ch);
    void handle_command_key(int status, wint_t ch);
    void on_signal(int signo);
    void loop(EndingSignals& signals);
    void read_keyboard();

    int wake_[2] = {-1, -1};
    const Curses* c_ = nullptr;  // loaded by run()
    InteractivePhone phone_;
    bool terminal_gone_ = false;  // UI thread only
};

void TerminalFrontEnd::draw_phone(int top, int left) {
    using Line = Curses::Line;
    c_->attron(A_BOLD);
    c_->mvaddch(top, left, c_->line(Line::UpperLeft));
    c_->mvhline(top, left + 1, c_->line(Line::Horizontal), kPhoneWidth - 2);
    c_->mvaddch(top, left + kPhoneWidth - 1, c_->line(Line::UpperRight));
    c_->mvvline(top + 1, left, c_->line(Line::Vertical), kPhoneHeight - 2);
    c_->mvvline(top + 1, left + kPhoneWidth - 1, c_->line(Line::Vertical), kPhoneHeight - 2);
    c_->mvaddch(top + kPhoneHeight - 1, left, c_->line(Line::LowerLeft));
    c_->mvhline(top + kPhoneHeight - 1, left + 1, c_->line(Line::Horizontal), kPhoneWidth - 2);
    c_->mvaddch(top + kPhoneHeight - 1, left + kPhoneWidth - 1, c_->line(Line::LowerRight));
    c_->attroff(A_BOLD);

    std::vector<std::string> screen = render_screen();
    screen.resize(kScreenRows + 2, std::string(kScreenColumns, ' '));
    if (keypad_locked()) {
        // The shell's lock screen covers whatever is in front until F1 then * unlocks.
        const LockScreen lock = lock_screen(shell_facts(read_phone_state(), phone_.time()), UnlockKeys::Terminal);
        std::vector<std::string> body(kScreenRows, fit_cells(u"", kScreenColumns));
        body[2] = center_cells(lock.clock, kScreenColumns);
        body[3] = center_cells(lock.date, kScreenColumns);
        body[6] = center_cells(lock.message, kScreenColumns);
        body[8] = center_cells(lock.hint, kScreenColumns);
        std::copy(body.begin(), body.end(), screen.begin() + 1);
        screen.back() = spread_cells(u" " + std::u16string(lock.soft_key), u"", kScreenColumns);
    }
    c_->attron(A_REVERSE);
    c_->mvaddstr(top + 1, left + 1, screen[0].c_str());
    c_->attroff(A_REVERSE);
    for (int i = 0; i < kScreenRows; ++i) c_->mvaddstr(top + 2 + i, left + 1, screen[1 + i].c_str());
    c_->attron(A_REVERSE);
    c_->mvaddstr(top + 2 + kScreenRows, left + 1, screen[kScreenRows + 1].c_str());
    c_->attroff(A_REVERSE);
}

void TerminalFrontEnd::draw_panel(int top, int left, int width, int height) {
    std::vector<std::string> rows;
    for (const auto& [label, value] : panel_rows(read_phone_state(), phone_.time(), phone_.phone().host().running())) {
        char head[16];
        std::snprintf(head, sizeof head, "%-11s", label.c_str());
        rows.push_back(head + value);
    }

    c_->attron(A_BOLD);
    c_->mvaddstr(top, left, fit_cells(u" Phone", width).c_str());
    c_->attroff(A_BOLD);
    int y = top + 1;
    for (const auto& r : rows) {
        if (y >= top + height) return;
        c_->mvaddstr(y++, left, fit_cells(to_utf16(" " + r), width).c_str());
    }
    if (y + 1 >= top + height) return;
    c_->attron(A_BOLD);
    c_->mvaddstr(y++, left, fit_cells(u" Events", width).c_str());
    c_->attroff(A_BOLD);

    // The latest lines that fit: an event takes one row, a command's output wraps.
    const int room = top + height - y;
    struct Row {
        std::string text;
        int attr;
    };
    std::vector<Row> rows_shown;
    {
        const std::vector<ConsoleLine> lines = phone_.log().latest(static_cast<std::size_t>(room));
        for (auto it = lines.rbegin(); it != lines.rend() && static_cast<int>(rows_shown.size()) < room; ++it) {
            int attr = A_NORMAL;
            if (it->kind == ConsoleLine::Kind::Command) attr = A_BOLD;
            if (it->kind == ConsoleLine::Kind::Error)
                attr = A_BOLD | (c_->has_colors() ? c_->color_pair(1) : A_UNDERLINE);
            if (it->kind == ConsoleLine::Kind::Output || it->kind == ConsoleLine::Kind::Info)
                attr = c_->has_colors() ? c_->color_pair(2) : A_NORMAL;
            const std::u16string text = to_utf16(it->text);
            std::vector<std::string> pieces = it->kind == ConsoleLine::Kind::Event
                                                  ? std::vector<std::string>{shorten_cells(text, width - 1)}
                                                  : wrap_cells(text, width - 1);
            for (auto& piece : pieces) piece.insert(0, " ");
            for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece)
                rows_shown.push_back({std::move(*piece), attr});
        }
    }
    if (static_cast<int>(rows_shown.size()) > room) rows_shown.resize(static_cast<std::size_t>(room));
    for (auto it = rows_shown.rbegin(); it != rows_shown.rend(); ++it) {
        c_->attron(it->attr);
        c_->mvaddstr(y++, left, it->text.c_str());
        c_->attroff(it->attr);
    }
}

int TerminalFrontEnd::draw_bottom(int rows, int cols) {
    // The keys' help, with the handset controls' keys on as many rows as there are to
    // spare below the phone.
    std::vector<std::string> help = wrap_words(to_utf16(std::string(kHelp) + "  " + control_keys_help()), cols);
    help.resize(std::min<std::size_t>(help.size(), static_cast<std::size_t>(1 + std::max(0, rows - kMinHeight))));
    const CommandLine& command_line_ = phone_.command_line();
    const int help_top = command_line_.editing() ? rows - 1 : rows - static_cast<int>(help.size());
    c_->mvaddstr(help_top - 1, 0, fit_cells(to_utf16(phone_.status()), cols).c_str());
    if (command_line_.editing()) {
        std::u16string shown = to_utf16(command_line_.text());
        // Keep the end of a long line in view.
        while (!shown.empty() && text_cells(shown) > cols - 2) shown.erase(0, 1);
        const std::string line = ":" + to_utf8(shown);
        c_->mvaddstr(rows - 1, 0, fit_cells(to_utf16(line), cols).c_str());
        c_->move(rows - 1, std::min(cols - 1, text_cells(to_utf16(line))));
        return 2;
    }
    c_->attron(A_REVERSE);
    for (std::size_t i = 0; i < help.size(); ++i) c_->mvaddstr(help_top + static_cast<int>(i), 0, help[i].c_str());
    c_->attroff(A_REVERSE);
    return 1 + static_cast<int>(help.size());
}

void TerminalFrontEnd::draw() {
    const int rows = c_->getmaxy(c_->screen()), cols = c_->getmaxx(c_->screen());
    c_->erase();
    if (rows < kMinHeight || cols < kMinWidth) {
        c_->curs_set(0);
        const std::string text = "Terminal too small: the phone needs " + std::to_string(kMinWidth) + " x " +
                                 std::to_string(kMinHeight) + " (now " + std::to_string(cols) + " x " +
                                 std::to_string(rows) + "). F10 quits.";
        c_->mvaddstr(0, 0, fit_cells(to_utf16(text), cols).c_str());
        c_->refresh();
        return;
    }
    const std::string model = device().model();
    c_->attron(A_REVERSE);
    c_->mvaddstr(0, 0,
                 fit_cells(to_utf16(" Quillon handset emulator   model " + model + "   device " +
                                    device().folder().string()),
                           cols)
                     .c_str());
    c_->attroff(A_REVERSE);
    draw_phone(1, 0);
    const int bottom = draw_bottom(rows, cols);
    draw_panel(1, kPhoneWidth + 1, cols - kPhoneWidth - 1, rows - 1 - bottom);
    c_->curs_set(phone_.command_line().editing() ? 1 : 0);
    c_->refresh();
}

void TerminalFrontEnd::on_signal(int signo) {
    if (signo == SIGHUP) terminal_gone_ = true;
    phone_.on_signal(signo);
}

void TerminalFrontEnd::handle_command_key(int status, wint_t ch) {
    CommandLine& line = phone_.command_line();
    if (status == KEY_CODE_YES) {
        switch (ch) {
            case KEY_BACKSPACE: line.erase_last(); break;
            case KEY_ENTER: phone_.submit_command_line(line.enter()); break;
            case KEY_UP: line.back(); break;
            case KEY_DOWN: line.forward(); break;
            case KEY_F(10): phone_.request_quit(); break;
            default: break;
        }
        return;
    }
    if (ch == 27) line.cancel();
    else if (ch == '\n' || ch == '\r') phone_.submit_command_line(line.enter());
    else if (ch == 127 || ch == 8) line.erase_last();
    else if (ch == 21) line.erase_all();  // Ctrl-U
    else if (ch >= 32) line.type(static_cast<char32_t>(ch));
}

void TerminalFrontEnd::handle_key(int status, wint_t ch) {
    if (phone_.command_line().editing()) {
        handle_command_key(status, ch);
        return;
    }
    phone_.clear_message();
    const bool function_key = status == KEY_CODE_YES;
    if (function_key && ch == KEY_F(10)) {
        phone_.request_quit();
        return;
    }
    if (!function_key && ch == ':') {
        phone_.command_line().open();
        return;
    }
    // Characters beyond ASCII would meet the function keys' codes in the key table.
    if (!function_key && ch >= 128) return;
    std::string name = function_key ? "" : std::string(1, static_cast<char>(ch));
    for (int n = 1; function_key && n <= 12; ++n)
        if (ch == static_cast<wint_t>(KEY_F(n))) name = "F" + std::to_string(n);
    if (const HandsetControl* control = control_by_key(name)) {
        phone_.use_control(*control);
        return;
    }
    if (const auto vk = key_by_curses(static_cast<int>(ch))) phone_.press(*vk);
}

void TerminalFrontEnd::read_keyboard() {
    wint_t ch;
    int status;
    errno = 0;
    while ((status = c_->get_wch(&ch)) != ERR) {
        if (status == KEY_CODE_YES && ch == KEY_RESIZE) continue;  // the next draw fits the new size
        handle_key(status, ch);
        errno = 0;
    }
    if (errno == EIO) terminal_gone_ = true;
}

void TerminalFrontEnd::loop(EndingSignals& signals) {
    while (!phone_.finished()) {
        if (!terminal_gone_) draw();
        // A terminal that is gone is not watched any more: it would be ready forever.
        pollfd fds[3] = {
            {terminal_gone_ ? -1 : STDIN_FILENO, POLLIN, 0}, {wake_[0], POLLIN, 0}, {signals.fd(), POLLIN, 0}};
        const long long ms = phone_.next_look_ms();
        if (phone_.leaving_now()) return;
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
        if (terminal_gone_) phone_.request_unattended_end();
    }
}

int TerminalFrontEnd::run() {
    std::string error;
    c_ = curses(error);
    if (!c_) {
        std::fprintf(stderr, "quillon: cannot open the terminal phone: %s\n", error.c_str());
        return kExitCommandFailed;
    }
    ensure_utf8_locale();
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::fprintf(stderr, "quillon: cannot make a pipe: %s\n", std::strerror(errno));
        return kExitCommandFailed;
    }
    StderrCapture captured(device().run_dir() / ("terminal-" + std::to_string(::getpid()) + ".err"));
    // Before any thread starts: they all inherit the blocked ending signals.
    EndingSignals signals;

    c_->set_escdelay(25);
    c_->initscr();
    c_->cbreak();
    c_->noecho();
    c_->keypad(c_->screen(), TRUE);
    c_->nodelay(c_->screen(), TRUE);
    if (c_->has_colors()) {
        c_->start_color();
        c_->use_default_colors();
        c_->init_pair(1, COLOR_RED, -1);
        c_->init_pair(2, COLOR_CYAN, -1);
    }

    phone_.start();

    loop(signals);

    c_->endwin();
    if (phone_.leaving_now()) {
        // The user insisted, or an unattended end ran out of time: leave without waiting
        // for the program or a running command.
        captured.restore();
        std::fprintf(stderr, "quillon: left without ending Quillon\n");
        std::fflush(nullptr);
        std::_Exit(kExitCommandFailed);
    }
    phone_.end();
    captured.restore();
    ::close(wake_[0]);
    ::close(wake_[1]);
    return kExitOk;
}

}  // namespace

std::unique_ptr<FrontEnd> make_terminal(InteractiveOptions options) {
    return std::make_unique<TerminalFrontEnd>(std::move(options));
}

}  // namespace frontends
