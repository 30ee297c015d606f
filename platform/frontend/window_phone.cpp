// The phone window (SDL2): the handset's body with its screen in pixels and clickable
// keys below it, and beside it what the terminal phone shows in its panel: the device
// state, the latest events and the command line for the handset commands.
//
// The window is drawn in software into one image, the handset's screen taken as the
// pixel renderer draws it and enlarged by whole pixels, and copied to the window's
// surface: no GPU driver is mapped. Only the UI thread touches SDL's video. Other
// threads (the event log, the screen model, the command worker, the watcher of the
// ending signals) ask for a redraw by pushing one SDL user event, never more than one
// at a time; the UI thread sleeps in SDL_WaitEventTimeout until such an event, input,
// or the next minute of the clocks. Ending signals and closing the window end the phone
// as F10 does, through the same end as the terminal phone.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/frontend/console.h"
#include "platform/frontend/frontend.h"
#include "platform/frontend/keys.h"
#include "platform/frontend/launcher.h"
#include "platform/frontend/phone.h"
#include "platform/frontend/phone_state.h"
#include "platform/frontend/recorder.h"
#include "platform/frontend/sdl_video.h"
#include "platform/frontend/terminal_io.h"
#include "platform/frontend/window_layout.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/core/device.h"
#include "platform/handset/core/utf.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/window/pixel_font.h"
#include "platform/handset/window/pixel_screen.h"
#include "platform/handset/window/wm.h"

namespace handset::frontend {
namespace {

// How long an end that no user can repeat (a signal) waits for Quillon and the running
// command before the phone leaves without them; the terminal phone waits as long.
constexpr auto kUnattendedEndGrace = std::chrono::seconds(10);

constexpr const char* kHelp = "F1/F2 soft keys  Esc back  Enter OK  arrows  * # 0-9  : command  F10 quit";

namespace colours {
constexpr Colour kDesk = 0xD8DCE2;
constexpr Colour kBody = 0x2E3440;
constexpr Colour kBodyEdge = 0x1C2028;
constexpr Colour kEarpiece = 0x151820;
constexpr Colour kKey = 0x4C566A;
constexpr Colour kSoftKey = 0x5E81AC;
constexpr Colour kActionKey = 0x81A1C1;
constexpr Colour kPowerKey = 0xBF616A;
constexpr Colour kKeyText = 0xF2F4F8;
constexpr Colour kPanel = 0xF7F8FA;
constexpr Colour kPanelEdge = 0xB8BEC8;
constexpr Colour kText = 0x1E2430;
constexpr Colour kHeading = 0x1E3C78;
constexpr Colour kLabel = 0x5A6270;
constexpr Colour kCommand = 0x1E3C78;
constexpr Colour kOutput = 0x0E6E78;
constexpr Colour kError = 0xB0202A;
constexpr Colour kHelpBar = 0x2E3440;
constexpr Colour kHelpText = 0xF2F4F8;
}  // namespace colours

std::u32string code_points_of(std::string_view utf8) {
    const std::u16string text = to_utf16(utf8);
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) out += next_code_point(text, i);
    return out;
}

// A rectangle with its corners rounded off by `radius`.
void fill_rounded(Canvas& canvas, const Rect& r, int radius, Colour colour) {
    radius = std::min({radius, r.w / 2, r.h / 2});
    for (int row = 0; row < r.h; ++row) {
        int inset = 0;
        const int from_edge = std::min(row, r.h - 1 - row);
        if (from_edge < radius) {
            const double dy = radius - from_edge - 0.5;
            inset = static_cast<int>(std::lround(radius - std::sqrt(std::max(0.0, radius * radius - dy * dy))));
        }
        canvas.hline(r.x + inset, r.right() - inset, r.y + row, colour);
    }
}

class WindowFrontEnd : public FrontEnd {
public:
    explicit WindowFrontEnd(WindowOptions options)
        : options_(std::move(options)), layout_(window_layout(options_.scale)) {}

    int run() override;

private:
    // Any thread: the UI thread redraws.
    void wake();

    // UI thread.
    bool open_window(std::string& error);
    void close_window();
    void loop();
    // Handles one SDL event; true when the window must be drawn again.
    bool handle(const SDL_Event& event);
    void handle_key_down(const SDL_KeyboardEvent& key);
    void handle_text(const char* text);
    void press(const WindowKey& key);
    void submit_command_line(const std::string& text);
    void request_quit();
    // An end that no user at the window asked for: a signal from outside.
    void request_unattended_end();
    void on_signal(int signo);

