// What the phone window's tests share: finding Xvfb, waiting on the X connection with a
// limit, and pointer clicks sent to a window as the X server would deliver them.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "common/child_process.h"

// Xlib defines None, Bool and Status as macros: include this after everything else.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>

namespace qtest {

inline std::optional<std::filesystem::path> find_program(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::filesystem::path candidate = std::filesystem::path(dirs.substr(start, end - start)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return std::nullopt;
}

// A connection to the Xvfb that `server` runs (with -displayfd 1), once it says its
// display's number (":N", in `name`); null when it does not or cannot be reached.
inline Display* connect_xvfb(Child& server, std::string& name) {
    if (!server.started()) return nullptr;
    const std::optional<std::string> number = server.next_line();
    if (!number || number->empty()) return nullptr;
    name = ":" + *number;
    return XOpenDisplay(name.c_str());
}

// Waits until an X event is ready to read, or the deadline passes.
inline bool wait_for_x(Display* display, Clock::time_point deadline) {
    if (XPending(display) > 0) return true;
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 && ::poll(&fd, 1, static_cast<int>(left)) > 0 && XPending(display) > 0;
}

// The environment of a phone window on `display`, with SDL's sound silent.
inline void use_display(const std::string& display, const std::string& no_bus_socket) {
    ::setenv("DISPLAY", display.c_str(), 1);
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    // Xvfb comes without a session bus. Without an address, libdbus (which SDL asks for
    // the desktop's input method) tries X11 autolaunch, whose failure leaks a buffer inside
    // libdbus; an address with no bus behind it fails plainly.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + no_bus_socket).c_str(), 1);
}

// The first window mapped on a root that hears of its children (SubstructureNotifyMask);
// 0 when none is before the deadline.
inline Window await_window(Display* display, Clock::time_point deadline) {
    while (wait_for_x(display, deadline)) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify) return event.xmap.window;
    }
    return 0;
}

// The window manager's close: WM_DELETE_WINDOW, which SDL takes as its quit.
inline void close_window(Display* display, Window window) {
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = window;
    close.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &close);
    XFlush(display);
}

// A left click at (x, y) of `window`: the pointer moves there first, as SDL takes a
// button's position from the last motion.
inline void click_at(Display* display, Window window, int x, int y) {
    XEvent motion{};
    motion.xmotion.type = MotionNotify;
    motion.xmotion.display = display;
    motion.xmotion.window = window;
    motion.xmotion.root = DefaultRootWindow(display);
    motion.xmotion.x = x;
    motion.xmotion.y = y;
    motion.xmotion.same_screen = True;
    XSendEvent(display, window, False, PointerMotionMask, &motion);
    for (const int type : {ButtonPress, ButtonRelease}) {
        XEvent button{};
        button.xbutton.type = type;
        button.xbutton.display = display;
        button.xbutton.window = window;
        button.xbutton.root = DefaultRootWindow(display);
        button.xbutton.x = x;
        button.xbutton.y = y;
        button.xbutton.button = Button1;
        button.xbutton.state = type == ButtonRelease ? Button1Mask : 0;
        button.xbutton.same_screen = True;
        XSendEvent(display, window, False, type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &button);
    }
    XFlush(display);
}

}  // namespace qtest
