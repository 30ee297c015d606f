// The phone window (SDL2): the handset's body with its screen in pixels and clickable
// keys below it, and beside it what the terminal phone shows in its panel: the device
// state with the handset controls, the latest events and the command line for the
// handset commands. The panel is drawn in a Latin interface font, so that device paths
// show their backslashes; the handset's screen keeps its Korean font.
//
// The window is drawn in software into one image, the handset's screen taken as the
// pixel renderer draws it and enlarged by whole pixels, and copied to the window's
// surface: no GPU driver is mapped. Only the UI thread touches SDL's video. Other
// threads (the event log, the screen model, the command worker, the watcher of the
// ending signals) ask for a redraw by pushing one SDL user event, never more than one
// at a time; the UI thread sleeps in SDL_WaitEventTimeout until such an event, input,
// or the next minute of the clocks; the pointer's moves wake it but redraw only when
// the event line under it changes. Ending signals and closing the window end the phone
// as F10 does, through the same end as the terminal phone.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/frontends/interactive/console.h"
#include "platform/frontends/frontend.h"
#include "platform/frontends/interactive/handset_controls.h"
#include "platform/frontends/interactive/interactive.h"
#include "platform/phone/keys.h"
#include "platform/phone/phone.h"
#include "platform/handset/shell/phone_state.h"
#include "platform/frontends/window/sdl_video.h"
#include "platform/frontends/interactive/ending_signals.h"
#include "platform/frontends/window/window_layout.h"
#include "platform/frontends/window/window_paint.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/core/device.h"
#include "platform/handset/core/utf.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/display/pixel_font.h"
#include "platform/handset/display/pixel_screen.h"
#include "platform/handset/window/wm.h"

using namespace handset;
using namespace handset::shell;
using namespace phone;

namespace frontends {
namespace {

// Wheel notches scroll the events this many lines.
constexpr std::size_t kLinesPerNotch = 3;

std::string window_help() {
    return "F1/F2 soft keys  Esc back  Enter OK  arrows  * # 0-9  : command  F10 quit  " + control_keys_help() +
           "  F12 screen PNG  Shift+F12 window PNG  wheel, End: events";
}

// The first name `prefix`-N.png that is not taken in the working folder.
std::filesystem::path numbered_file(const std::string& prefix) {
    for (int n = 1;; ++n) {
        const std::filesystem::path file = prefix + "-" + std::to_string(n) + ".png";
        std::error_code ec;
        if (!std::filesystem::exists(file, ec) && !ec) return file;
    }
}

class WindowFrontEnd : public FrontEnd {
public:
    explicit WindowFrontEnd(WindowOptions options)
        : requested_scale_(options.scale),
          layout_(window_layout(options.scale ? options.scale : kDefaultWindowScale)),
          phone_(std::move(options), [this] { wake(); }) {}

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
    bool click(int x, int y);
    // A new window size: the largest scale that fits it.
    void resized();
    // The pointer moved to (x, y); true when that changes what the panel shows.
    bool point(int x, int y);
    void scroll(long long lines);
    // F12: the screen as `screenshot` writes it; with `whole`, the window.
    void write_picture(bool whole);

    void compose();
    void present();
    // The panel's content now.
    PanelView panel_view();

    // Signal watcher thread: hands each ending signal to the UI thread.
    void watch_signals(EndingSignals& signals);