    void compose();
    void present();
    void draw_body(Canvas& canvas);
    void draw_screen();
    void draw_panel(Canvas& canvas);
    // Draws one line of text with its top at `top`, cut at `width`; returns the line height.
    int text_line(Canvas& canvas, int x, int top, int width, std::u32string_view text, Colour colour);
    // `text` cut into lines no wider than `width`.
    std::vector<std::u32string> wrap(std::u32string_view text, int width);
    int line_height() { return font_->metrics(layout_.panel_font_px).height + 2; }

    // Signal watcher thread: hands each ending signal to the UI thread.
    void watch_signals(EndingSignals& signals);

    WindowOptions options_;
    WindowLayout layout_;
    ConsoleLog log_{[this] { wake(); }};
    std::unique_ptr<Phone> phone_;            // while run() runs
    std::unique_ptr<CommandWorker> worker_;  // while run() runs
    SessionRecorder recorder_;               // writes nothing unless opened
    PhoneTime time_;

    const SdlVideo* sdl_ = nullptr;
    SDL_Window* window_ = nullptr;
    Uint32 wake_event_ = 0;
    std::mutex wake_mu_;
    bool accepting_wakes_ = false;  // under wake_mu_: SDL's events are up
    std::atomic<bool> wake_pending_{false};
    std::mutex signals_mu_;
    std::vector<int> signals_came_;  // under signals_mu_
    int stop_watcher_[2] = {-1, -1};

    // UI thread only.
    std::unique_ptr<PixelFont> font_;
    Image frame_;
    Image screen_;
    std::string screen_error_;
    bool quitting_ = false;
    bool leave_now_ = false;
    std::optional<std::chrono::steady_clock::time_point> end_deadline_;  // unattended end
    CommandLine command_line_;
    std::string message_;
    int command_number_ = 0;
};

void WindowFrontEnd::wake() {
    // One outstanding event is enough: the redraw it brings shows every change before it.
    if (wake_pending_.exchange(true)) return;
    std::lock_guard lock(wake_mu_);
    if (!accepting_wakes_) {
        wake_pending_ = false;
        return;
    }
    SDL_Event event{};
    event.type = wake_event_;
    if (sdl_->PushEvent(&event) != 1) wake_pending_ = false;  // a full queue: the next change tries again
}

bool WindowFrontEnd::open_window(std::string& error) {
    const auto set = [](const char* name) { return std::getenv(name) && *std::getenv(name); };
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY")) {
        error = "no desktop display: neither DISPLAY nor WAYLAND_DISPLAY is set (the terminal phone needs none)";
        return false;
    }
    sdl_ = sdl_video(error);
    if (!sdl_) return false;
    // The ending signals are read from a signalfd; SDL must not turn them into its quit.
    sdl_->SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // A phone left open on the desk must not keep the host's screen saver away.
    sdl_->SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    // The window's surface goes to the display as it is. SDL would otherwise put it in a
    // GPU texture, which on a host without a GPU maps a software OpenGL of some hundred
    // megabytes for one picture a minute.
    sdl_->SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (sdl_->InitSubSystem(SDL_INIT_VIDEO) != 0) {
        error = sdl_->GetError();
        return false;
    }
    // Only a desktop's display lets SDL sleep until an event comes; its stand-ins (the
    // offscreen and dummy drivers, a bare console) would have the window poll.
    const std::string driver = sdl_->GetCurrentVideoDriver() ? sdl_->GetCurrentVideoDriver() : "";
    if (driver != "x11" && driver != "wayland") {
        error = "the desktop display cannot be reached" +
                (driver.empty() ? std::string() : "; SDL offers only its " + driver + " video driver");
        sdl_->QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    const std::string title =
        "Quillon handset emulator - model " + device().model() + " - device " + device().folder().string();
    window_ = sdl_->CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, layout_.width,
                                 layout_.height, SDL_WINDOW_SHOWN);
    if (window_) wake_event_ = sdl_->RegisterEvents(1);
    if (!window_ || wake_event_ == static_cast<Uint32>(-1)) {
        error = sdl_->GetError();
        close_window();
        return false;
    }
    // Nothing follows the pointer: moving it over the window must not wake the phone.
    sdl_->EventState(SDL_MOUSEMOTION, SDL_IGNORE);
    sdl_->StartTextInput();
    frame_ = Image(layout_.width, layout_.height, colours::kDesk);
    std::lock_guard lock(wake_mu_);
    accepting_wakes_ = true;
    return true;
}

