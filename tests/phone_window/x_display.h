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

// Waits until an X event is ready to read, or the deadline passes.
inline bool wait_for_x(Display* display, Clock::time_point deadline) {
    if (XPending(display) > 0) return true;
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 && ::poll(&fd, 1, static_cast<int>(left)) > 0 && XPending(display) > 0;
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
