// quillon-driver.exe: drives and reads another program's real windows, for the tests
// that run Quillon.exe under Wine. One command a call; output on stdout as JSON or a
// single value; exit status 0 when the command did what it says, 1 when not, 2 on a
// malformed command.
//
//   quillon-driver wait TITLE [SECONDS]      a shown top-level window TITLE exists
//   quillon-driver gone TITLE [SECONDS]      no shown top-level window TITLE is left
//                                            (shown: visible and not minimised)
//   quillon-driver state TITLE               {"visible","iconic","enabled","foreground"}
//   quillon-driver controls TITLE            the window's controls, as the handset's
//                                            `controls` command prints them
//   quillon-driver text TITLE ID             the text of control ID
//   quillon-driver command TITLE ID          the window gets WM_COMMAND ID (a menu pick)
//   quillon-driver send TITLE ID             the same sent, as a program that waits for the
//                                            answer sends it
//   quillon-driver click TITLE ID            a user click on control ID (BM_CLICK)
//   quillon-driver select TITLE ID INDEX     the user picks entry INDEX of list ID
//   quillon-driver close TITLE               the window gets WM_CLOSE
//   quillon-driver exitcode PID [SECONDS]    waits for process PID and prints its exit code
//   quillon-driver input -                   the user touches a key (Shift, through SendInput)
//   quillon-driver monkey --seed N ...       random use, checked step by step (wine_monkey.h)
//
// The desktop gives a program no notice when another program's window appears, so the
// waits look again every 50 ms until their deadline (10 s unless given).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/win32/wine_monkey.h"

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

std::wstring text_of(HWND window) {
    wchar_t buffer[512]{};
    GetWindowTextW(window, buffer, 512);
    return buffer;
}

namespace {

constexpr DWORD kLookAgainMs = 50;
constexpr DWORD kSendTimeoutMs = 10000;

std::string json_string(const std::wstring& text) {
    std::string out = "\"";
    for (char c : utf8(text)) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            continue;
        }
        out += c;
    }
    return out + "\"";
}

std::wstring class_of(HWND window) {
    wchar_t buffer[64]{};
    GetClassNameW(window, buffer, 64);
    return buffer;
}

struct Search {
    const wchar_t* title;
    HWND found;
};

// The first shown top-level window with the title: a program's hidden helper windows, a
// minimised window and a window on its way out do not count.
HWND find_visible(const wchar_t* title) {
    Search search{title, nullptr};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            if (!IsWindowVisible(window) || IsIconic(window) || text_of(window) != s->title) return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Any top-level window with the title, shown or not.
HWND find_any(const wchar_t* title) { return FindWindowW(nullptr, title); }

DWORD deadline_ms(int argc, wchar_t** argv, int index) {
    return index < argc ? static_cast<DWORD>(_wtoi(argv[index])) * 1000 : 10000;
}

template <class Done>
bool wait_until(DWORD limit_ms, Done done) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= limit_ms) return false;
        Sleep(kLookAgainMs);
    }
    return true;
}

HWND require(const wchar_t* title) {
    HWND window = find_any(title);
    if (window == nullptr) std::printf("no window \"%s\"\n", utf8(title).c_str());
    return window;
}

std::string kind_of(HWND control) {
    const std::wstring cls = class_of(control);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    if (_wcsicmp(cls.c_str(), L"ComboBox") == 0) return "combobox";
    if (_wcsicmp(cls.c_str(), L"Button") == 0) {
        const LONG type = style & BS_TYPEMASK;
        if (type == BS_GROUPBOX) return "groupbox";
        if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX) return "checkbox";
        return "button";
    }
    if (_wcsicmp(cls.c_str(), L"Static") == 0) return (style & SS_TYPEMASK) == SS_BITMAP ? "picture" : "static";
    return utf8(cls);
}