void WindowFrontEnd::close_window() {
    {
        std::lock_guard lock(wake_mu_);
        accepting_wakes_ = false;
    }
    if (window_) sdl_->DestroyWindow(window_);
    window_ = nullptr;
    sdl_->QuitSubSystem(SDL_INIT_VIDEO);
}

int WindowFrontEnd::text_line(Canvas& canvas, int x, int top, int width, std::u32string_view text, Colour colour) {
    const PixelFont::Metrics m = font_->metrics(layout_.panel_font_px);
    const Canvas::Clip clip(canvas, {x, top, width, m.height + 2});
    font_->draw(canvas, x, top + 1 + m.ascent, layout_.panel_font_px, text, colour);
    return m.height + 2;
}

std::vector<std::u32string> WindowFrontEnd::wrap(std::u32string_view text, int width) {
    std::vector<std::u32string> lines(1);
    for (char32_t c : text) {
        std::u32string& line = lines.back();
        if (!line.empty() && font_->width(layout_.panel_font_px, line + c) > width) {
            // Break after the line's last space when it has one, else inside the word.
            const std::size_t space = line.rfind(U' ');
            std::u32string rest = space == std::u32string::npos || space == 0 ? U"" : line.substr(space + 1);
            if (!rest.empty()) line.erase(space + 1);
            lines.push_back(std::move(rest));
        }
        lines.back() += c;
    }
    return lines;
}

void WindowFrontEnd::draw_body(Canvas& canvas) {
    const Rect& body = layout_.body;
    const int radius = layout_.screen.x - body.x;
    fill_rounded(canvas, body, radius + 2, colours::kBodyEdge);
    fill_rounded(canvas, body.inset(2), radius, colours::kBody);
    const int slot_width = layout_.screen.w / 5;
    const int slot_top = body.y + (layout_.screen.y - body.y) / 2 - 3;
    fill_rounded(canvas, {body.x + (body.w - slot_width) / 2, slot_top, slot_width, 6}, 3, colours::kEarpiece);
    canvas.frame({layout_.screen.x - 2, layout_.screen.y - 2, layout_.screen.w + 4, layout_.screen.h + 4},
                 colours::kEarpiece);

    const PixelFont::Metrics m = font_->metrics(layout_.key_font_px);
    for (const WindowKey& key : layout_.keys) {
        Colour colour = colours::kKey;
        if (key.vk == VK_TSOFT1 || key.vk == VK_TSOFT2) colour = colours::kSoftKey;
        if (key.vk == VK_RETURN) colour = colours::kActionKey;
        if (!key.vk) colour = colours::kPowerKey;
        fill_rounded(canvas, key.rect, key.rect.h / 3, colour);
        const std::u32string label = code_points_of(key.label);
        const int x = key.rect.x + (key.rect.w - font_->width(layout_.key_font_px, label)) / 2;
        const int baseline = key.rect.y + (key.rect.h - m.height) / 2 + m.ascent;
        font_->draw(canvas, x, baseline, layout_.key_font_px, label, colours::kKeyText);
    }
}

void WindowFrontEnd::draw_screen() {
    std::string error;
    if (!render_current_screen(screen_, error)) {
        // Without its font the renderer draws nothing; say why once, where it shows.
        if (error != screen_error_) log_.add(ConsoleLine::Kind::Error, "the screen cannot be drawn: " + error);
        screen_error_ = error;
        Canvas canvas(frame_);
        canvas.fill(layout_.screen, colours::kEarpiece);
        return;
    }
    screen_error_.clear();
    const int scale = options_.scale;
    const Rect& to = layout_.screen;
    for (int y = 0; y < screen_.height; ++y) {
        for (int x = 0; x < screen_.width; ++x) {
            const Colour c = screen_.at(x, y);
            for (int dy = 0; dy < scale; ++dy) {
                Colour* row = &frame_.pixels[static_cast<std::size_t>((to.y + y * scale + dy) * frame_.width + to.x + x * scale)];
                std::fill(row, row + scale, c);
            }
        }
    }
}

