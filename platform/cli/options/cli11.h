// CLI11 for the `quillon` command line, without the standard streams made before main.
//
// CLI11 includes <iostream>, and with libstdc++ before GCC 13 every file that includes
// <iostream> makes cin, cout, cerr and clog before main, and with them the whole C++
// locale: about a twentieth of the CPU of a phone's start, which prints through stdio
// and never needs them. So here the four streams are declared as <iostream> declares
// them, and <iostream> itself is kept out, its static initialiser with it. Code that
// writes to a standard stream first holds a std::ios_base::Init, the object the
// standard provides for making them (main does, for every command line but the
// phone's plain one). Include this before anything that may include <iostream>: where
// <iostream> came first, its initialiser is back.
#pragma once

#include <istream>
#include <ostream>

#if defined(__GLIBCXX__) && _GLIBCXX_RELEASE < 13 && !defined(_GLIBCXX_IOSTREAM)
#define _GLIBCXX_IOSTREAM 1
namespace std {
extern istream cin;
extern ostream cout;
extern ostream cerr;
extern ostream clog;
}  // namespace std
#endif

#include <CLI/CLI.hpp>
