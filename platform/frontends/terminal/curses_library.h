// The host's ncursesw, loaded when the terminal phone starts rather than with the
// emulator: a headless phone, `quillon reg` and `quillon ctl` never map curses or its
// terminfo library, which took a tenth of the CPU time of a headless start.
//
// Include after the platform headers: curses defines TRUE and FALSE, which the platform
// headers declare themselves. The constants (KEY_*, A_*, COLOR_*) come from the header;
// every call goes through the table.
#pragma once

#define NCURSES_WIDECHAR 1
#define NCURSES_NOMACROS 1
#include <ncursesw/curses.h>

#include <string>

#include "platform/handset/core/dynamic_library.h"

namespace frontends {

// The curses functions the terminal phone uses, and the two variables it reads.
struct Curses : handset::LibraryFunctions {
    handset::LibraryFunction<decltype(::set_escdelay)> set_escdelay{*this, "set_escdelay"};
    handset::LibraryFunction<decltype(::initscr)> initscr{*this, "initscr"};
    handset::LibraryFunction<decltype(::endwin)> endwin{*this, "endwin"};
    handset::LibraryFunction<decltype(::cbreak)> cbreak{*this, "cbreak"};
    handset::LibraryFunction<decltype(::noecho)> noecho{*this, "noecho"};
    handset::LibraryFunction<decltype(::keypad)> keypad{*this, "keypad"};
    handset::LibraryFunction<decltype(::nodelay)> nodelay{*this, "nodelay"};
    handset::LibraryFunction<decltype(::has_colors)> has_colors{*this, "has_colors"};
    handset::LibraryFunction<decltype(::start_color)> start_color{*this, "start_color"};
    handset::LibraryFunction<decltype(::use_default_colors)> use_default_colors{*this, "use_default_colors"};
    handset::LibraryFunction<decltype(::init_pair)> init_pair{*this, "init_pair"};
    handset::LibraryFunction<decltype(::COLOR_PAIR)> color_pair{*this, "COLOR_PAIR"};
    handset::LibraryFunction<decltype(::getmaxy)> getmaxy{*this, "getmaxy"};
    handset::LibraryFunction<decltype(::getmaxx)> getmaxx{*this, "getmaxx"};
    handset::LibraryFunction<decltype(::erase)> erase{*this, "erase"};
    handset::LibraryFunction<decltype(::refresh)> refresh{*this, "refresh"};
    handset::LibraryFunction<decltype(::move)> move{*this, "move"};
    handset::LibraryFunction<decltype(::curs_set)> curs_set{*this, "curs_set"};
    handset::LibraryFunction<decltype(::attron)> attron{*this, "attron"};
    handset::LibraryFunction<decltype(::attroff)> attroff{*this, "attroff"};
    handset::LibraryFunction<decltype(::mvaddch)> mvaddch{*this, "mvaddch"};
    handset::LibraryFunction<decltype(::mvaddstr)> mvaddstr{*this, "mvaddstr"};
    handset::LibraryFunction<decltype(::mvhline)> mvhline{*this, "mvhline"};
    handset::LibraryFunction<decltype(::mvvline)> mvvline{*this, "mvvline"};
    handset::LibraryFunction<decltype(::get_wch)> get_wch{*this, "get_wch"};

    // The standard screen; null until initscr().
    WINDOW* screen() const { return *stdscr_; }
    // The line-drawing characters (ACS_ULCORNER and the like), by the letters curses
    // files them under; valid once initscr() has filled its table.
    enum class Line : char {
        UpperLeft = 'l',
        UpperRight = 'k',
        LowerLeft = 'm',
        LowerRight = 'j',
        Horizontal = 'q',
        Vertical = 'x',
    };
    chtype line(Line which) const { return acs_map_[static_cast<unsigned char>(which)]; }

    WINDOW** stdscr_ = nullptr;
    chtype* acs_map_ = nullptr;
};

// ncursesw, loaded on the first call; null with `error` when the host has none that
// serves. Call from one thread (the terminal's).
inline const Curses* curses(std::string& error) {
    static Curses api;
    if (api.stdscr_) return &api;
    void* library = handset::open_library("libncursesw.so.6");
    if (!library) {
        error = "ncurses is not installed (libncursesw.so.6, Debian package libncursesw6)";
        return nullptr;
    }
    // The variables live in the terminfo library ncursesw depends on; the handle's
    // lookup covers it.
    auto* const screen = static_cast<WINDOW**>(::dlsym(library, "stdscr"));
    api.acs_map_ = static_cast<chtype*>(::dlsym(library, "acs_map"));
    if (!screen || !api.acs_map_ || !api.resolve_in(library)) {
        error = "the host's ncursesw lacks functions the terminal needs (ncurses 6 or later)";
        return nullptr;
    }
    api.stdscr_ = screen;  // last: it marks the table complete
    return &api;
}

}  // namespace frontends