void WindowFrontEnd::draw_panel(Canvas& canvas) {
    const Rect& panel = layout_.panel;
    canvas.fill(panel, colours::kPanel);
    canvas.frame(panel, colours::kPanelEdge);
    const int pad = layout_.panel_font_px / 2;
    const int x = panel.x + pad;
    const int width = panel.w - 2 * pad;
    const int lh = line_height();
    int y = panel.y + pad;

    y += text_line(canvas, x, y, width, U"Phone", colours::kHeading);
    const auto rows = panel_rows(read_phone_state(), time_, phone_->host().running());
    int label_width = 0;
    std::vector<std::pair<std::u32string, std::u32string>> shown;
    for (const auto& [label, value] : rows) {
        shown.emplace_back(code_points_of(label), code_points_of(value));
        label_width = std::max(label_width, font_->width(layout_.panel_font_px, shown.back().first));
    }
    label_width += layout_.panel_font_px;
    for (const auto& [label, value] : shown) {
        text_line(canvas, x, y, label_width, label, colours::kLabel);
        y += text_line(canvas, x + label_width, y, width - label_width, value, colours::kText);
    }

    // The bottom: what runs or the last message, then the command line or the keys' help.
    std::vector<std::pair<std::u32string, Colour>> bottom;
    std::string status;
    if (const std::string busy = worker_->busy(); !busy.empty()) status = "running: " + busy;
    if (quitting_) status = "Ending Quillon... (F10 again leaves at once)";
    if (status.empty()) status = message_;
    for (auto& line : wrap(code_points_of(status), width))
        bottom.emplace_back(std::move(line), status == message_ ? colours::kError : colours::kText);
    const bool editing = command_line_.editing();
    const std::u32string last = editing ? code_points_of(":" + command_line_.text() + "_") : code_points_of(kHelp);
    std::vector<std::u32string> last_lines = wrap(last, width);
    if (editing && last_lines.size() > 2) last_lines.erase(last_lines.begin(), last_lines.end() - 2);  // keep the end in view
    const int bar_top = panel.bottom() - pad - static_cast<int>(last_lines.size()) * lh;
    canvas.fill({panel.x + 1, bar_top - 2, panel.w - 2, panel.bottom() - bar_top + 1},
                editing ? colours::kPanel : colours::kHelpBar);
    int by = bar_top;
    for (const auto& line : last_lines)
        by += text_line(canvas, x, by, width, line, editing ? colours::kText : colours::kHelpText);
    int status_top = bar_top - 2 - static_cast<int>(bottom.size()) * lh;
    for (const auto& [line, colour] : bottom) status_top += text_line(canvas, x, status_top, width, line, colour);
    const int events_bottom = bar_top - 2 - static_cast<int>(bottom.size()) * lh;

    y += lh / 2;
    y += text_line(canvas, x, y, width, U"Events", colours::kHeading);
    // The latest lines that fit: an event takes one row, a command's output wraps.
    const int room = std::max(0, (events_bottom - y) / lh);
    std::vector<std::pair<std::u32string, Colour>> lines_shown;
    const std::vector<ConsoleLine> lines = log_.latest(static_cast<std::size_t>(room));
    for (auto it = lines.rbegin(); it != lines.rend() && static_cast<int>(lines_shown.size()) < room; ++it) {
        Colour colour = colours::kText;
        if (it->kind == ConsoleLine::Kind::Command) colour = colours::kCommand;
        if (it->kind == ConsoleLine::Kind::Error) colour = colours::kError;
        if (it->kind == ConsoleLine::Kind::Output || it->kind == ConsoleLine::Kind::Info) colour = colours::kOutput;
        const std::u32string text = code_points_of(it->text);
        std::vector<std::u32string> pieces =
            it->kind == ConsoleLine::Kind::Event ? std::vector<std::u32string>{text} : wrap(text, width);
        for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece) lines_shown.emplace_back(std::move(*piece), colour);
    }
    if (static_cast<int>(lines_shown.size()) > room) lines_shown.resize(static_cast<std::size_t>(room));
    for (auto it = lines_shown.rbegin(); it != lines_shown.rend(); ++it)
        y += text_line(canvas, x, y, width, it->first, it->second);
}

void WindowFrontEnd::compose() {
    Canvas canvas(frame_);
    canvas.fill({0, 0, frame_.width, frame_.height}, colours::kDesk);
    draw_body(canvas);
    draw_screen();
    draw_panel(canvas);
}