    int requested_scale_;  // 0: the default, fitted to the display
    WindowLayout layout_;
    InteractivePhone phone_;

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
    std::optional<WindowPainter> painter_;  // once the font is there
    Image frame_;  // the window's size, at least the layout's
    Image screen_;
    std::string screen_error_;
    std::size_t scroll_ = 0;          // event lines back from the newest
    unsigned long long seen_lines_ = 0;  // the log's count of lines at the last drawing
    std::optional<std::pair<int, int>> pointer_;
    std::vector<ShownLine> shown_;    // the event lines as last drawn
    const ShownLine* hovered_ = nullptr;  // in shown_: the shortened line under the pointer
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
    // A click on the window while it is not in front presses what it hits, as the first
    // click after the window comes to the front does too: SDL would drop that one.
    sdl_->SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
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
    // Without --scale, the default or the largest scale that fits the display; with one
    // the display cannot hold, the largest that fits, and a word in the panel.
    SDL_Rect usable{};
    if (sdl_->GetDisplayUsableBounds(0, &usable) == 0) {
        const int fits = scale_that_fits(usable.w, usable.h);
        if (requested_scale_ == 0) {
            layout_ = window_layout(std::min(kDefaultWindowScale, fits));
        } else if (requested_scale_ > fits) {
            layout_ = window_layout(fits);
            phone_.log().add(ConsoleLine::Kind::Error, "--scale " + std::to_string(requested_scale_) +
                                                           " makes a window larger than the display (" +
                                                           std::to_string(usable.w) + " x " + std::to_string(usable.h) +
                                                           "); scale " + std::to_string(fits) + " fits it");
        }
    }
    const std::string title =
        "Quillon handset emulator - model " + device().model() + " - device " + device().folder().string();
    window_ = sdl_->CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, layout_.width,
                                 layout_.height, SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE);
    if (window_) wake_event_ = sdl_->RegisterEvents(1);
    if (!window_ || wake_event_ == static_cast<Uint32>(-1)) {
        error = sdl_->GetError();
        close_window();
        return false;
    }
    sdl_->StartTextInput();
    resized();
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

PanelView WindowFrontEnd::panel_view() {
    PanelView view;
    const PhoneState state = read_phone_state();
    view.rows = panel_rows(state, phone_.time(), phone_.phone().host().running());
    for (const WindowControl& c : layout_.controls) view.enabled.push_back(c.control->command(state).has_value());
    view.status = phone_.status();
    view.status_is_error = phone_.status_is_error();
    view.editing = phone_.command_line().editing();
    view.last_line = view.editing ? ":" + phone_.command_line().text() + "_" : window_help();
    // A new line brings the list back to the newest.
    if (const unsigned long long lines = phone_.log().added(); lines != seen_lines_) {
        seen_lines_ = lines;
        scroll_ = 0;
    }
    view.scroll = scroll_;
    view.pointer = pointer_;
    return view;
}

void WindowFrontEnd::compose() {
    Canvas canvas(frame_);
    painter_->desk(canvas, frame_);
    painter_->body(canvas);
    std::string error;
    const bool drawn = render_current_screen(screen_, error);
    if (!drawn && error != screen_error_) {
        // Without its font the renderer draws nothing; say why once, where it shows.
        phone_.log().add(ConsoleLine::Kind::Error, "the screen cannot be drawn: " + error);
    }
    screen_error_ = drawn ? std::string() : error;
    painter_->screen(frame_, drawn ? &screen_ : nullptr);
    shown_ = painter_->panel(canvas, panel_view(), phone_.log());
    hovered_ = nullptr;
    if (pointer_)
        for (const ShownLine& line : shown_)
            if (line.shortened && line.rect.contains(pointer_->first, pointer_->second)) hovered_ = &line;
}

void WindowFrontEnd::present() {
    SDL_Surface* surface = sdl_->GetWindowSurface(window_);
    if (!surface) return;  // no surface now (a minimised window): the next expose draws again
    // Image's 0xRRGGBB words are SDL's RGB888. A window smaller than the smallest
    // layout shows its top left.
    sdl_->ConvertPixels(std::min(frame_.width, surface->w), std::min(frame_.height, surface->h),
                        SDL_PIXELFORMAT_RGB888, frame_.pixels.data(), frame_.width * 4, surface->format->format,
                        surface->pixels, surface->pitch);
    sdl_->UpdateWindowSurface(window_);
}

void WindowFrontEnd::press(const WindowKey& key) {
    if (!key.vk) {
        // The power button is no keypad key: it is the `power button` handset command.
        phone_.submit_command_line("power button");
        return;
    }
    phone_.press(*key.vk);
}

bool WindowFrontEnd::click(int x, int y) {
    if (const WindowKey* key = key_at(layout_, x, y)) {
        if (!phone_.command_line().editing()) press(*key);
        return true;
    }
    if (const WindowControl* control = control_at(layout_, x, y)) {
        phone_.use_control(*control->control);
        return true;
    }
    return false;
}

void WindowFrontEnd::resized() {
    int width = 0, height = 0;
    sdl_->GetWindowSize(window_, &width, &height);
    const int scale = scale_that_fits(width, height);
    if (scale != layout_.scale) layout_ = window_layout(scale);  // the painter holds layout_ by reference
    frame_ = Image(std::max(width, layout_.width), std::max(height, layout_.height), 0);
}

bool WindowFrontEnd::point(int x, int y) {
    pointer_ = std::pair{x, y};
    const ShownLine* under = nullptr;
    for (const ShownLine& line : shown_)
        if (line.shortened && line.rect.contains(x, y)) under = &line;
    return under != hovered_;
}

void WindowFrontEnd::scroll(long long lines) {
    const long long most = std::max<long long>(0, static_cast<long long>(phone_.log().size()) - 1);
    scroll_ = static_cast<std::size_t>(std::clamp(static_cast<long long>(scroll_) + lines, 0LL, most));
}

void WindowFrontEnd::write_picture(bool whole) {
    const std::filesystem::path file = numbered_file(whole ? "quillon-window" : "quillon-screen");
    std::string error;
    bool ok;
    if (whole) {
        // The window as it shows now, without the parts of the frame beyond its edges.
        int width = 0, height = 0;
        sdl_->GetWindowSize(window_, &width, &height);
        Image shown(std::min(width, frame_.width), std::min(height, frame_.height), 0);
        for (int y = 0; y < shown.height; ++y)
            std::copy_n(&frame_.pixels[static_cast<std::size_t>(y * frame_.width)], shown.width,
                        &shown.pixels[static_cast<std::size_t>(y * shown.width)]);
        ok = write_png(shown, file, error);
    } else {
        ok = write_screenshot(file, error);
    }
    if (ok) phone_.log().add(ConsoleLine::Kind::Info, "wrote " + std::filesystem::absolute(file).string());
    else phone_.log().add(ConsoleLine::Kind::Error, "cannot write " + file.string() + ": " + error);
}

void WindowFrontEnd::handle_key_down(const SDL_KeyboardEvent& key) {
    const SDL_Keycode sym = key.keysym.sym;
    CommandLine& command_line_ = phone_.command_line();
    if (sym == SDLK_F10) {
        phone_.request_quit();
        return;
    }
    if (command_line_.editing()) {
        switch (sym) {
            case SDLK_BACKSPACE: command_line_.erase_last(); break;
            case SDLK_RETURN:
            case SDLK_KP_ENTER: phone_.submit_command_line(command_line_.enter()); break;
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
    if (sym == SDLK_F12) {
        write_picture(key.keysym.mod & KMOD_SHIFT);
        return;
    }
    if (sym == SDLK_END) {
        scroll_ = 0;
        return;
    }
    const std::string name = sym == SDLK_KP_ENTER ? "Return" : sdl_->GetKeyName(sym);
    if (const HandsetControl* control = control_by_key(name)) {
        phone_.use_control(*control);
        return;
    }
    if (const std::optional<BYTE> vk = key_by_keyboard(name)) phone_.press(*vk);
}

void WindowFrontEnd::handle_text(const char* text) {
    const std::u32string typed = code_points_of(text);
    CommandLine& command_line_ = phone_.command_line();
    if (command_line_.editing()) {
        for (char32_t c : typed) command_line_.type(c);
        return;
    }
    for (char32_t c : typed) {
        if (c == U':') {
            phone_.clear_message();
            command_line_.open();
            return;  // what follows in the same event belongs to the line
        }
        if (c >= 128) continue;
        const char name[2] = {static_cast<char>(c), 0};
        if (const HandsetControl* control = control_by_key(name)) phone_.use_control(*control);
        else if (const std::optional<BYTE> vk = key_by_keyboard(name)) phone_.press(*vk);
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
        for (int signo : came) phone_.on_signal(signo);
        return true;
    }
    switch (event.type) {
        // Closing the only window comes as SDL's quit (after a window event that says
        // the same, left alone so that one close is one F10).
        case SDL_QUIT: phone_.request_quit(); return true;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
                resized();
                return true;
            }
            if (event.window.event == SDL_WINDOWEVENT_LEAVE && pointer_) {
                pointer_.reset();
                return hovered_ != nullptr;
            }
            if (event.window.event == SDL_WINDOWEVENT_EXPOSED) present();
            return false;
        case SDL_MOUSEMOTION: return point(event.motion.x, event.motion.y);
        case SDL_MOUSEWHEEL:
            scroll(event.wheel.y * static_cast<long long>(kLinesPerNotch));
            return event.wheel.y != 0;
        case SDL_KEYDOWN: handle_key_down(event.key); return true;
        case SDL_TEXTINPUT: handle_text(event.text.text); return true;
        case SDL_MOUSEBUTTONDOWN:
            return event.button.button == SDL_BUTTON_LEFT && click(event.button.x, event.button.y);
        default: return false;
    }
}

void WindowFrontEnd::loop() {
    bool dirty = true;
    while (!phone_.finished()) {
        if (dirty) {
            compose();
            present();
            dirty = false;
        }
        const long long ms = phone_.next_look_ms();
        if (phone_.leaving_now()) return;
        SDL_Event event;
        if (!sdl_->WaitEventTimeout(&event, static_cast<int>(ms))) {
            dirty = true;  // a new minute
            continue;
        }
        do {
            dirty = handle(event) || dirty;
        } while (!phone_.leaving_now() && sdl_->PollEvent(&event));
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
    // Before any thread starts: they all inherit the blocked ending signals.
    EndingSignals signals;
    std::string error;
    if (!open_window(error)) {
        std::fprintf(stderr, "quillon: cannot open the phone window: %s\n", error.c_str());
        return kExitCommandFailed;
    }
    std::string font_warning;
    font_ = load_panel_font(font_warning, error);
    if (!font_warning.empty()) phone_.log().add(ConsoleLine::Kind::Error, font_warning);
    if (!font_ || ::pipe2(stop_watcher_, O_CLOEXEC) != 0) {
        if (font_) error = std::string("cannot make a pipe: ") + std::strerror(errno);
        close_window();
        std::fprintf(stderr, "quillon: cannot open the phone window: %s\n", error.c_str());
        return kExitCommandFailed;
    }
    painter_.emplace(layout_, *font_);
    std::thread watcher([this, &signals] { watch_signals(signals); });

    phone_.start();

    loop();

    if (phone_.leaving_now()) {
        // The user insisted, or an unattended end ran out of time: leave without waiting
        // for the program or a running command.
        std::fprintf(stderr, "quillon: left without ending Quillon\n");
        std::fflush(nullptr);
        std::_Exit(kExitCommandFailed);
    }
    phone_.end();
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

}  // namespace frontends
