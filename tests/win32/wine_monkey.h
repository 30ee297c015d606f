// quillon-driver's monkey mode: random ordinary use of a running Quillon.exe through its
// real windows, the registry and the processes around it, checked after every step.
#pragma once

#include <windows.h>

#include <string>

// The driver's text helpers, which the monkey shares.
std::string utf8(const std::wstring& text);
std::wstring text_of(HWND window);  // a window's text, up to 511 characters

// `quillon-driver monkey --seed N [--steps K] [--trace WINE_LOG] [--replay FILE] [--verbose 1]`,
// where --trace names the file Wine's debug log of winmm goes to (its sounds are checked
// at the end) and --verbose prints each step as it is taken. Exit status 0 when every invariant
// held, 1 with the broken one and the run's steps as a script that --replay runs again,
// 2 on a malformed command or script.
int monkey_main(int argc, wchar_t** argv);