void WindowFrontEnd::present() {
    SDL_Surface* surface = sdl_->GetWindowSurface(window_);
    if (!surface) return;  // no surface now (a minimised window): the next expose draws again
    // Image's 0xRRGGBB words are SDL's RGB888.
    sdl_->ConvertPixels(frame_.width, frame_.height, SDL_PIXELFORMAT_RGB888, frame_.pixels.data(), frame_.width * 4,
                        surface->format->format, surface->pixels, surface->pitch);
    sdl_->UpdateWindowSurface(window_);
}

void WindowFrontEnd::request_quit() {
    if (quitting_) {
        leave_now_ = true;
        return;
    }
    quitting_ = true;
    // A command still waiting (`:wait 1h`) would hold the end back behind it.
    phone_->host().cancel_waits();
    worker_->end_quillon();
}

void WindowFrontEnd::request_unattended_end() {
    if (end_deadline_) return;
    end_deadline_ = std::chrono::steady_clock::now() + kUnattendedEndGrace;
    if (!quitting_) request_quit();
}

void WindowFrontEnd::on_signal(int signo) {
    // Ctrl-C where the phone was started is the user's F10 (a second one leaves at
    // once); TERM and HUP come from outside, where no one may send another.
    if (signo == SIGINT) request_quit();
    else request_unattended_end();
}

void WindowFrontEnd::submit_command_line(const std::string& text) {
    TypedLine typed = read_typed_line(text, ++command_number_, log_);
    message_ = typed.message;
    if (typed.action == TypedLine::Action::Exit) request_quit();
    if (typed.action != TypedLine::Action::Run) return;
    recorder_.command(text);
    worker_->run(text, std::move(*typed.command));
}

void WindowFrontEnd::press(const WindowKey& key) {
    message_.clear();
    if (!key.vk) {
        // The power button is no keypad key: it is the `power button` handset command.
        submit_command_line("power button");
        return;
    }
    recorder_.key(*key.vk);
    press_user_key(*key.vk);
}

void WindowFrontEnd::handle_key_down(const SDL_KeyboardEvent& key) {
    const SDL_Keycode sym = key.keysym.sym;
    if (sym == SDLK_F10) {
        request_quit();
        return;
    }
    if (command_line_.editing()) {
        switch (sym) {
            case SDLK_BACKSPACE: command_line_.erase_last(); break;
            case SDLK_RETURN:
            case SDLK_KP_ENTER: submit_command_line(command_line_.enter()); break;
            case SDLK_UP: command_line_.back(); break;
            case SDLK_DOWN: command_line_.forward(); break;
            case SDLK_ESCAPE: command_line_.cancel(); break;
            case SDLK_u:
                if (key.keysym.mod & KMOD_CTRL) command_line_.erase_all();
                break;
            default: break;
        }
        return;
    }
    // Characters come as text, so that `*` and `#` are what the keyboard's layout types.
    if (sym >= 32 && sym < 127) return;
    const std::optional<BYTE> vk = key_by_keyboard(sym == SDLK_KP_ENTER ? "Return" : sdl_->GetKeyName(sym));
    if (!vk) return;
    message_.clear();
    recorder_.key(*vk);
    press_user_key(*vk);
}

void WindowFrontEnd::handle_text(const char* text) {
    const std::u32string typed = code_points_of(text);
    if (command_line_.editing()) {
        for (char32_t c : typed) command_line_.type(c);
        return;
    }
    for (char32_t c : typed) {
        if (c == U':') {
            message_.clear();
            command_line_.open();
            return;  // what follows in the same event belongs to the line
        }
        if (c >= 128) continue;
        const char name[2] = {static_cast<char>(c), 0};
        if (const std::optional<BYTE> vk = key_by_keyboard(name)) {
            message_.clear();
            recorder_.key(*vk);
            press_user_key(*vk);
        }
    }
}

bool WindowFrontEnd::handle(const SDL_Event& event) {
    if (event.type == wake_event_) {
        wake_pending_ = false;
        std::vector<int> came;
        {
            std::lock_guard lock(signals_mu_);
            came.swap(signals_came_);
        }
        for (int signo : came) on_signal(signo);
        return true;
    }
    switch (event.type) {
        // Closing the only window comes as SDL's quit (after a window event that says
        // the same, left alone so that one close is one F10).
        case SDL_QUIT: request_quit(); return true;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_EXPOSED || event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
                present();
            return false;
        case SDL_KEYDOWN: handle_key_down(event.key); return true;
        case SDL_TEXTINPUT: handle_text(event.text.text); return true;
        case SDL_MOUSEBUTTONDOWN:
            if (event.button.button != SDL_BUTTON_LEFT) return false;
            if (const WindowKey* key = key_at(layout_, event.button.x, event.button.y)) {
                if (!command_line_.editing()) press(*key);
                return true;
            }
            return false;
        default: return false;
    }
}