int print_controls(HWND window) {
    std::string out = "{\"window\":" + json_string(text_of(window)) + ",\"controls\":[";
    bool first = true;
    for (HWND c = GetWindow(window, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        const std::string kind = kind_of(c);
        out += first ? "" : ",";
        first = false;
        out += "{\"id\":" + std::to_string(GetDlgCtrlID(c)) + ",\"kind\":\"" + kind + "\"";
        if (kind == "combobox") {
            out += ",\"items\":[";
            const int count = static_cast<int>(SendMessageW(c, CB_GETCOUNT, 0, 0));
            for (int i = 0; i < count; ++i) {
                const int length = static_cast<int>(SendMessageW(c, CB_GETLBTEXTLEN, i, 0));
                std::wstring item(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
                SendMessageW(c, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()));
                item.resize(wcslen(item.c_str()));
                out += (i ? "," : "") + json_string(item);
            }
            out += "],\"selected\":" + std::to_string(SendMessageW(c, CB_GETCURSEL, 0, 0));
        } else {
            out += ",\"text\":" + json_string(text_of(c));
        }
        if (kind == "checkbox")
            out += std::string(",\"checked\":") + (SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED ? "true" : "false");
        out += std::string(",\"enabled\":") + (IsWindowEnabled(c) ? "true" : "false");
        out += std::string(",\"visible\":") + (IsWindowVisible(c) ? "true" : "false") + "}";
    }
    std::printf("%s]}\n", out.c_str());
    return 0;
}

// Sends and waits for the answer; a handler that opens a modal window of its own does not
// hold the driver beyond the timeout.
bool send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, message, wparam, lparam, SMTO_NORMAL, kSendTimeoutMs, &result) != 0;
}

int usage() {
    std::printf("usage: quillon-driver wait|gone|state|controls|text|command|send|click|select|close|exitcode|input|monkey ...\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 2 && std::wstring(argv[1]) == L"monkey") return monkey_main(argc, argv);
    if (argc < 3) return usage();
    const std::wstring verb = argv[1];
    const wchar_t* title = argv[2];

    if (verb == L"wait") {
        HWND found = nullptr;
        if (!wait_until(deadline_ms(argc, argv, 3), [&] { return (found = find_visible(title)) != nullptr; })) {
            std::printf("no window \"%s\"\n", utf8(title).c_str());
            return 1;
        }
        std::printf("%p\n", static_cast<void*>(found));
        return 0;
    }
    if (verb == L"gone") {
        if (!wait_until(deadline_ms(argc, argv, 3), [&] { return find_visible(title) == nullptr; })) {
            std::printf("window \"%s\" is still there\n", utf8(title).c_str());
            return 1;
        }
        return 0;
    }
    if (verb == L"input") {
        INPUT keys[2]{};
        keys[0].type = keys[1].type = INPUT_KEYBOARD;
        keys[0].ki.wVk = keys[1].ki.wVk = VK_SHIFT;
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        return SendInput(2, keys, sizeof(INPUT)) == 2 ? 0 : 1;
    }
    if (verb == L"exitcode") {
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                     static_cast<DWORD>(_wtoi(title)));
        if (process == nullptr) {
            std::printf("no process %ls\n", title);
            return 1;
        }
        const bool ended = WaitForSingleObject(process, deadline_ms(argc, argv, 3)) == WAIT_OBJECT_0;
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        CloseHandle(process);
        if (!ended) {
            std::printf("process %ls still runs\n", title);
            return 1;
        }
        std::printf("%lu\n", code);
        return 0;
    }

    HWND window = require(title);
    if (window == nullptr) return 1;
    if (verb == L"state") {
        std::printf("{\"visible\":%s,\"iconic\":%s,\"enabled\":%s,\"foreground\":%s}\n",
                    IsWindowVisible(window) ? "true" : "false", IsIconic(window) ? "true" : "false",
                    IsWindowEnabled(window) ? "true" : "false",
                    GetForegroundWindow() == window ? "true" : "false");
        return 0;
    }
    if (verb == L"controls") return print_controls(window);
    if (verb == L"close") return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    if (argc < 4) return usage();
    const int id = _wtoi(argv[3]);
    if (verb == L"text") {
        HWND control = GetDlgItem(window, id);
        if (control == nullptr) return 1;
        std::printf("%s\n", utf8(text_of(control)).c_str());
        return 0;
    }
    if (verb == L"command") return PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0) ? 0 : 1;
    if (verb == L"send") return send(window, WM_COMMAND, MAKEWPARAM(id, 0), 0) ? 0 : 1;

    HWND control = GetDlgItem(window, id);
    if (control == nullptr) {
        std::printf("no control %d in \"%s\"\n", id, utf8(title).c_str());
        return 1;
    }
    if (!IsWindowEnabled(control)) {
        std::printf("control %d is disabled\n", id);
        return 1;
    }
    if (verb == L"click") return send(control, BM_CLICK, 0, 0) ? 0 : 1;
    if (verb == L"select" && argc >= 5) {
        const int index = _wtoi(argv[4]);
        if (!send(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0)) return 1;
        return send(window, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(control)) ? 0 : 1;
    }
    return usage();
}