void WindowFrontEnd::loop() {
    bool dirty = true;
    while (!leave_now_) {
        if (worker_->finished()) return;
        if (dirty) {
            compose();
            present();
            dirty = false;
        }
        // The clocks show minutes: wake when the next one begins (in real time, sooner
        // when the clock runs fast, but not more often than ten times a second).
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
        SDL_Event event;
        if (!sdl_->WaitEventTimeout(&event, static_cast<int>(ms))) {
            dirty = true;  // a new minute
            continue;
        }
        do {
            dirty = handle(event) || dirty;
        } while (!leave_now_ && sdl_->PollEvent(&event));
    }
}

void WindowFrontEnd::watch_signals(EndingSignals& signals) {
    for (;;) {
        pollfd fds[2] = {{signals.fd(), POLLIN, 0}, {stop_watcher_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (fds[0].revents & POLLIN) {
            signals.take([this](int signo) {
                std::lock_guard lock(signals_mu_);
                signals_came_.push_back(signo);
            });
            wake();
        }
    }
}

int WindowFrontEnd::run() {
    time_ = PhoneTime();
    // Before any thread starts: they all inherit the blocked ending signals.
    EndingSignals signals;
    std::string error;
    if (!open_window(error)) {
        std::fprintf(stderr, "quillon: cannot open the phone window: %s\n", error.c_str());
        return kExitCommandFailed;
    }
    font_ = PixelFont::load(kSystemFontFile, error);
    if (!font_ || ::pipe2(stop_watcher_, O_CLOEXEC) != 0) {
        if (font_) error = std::string("cannot make a pipe: ") + std::strerror(errno);
        close_window();
        std::fprintf(stderr, "quillon: cannot open the phone window: %s\n", error.c_str());
        return kExitCommandFailed;
    }
    std::thread watcher([this, &signals] { watch_signals(signals); });

    FILE* log_file = options_.log ? std::fopen(options_.log->c_str(), "w") : nullptr;
    if (options_.log && !log_file) log_.add(ConsoleLine::Kind::Error, "cannot write the log " + options_.log->string());
    PhoneOptions phone;
    phone.home_screen = time_;
    phone.launch = [this] { worker_->run("start", Command{cmd::Start{}}); };
    phone.report = [this](const std::string& text) { log_.add(ConsoleLine::Kind::Error, text); };
    phone_ = std::make_unique<Phone>(std::move(phone), [this, log_file](const std::string& line, const Json& event) {
        if (log_file) {
            std::fputs((line + "\n").c_str(), log_file);
            std::fflush(log_file);
        }
        log_.add(ConsoleLine::Kind::Event, describe_event(event));
    });
    worker_ = std::make_unique<CommandWorker>(*phone_, log_, [this] { wake(); });
    set_screen_listener([this] { wake(); });
    set_audio_output(true);

    if (options_.record) {
        if (recorder_.open(*options_.record, error)) recorder_.begin(!options_.no_start);
        else log_.add(ConsoleLine::Kind::Error, error);
    }
    {
        Participation participation;
        phone_->start_services();
        if (!options_.no_start && !phone_->start_quillon(error)) log_.add(ConsoleLine::Kind::Error, "cannot start Quillon: " + error);
    }

    loop();

    if (leave_now_) {
        // The user insisted, or an unattended end ran out of time: leave without waiting
        // for the program or a running command.
        std::fprintf(stderr, "quillon: left without ending Quillon\n");
        std::fflush(nullptr);
        std::_Exit(kExitCommandFailed);
    }
    worker_->stop();
    recorder_.end();
    {
        Participation participation;
        phone_->end(error);  // Quillon has ended in the worker's quit job
    }
    set_screen_listener(nullptr);
    worker_.reset();
    phone_.reset();
    if (log_file) std::fclose(log_file);
    [[maybe_unused]] const ssize_t n = ::write(stop_watcher_[1], "", 1);
    watcher.join();
    ::close(stop_watcher_[0]);
    ::close(stop_watcher_[1]);
    close_window();
    return kExitOk;
}

}  // namespace

std::unique_ptr<FrontEnd> make_window(WindowOptions options) {
    return std::make_unique<WindowFrontEnd>(std::move(options));
}

}  // namespace handset::frontend
