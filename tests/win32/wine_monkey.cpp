// The monkey mode of quillon-driver: random ordinary use of Quillon.exe under Wine.
//
// A run prepares the phone's registry (the carrier's phone-book entry in one of its two
// forms, the ten settings, the state values), starts Quillon.exe and then takes steps
// drawn from a seed: keys to the focused window, menu commands, clicks and list picks in
// the settings dialogs, closing windows, second starts and "프로그램 종료", changes to
// the state values and the power manager's idle time, the mail client starting and
// ending. A step is one line of a small script language, so a failing run prints itself
// as a script that --replay runs again. The draw looks at the live windows (which
// dialog is in front, whether the mail client runs) so that most steps land somewhere;
// a replayed step that misses is refused and the run goes on.
//
// After every step the invariants are read from the real system: the processes, the
// windows and their controls, the registry and the Startup folder. A reading that breaks
// one is taken again after a short pause, since a step's effects may still be under way
// in Quillon's thread; only a breach that stays is reported. At the end, Wine's debug
// log of winmm (its timestamps are the same tick count as GetTickCount) is held against the
// timeline of the counts this driver wrote: a reminder sounds only while its count is
// pending and no call is in progress, and the count sound names the count.
#include "tests/win32/wine_monkey.h"

#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/cli/monkey/dice.h"
#include "res/program_facts.h"
#include "res/resources.h"

// The resource table comes with the program's view of the platform, which routes some of
// the desktop's calls through the phone's meanings; this driver means the desktop's own.
#undef OpenProcess
#undef GetModuleFileNameW
#undef GetFileAttributesW
#undef DeleteFileW
#undef CreateFileW
#undef SetForegroundWindow

namespace {

using cli::monkey::Dice;

constexpr DWORD kAnswerMs = 5000;     // Quillon must answer a sent message within this
constexpr DWORD kSendMs = 2000;       // a click's send; a message box may hold it longer
constexpr DWORD kGraceMs = 1500;      // a count read before a write may still sound after it
constexpr DWORD kRecheckMs = 300;     // a breach is read again after this
constexpr DWORD kStartMs = 30000;     // a first start shows its window within this
constexpr DWORD kSecondStartMs = 20000;
constexpr DWORD kEndMs = 10000;       // a window that has gone takes its process within this
constexpr wchar_t kMailTitle[] = L"e-mail";
constexpr wchar_t kPhoneKey[] = L"System\\State\\Phone";
constexpr wchar_t kSmsKey[] = L"System\\State\\Messages\\SMS\\Unread";
constexpr wchar_t kTimeoutsKey[] = L"System\\CurrentControlSet\\Control\\Power\\Timeouts";
constexpr std::array<const wchar_t*, 2> kEntryKeys{kSktEntryKey, kKtfEntryKey};

std::wstring wide(const std::string& text) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

// ---- the registry ----

bool set_dword(HKEY root, const wchar_t* key, const wchar_t* name, DWORD value) {
    return RegSetKeyValueW(root, key, name, REG_DWORD, &value, sizeof value) == ERROR_SUCCESS;
}

std::optional<DWORD> get_dword(HKEY root, const wchar_t* key, const wchar_t* name) {
    DWORD value = 0, size = sizeof value, type = 0;
    HKEY k = nullptr;
    if (RegOpenKeyExW(root, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return std::nullopt;
    const LONG rc = RegQueryValueExW(k, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return std::nullopt;
    return value;
}

std::optional<std::vector<BYTE>> get_bytes(HKEY key, const wchar_t* name) {
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    std::vector<BYTE> data(size);
    if (RegQueryValueExW(key, name, nullptr, nullptr, data.data(), &size) != ERROR_SUCCESS) return std::nullopt;
    data.resize(size);
    return data;
}

std::vector<BYTE> from_hex(const std::string& hex) {
    std::vector<BYTE> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<BYTE>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// ---- processes and windows ----

std::vector<DWORD> processes_named(const wchar_t* name) {
    std::vector<DWORD> pids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return pids;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, name) == 0) pids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return pids;
}

// A message sent to another process's window, answered within kSendMs; nothing when the
// window's thread is busy (the answer check reports a thread that stays so).
std::optional<LRESULT> ask(HWND window, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, message, wparam, lparam, SMTO_NORMAL, kSendMs, &answer)) return std::nullopt;
    return static_cast<LRESULT>(answer);
}

struct TopWindow {
    HWND hwnd;
    std::wstring title;
    bool visible;
    bool enabled;
};

// The top-level windows of process `pid` (every process when 0).
std::vector<TopWindow> windows_of(DWORD pid) {
    struct Search {
        DWORD pid;
        std::vector<TopWindow> found;
    } search{pid, {}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (s->pid == 0 || owner == s->pid)
                s->found.push_back({window, text_of(window), IsWindowVisible(window) != FALSE,
                                    IsWindowEnabled(window) != FALSE});
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND find_shown(const wchar_t* title) {
    for (const TopWindow& w : windows_of(0))
        if (w.visible && w.title == title) return w.hwnd;
    return nullptr;
}

const resource::DialogTemplate* dialog_titled(const std::wstring& title) {
    for (const auto& d : quillon_resources().dialogs)
        if (std::wstring(d.title.begin(), d.title.end()) == title) return &d;
    return nullptr;
}

// The commands a window's soft-key menu offers: the main window's, or a dialog's "확인".
std::vector<int> menu_commands(int dialog) {
    std::vector<int> commands;
    const int menu_id = dialog == IDD_MAIN ? IDR_MAINMENU : IDR_OK_MENU;
    for (const auto& menu : quillon_resources().menus) {
        if (menu.id != menu_id) continue;
        for (const auto& item : menu.items) {
            if (item.id != 0) commands.push_back(item.id);
            for (const auto& entry : item.popup)
                if (!entry.separator && entry.id != 0) commands.push_back(entry.id);
        }
    }
    if (commands.empty()) commands.push_back(IDOK);
    return commands;
}

// The counts as this driver last wrote them, from `at` (GetTickCount) on.
struct Counts {
    DWORD at = 0;
    std::optional<DWORD> missed, sms_hklm, sms_hkcu, calls;
    LONG missed_count() const { return missed ? static_cast<LONG>(*missed) : 0; }
    // Read under HKLM, and under HKCU where that fails, as the phone's readers do.
    LONG unread_count() const {
        if (sms_hklm) return static_cast<LONG>(*sms_hklm);
        return sms_hkcu ? static_cast<LONG>(*sms_hkcu) : 0;
    }
    bool in_call() const { return calls && *calls != 0; }
};

struct Sound {
    DWORD at;
    std::string name;
};

class Monkey {
public:
    Monkey(std::wstring folder, std::wstring wine_log) : folder_(std::move(folder)), wine_log_(std::move(wine_log)) {
        PWSTR startup = nullptr;
        if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Startup, 0, nullptr, &startup)))
            shortcut_ = std::wstring(startup) + L"\\Quillon.lnk";
        CoTaskMemFree(startup);
        timeline_.push_back(Counts{GetTickCount(), get_dword(HKEY_CURRENT_USER, kPhoneKey, L"Missed Call Count"),
                                   get_dword(HKEY_LOCAL_MACHINE, kSmsKey, L"Count"),
                                   get_dword(HKEY_CURRENT_USER, kSmsKey, L"Count"),
                                   get_dword(HKEY_LOCAL_MACHINE, kPhoneKey, L"Active Call Count")});
    }
    ~Monkey() {
        for (auto& p : started_) {
            if (WaitForSingleObject(p.process, 0) == WAIT_TIMEOUT) TerminateProcess(p.process, 1);
            CloseHandle(p.process);
        }
    }

    std::vector<std::string> setup(Dice& dice);
    std::string draw(Dice& dice);
    // Runs one script line; false when the line is malformed.
    bool run(const std::string& line);
    // The invariants that do not hold now, each as "name: detail".
    std::vector<std::string> check();
    // Ends Quillon and the mail client, then the checks of the whole run.
    std::vector<std::string> finish();
    // The sounds of the program that Wine's debug log showed, once finish() has read it.
    std::size_t sounds_heard() const { return sounds_heard_; }

private:
    struct Started {
        HANDLE process;
        DWORD pid;
        bool reported;
    };

    DWORD quillon_pid() const {
        for (const auto& p : started_)
            if (WaitForSingleObject(p.process, 0) == WAIT_TIMEOUT) return p.pid;
        const auto pids = processes_named(L"Quillon.exe");
        return pids.empty() ? 0 : pids.front();
    }
    HWND main_window(DWORD pid) const {
        for (const TopWindow& w : windows_of(pid))
            if (w.title == kMainWindowTitle) return w.hwnd;
        return nullptr;
    }
    // The window the user works in: the shown, enabled window of Quillon (a modal
    // dialog disables its owners).
    std::optional<TopWindow> front(DWORD pid) const {
        for (const TopWindow& w : windows_of(pid))
            if (w.visible && w.enabled && !w.title.empty() && !IsIconic(w.hwnd)) return w;
        return std::nullopt;
    }
    HWND quillon_window(const std::wstring& title) const {
        const DWORD pid = quillon_pid();
        if (pid == 0) return nullptr;
        for (const TopWindow& w : windows_of(pid))
            if (w.title == title) return w.hwnd;
        return nullptr;
    }
    bool mail_running() const { return find_shown(kMailTitle) != nullptr; }

    void note_counts(const std::function<void(Counts&)>& change) {
        Counts next = timeline_.back();
        next.at = GetTickCount();
        change(next);
        timeline_.push_back(next);
    }
    bool start();
    void settle();
    bool set(const std::string& what, const std::string& value);
    bool entry(const std::string& model, const std::string& form, const std::string& a, const std::string& b);
    void key(UINT vk, bool as_input);
    std::vector<std::string> check_once();
    void check_settings(HWND dialog, int dialog_id, std::vector<std::string>& out) const;
    void check_entry(std::vector<std::string>& out) const;
    std::vector<std::string> check_sounds() const;

    std::wstring folder_;
    std::wstring wine_log_;
    std::wstring shortcut_;
    std::vector<Started> started_;
    std::vector<Counts> timeline_;
    std::string model_ = "none";
    std::vector<BYTE> entry_a_, entry_b_;
    long long missed_ = 0, unread_ = 0;
    bool sms_hklm_ = true;
    mutable std::size_t sounds_heard_ = 0;
};

// ---- steps ----

// The phone as a run begins: a phone-book entry of a drawn carrier and form, the ten
// settings (or none, as on a new phone), the counts, the profile and the idle time, no
// start-up shortcut; then Quillon starts. An interval outside the list (9) makes the
// reminder come at every tick, so that a short run hears it.
std::vector<std::string> Monkey::setup(Dice& dice) {
    std::vector<std::string> lines;
    auto hex = [&dice] {
        std::string out;
        const int bytes = static_cast<int>(dice.between(1, 24));
        for (int i = 0; i < bytes; ++i) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", static_cast<unsigned>(dice.below(256)));
            out += two;
        }
        return out;
    };
    const char* model = std::array{"skt", "ktf", "none"}[dice.weighted(std::array{80, 10, 10})];
    lines.push_back(std::string("entry ") + model + (dice.chance(50) ? " allowed " : " blocked ") + hex() + " " + hex());
    if (dice.chance(10)) {
        lines.push_back("settings none");
    } else {
        std::string values = "settings";
        for (const SettingControl& s : kSettingControls) {
            const std::wstring name = s.name;
            long long v = dice.chance(75) ? 1 : 0;
            if (name == L"AlertInterval") v = dice.chance(70) ? 9 : dice.between(0, 2);
            if (name == L"KeylockTimeout") v = dice.chance(90) ? dice.between(0, 4) : 7;
            values += " " + std::to_string(v);
        }
        lines.push_back(values);
    }
    lines.push_back("set missed " + std::to_string(dice.chance(80) ? dice.between(1, 3) : 0));
    if (dice.chance(70)) {
        lines.push_back("set sms-hkcu 0");
        lines.push_back("set sms-hklm " + std::to_string(dice.between(0, 2)));
    } else {
        lines.push_back("set sms-hklm none");
        lines.push_back("set sms-hkcu " + std::to_string(dice.between(0, 2)));
    }
    lines.push_back(std::string("set calls ") + (dice.chance(90) ? "0" : "1"));
    lines.push_back(std::string("set profile ") + std::array{"Normal", "Silent", "Meeting"}[dice.weighted(std::array{80, 10, 10})]);
    lines.push_back("set lock 0");
    lines.push_back(std::string("set idle ") + (dice.chance(70) ? "600" : "2"));
    lines.push_back("start");
    return lines;
}

// One step drawn for the phone as it is now.
std::string Monkey::draw(Dice& dice) {
    const DWORD pid = quillon_pid();
    const bool running = pid != 0 && main_window(pid) != nullptr;
    const std::optional<TopWindow> in_front = running ? front(pid) : std::nullopt;
    const resource::DialogTemplate* dialog = in_front ? dialog_titled(in_front->title) : nullptr;
    const bool in_settings = dialog != nullptr && dialog->id != IDD_MAIN && dialog->id != IDD_ABOUT;
    const bool mail = mail_running();

    enum Kind { Wait, Key, Input, Menu, Control, Close, Start, Missed, Sms, Call, Profile, Lock, Idle, Entry,
                MailStart, MailClose, kKinds };
    std::array<int, kKinds> w{};
    w[Wait] = 12;
    w[Key] = running ? 14 : 0;
    w[Input] = 2;
    w[Menu] = running ? 12 : 0;
    w[Control] = in_settings && !mail ? 25 : 0;
    w[Close] = running && dialog != nullptr && dialog->id != IDD_MAIN ? 4 : running ? 1 : 0;
    w[Start] = mail ? 0 : running ? 2 : 30;
    w[Missed] = 3;
    w[Sms] = 2;
    w[Call] = 1;
    w[Profile] = 1;
    w[Lock] = 2;
    w[Idle] = 2;
    w[Entry] = mail ? 0 : 1;
    w[MailStart] = mail ? 0 : 2;
    w[MailClose] = mail ? 40 : 0;

    auto count = [&dice](long long& c) {
        switch (dice.weighted(std::array{55, 25, 17, 3})) {
            case 0: c = (c + 1) % 4294967296LL; break;
            case 1: c = 0; break;
            case 2: c = dice.between(1, 20); break;
            default: c = std::array{2147483647LL, 4294967295LL, 2147483648LL}[dice.below(3)]; break;
        }
        return std::to_string(c);
    };
    const std::string front_title = in_front ? utf8(in_front->title) : "";
    switch (static_cast<Kind>(dice.weighted(w))) {
        case Wait: return "wait " + std::to_string(dice.chance(50) ? dice.between(50, 900) : dice.between(1000, 5000));
        case Key: {
            static constexpr std::array<int, 17> keys{VK_F1, VK_F2, VK_LEFT, VK_RIGHT, VK_UP, VK_DOWN, VK_RETURN,
                                                      VK_ESCAPE, VK_F8, VK_F9, '0', '1', '2', '5', '9', VK_SPACE, VK_TAB};
            static constexpr std::array<int, 17> weights{10, 10, 8, 8, 10, 10, 8, 8, 3, 2, 2, 2, 2, 2, 2, 5, 3};
            return "key " + std::to_string(keys[dice.weighted(weights)]);
        }
        case Input: return std::string("input ") + (dice.chance(50) ? "16" : "112");
        case Menu: {
            // Now and then a command reaches the main window while a dialog holds it in
            // a nested loop, as another program's message would.
            const bool to_main = !dialog || dialog->id == IDD_MAIN || dice.chance(10);
            std::vector<int> commands = menu_commands(to_main ? IDD_MAIN : dialog->id);
            // "프로그램 종료" ends the run of the program, so it comes less often.
            if (commands.size() > 1 && dice.chance(75)) std::erase(commands, ID_MENU_EXIT);
            const int command = commands[dice.below(commands.size())];
            return "menu " + std::to_string(command) + " " + (to_main ? utf8(kMainWindowTitle) : front_title);
        }
        case Control: {
            std::vector<const resource::ControlTemplate*> live;
            for (const auto& c : dialog->controls) {
                if (c.kind != resource::ControlKind::Checkbox && c.kind != resource::ControlKind::ComboBox) continue;
                HWND item = GetDlgItem(in_front->hwnd, c.id);
                if (item != nullptr && IsWindowEnabled(item)) live.push_back(&c);
            }
            if (live.empty()) return "wait 100";
            const resource::ControlTemplate* c = live[dice.below(live.size())];
            if (c->kind == resource::ControlKind::Checkbox) return "click " + std::to_string(c->id) + " " + front_title;
            const LRESULT items = ask(GetDlgItem(in_front->hwnd, c->id), CB_GETCOUNT).value_or(1);
            return "select " + std::to_string(c->id) + " " + std::to_string(dice.below(items > 0 ? items : 1)) + " " +
                   front_title;
        }
        case Close: return "close " + front_title;
        case Start: return "start";
        case Missed: return "set missed " + count(missed_);
        case Sms: return std::string(sms_hklm_ ? "set sms-hklm " : "set sms-hkcu ") + count(unread_);
        case Call: return std::string("set calls ") + (timeline_.back().in_call() ? "0" : std::to_string(dice.between(1, 2)));
        case Profile:
            return std::string("set profile ") +
                   std::array{"Normal", "Silent", "Meeting", "Outdoor"}[dice.weighted(std::array{50, 35, 10, 5})];
        case Lock: return "set lock " + std::to_string(std::array{0, 2, 2, 0, 1, 4, 6}[dice.below(7)]);
        case Idle: return "set idle " + std::to_string(std::array{1, 2, 5, 600}[dice.below(4)]);
        case Entry: {
            auto hex = [](const std::vector<BYTE>& data) {
                std::string out;
                for (BYTE b : data) {
                    char two[3];
                    std::snprintf(two, sizeof two, "%02x", b);
                    out += two;
                }
                return out.empty() ? std::string("01") : out;
            };
            return "entry " + model_ + (dice.chance(50) ? " allowed " : " blocked ") + hex(entry_a_) + " " + hex(entry_b_);
        }
        case MailStart: return "mail start";
        case MailClose: return "mail close";
        default: break;
    }
    return "wait 100";
}

bool Monkey::start() {
    const bool second = quillon_pid() != 0;
    std::wstring exe = folder_ + L"\\Quillon.exe";
    std::wstring command = L"\"" + exe + L"\"";
    STARTUPINFOW info{};
    info.cb = sizeof info;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder_.c_str(), &info,
                        &process))
        return false;
    CloseHandle(process.hThread);
    started_.push_back({process.hProcess, process.dwProcessId, false});
    const DWORD begun = GetTickCount();
    if (second) {
        // A second start hands over to the first and ends; check() reads its exit code.
        WaitForSingleObject(process.hProcess, kSecondStartMs);
        return true;
    }
    while (GetTickCount() - begun < kStartMs && WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
        HWND main = main_window(process.dwProcessId);
        if (main != nullptr && IsWindowVisible(main)) break;
    }
    return true;
}

// Lets a posted step take effect: waits until Quillon's windows have stayed the same
// for two looks 50 ms apart (at most a second and a half). The desktop gives no notice
// when another process has handled its queue.
void Monkey::settle() {
    std::wstring last;
    const DWORD begun = GetTickCount();
    int same = 0;
    while (GetTickCount() - begun < 1500 && same < 2) {
        Sleep(50);
        std::wstring now;
        const DWORD pid = quillon_pid();
        for (const TopWindow& w : windows_of(pid))
            now += w.title + (w.visible ? L"v" : L"h") + (w.enabled ? L"e" : L"d") + L"|";
        same = now == last ? same + 1 : 0;
        last = now;
    }
}

bool Monkey::set(const std::string& what, const std::string& value) {
    const bool none = value == "none";
    DWORD number = 0;
    if (!none && what != "profile") {
        try {
            number = static_cast<DWORD>(std::stoull(value));
        } catch (...) {
            return false;
        }
    }
    auto write = [&](HKEY root, const wchar_t* key, const wchar_t* name) {
        if (none) {
            RegDeleteKeyValueW(root, key, name);
        } else {
            set_dword(root, key, name, number);
        }
    };
    const std::optional<DWORD> written = none ? std::nullopt : std::optional<DWORD>(number);
    if (what == "missed") {
        note_counts([&](Counts& c) { c.missed = written; });
        write(HKEY_CURRENT_USER, kPhoneKey, L"Missed Call Count");
    } else if (what == "sms-hklm" || what == "sms-hkcu") {
        sms_hklm_ = what == "sms-hklm" && !none;
        note_counts([&](Counts& c) { (what == "sms-hklm" ? c.sms_hklm : c.sms_hkcu) = written; });
        write(what == "sms-hklm" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, kSmsKey, L"Count");
    } else if (what == "calls") {
        note_counts([&](Counts& c) { c.calls = written; });
        write(HKEY_LOCAL_MACHINE, kPhoneKey, L"Active Call Count");
    } else if (what == "profile") {
        const std::wstring name = wide(value);
        RegSetKeyValueW(HKEY_CURRENT_USER, L"ControlPanel\\Profiles", L"ActiveProfile", REG_SZ, name.c_str(),
                        static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
    } else if (what == "lock") {
        write(HKEY_LOCAL_MACHINE, L"System\\State", L"Lock");
    } else if (what == "idle") {
        write(HKEY_LOCAL_MACHINE, kTimeoutsKey, L"ACUserIdle");
    } else {
        return false;
    }
    return true;
}

// The carrier's phone-book entry written anew in one of its forms; the other carrier's
// entry goes.
bool Monkey::entry(const std::string& model, const std::string& form, const std::string& a, const std::string& b) {
    if ((model != "skt" && model != "ktf" && model != "none") || (form != "allowed" && form != "blocked")) return false;
    for (const wchar_t* key : kEntryKeys) {
        RegDeleteTreeW(HKEY_CURRENT_USER, key);
        RegDeleteKeyW(HKEY_CURRENT_USER, key);
    }
    model_ = model;
    entry_a_ = from_hex(a);
    entry_b_ = from_hex(b);
    if (model == "none") return true;
    const wchar_t* key = kEntryKeys[model == "skt" ? 0 : 1];
    const bool allowed = form == "allowed";
    RegSetKeyValueW(HKEY_CURRENT_USER, key, allowed ? kAllowedEntryForm.dev_cfg : kBlockedEntryForm.dev_cfg, REG_BINARY,
                    entry_a_.data(), static_cast<DWORD>(entry_a_.size()));
    RegSetKeyValueW(HKEY_CURRENT_USER, key, allowed ? kAllowedEntryForm.entry : kBlockedEntryForm.entry, REG_BINARY,
                    entry_b_.data(), static_cast<DWORD>(entry_b_.size()));
    return true;
}

// A key to the window that has Quillon's focus, posted as the keyboard's messages are;
// or, as the desktop's input, to whatever is in front.
void Monkey::key(UINT vk, bool as_input) {
    if (as_input) {
        INPUT keys[2]{};
        keys[0].type = keys[1].type = INPUT_KEYBOARD;
        keys[0].ki.wVk = keys[1].ki.wVk = static_cast<WORD>(vk);
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, keys, sizeof(INPUT));
        return;
    }
    const DWORD pid = quillon_pid();
    HWND main = main_window(pid);
    if (main == nullptr) return;
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    HWND target = main;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &gui))
        target = gui.hwndFocus != nullptr ? gui.hwndFocus : gui.hwndActive != nullptr ? gui.hwndActive : main;
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16;
    PostMessageW(target, WM_KEYDOWN, vk, 1 | scan);
    PostMessageW(target, WM_KEYUP, vk, 1 | scan | (LPARAM{3} << 30));
}

bool Monkey::run(const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    std::string rest;
    std::getline(in >> std::ws, rest);
    std::istringstream args(rest);
    // The title is the rest of the line after the numbers the verb takes.
    auto title_after = [&rest](int numbers) {
        std::size_t at = 0;
        for (int i = 0; i < numbers; ++i) at = rest.find(' ', at) + 1;
        return wide(rest.substr(at));
    };
    if (verb == "wait") {
        DWORD ms = 0;
        if (!(args >> ms)) return false;
        Sleep(ms);
        return true;
    }
    if (verb == "key" || verb == "input") {
        UINT vk = 0;
        if (!(args >> vk)) return false;
        key(vk, verb == "input");
        settle();
        return true;
    }
    if (verb == "menu" || verb == "click" || verb == "select") {
        int id = 0, index = 0;
        if (!(args >> id) || (verb == "select" && !(args >> index))) return false;
        HWND window = quillon_window(title_after(verb == "select" ? 2 : 1));
        if (window == nullptr) return true;  // the step misses
        DWORD_PTR answer = 0;
        if (verb == "menu") {
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
        } else if (HWND control = GetDlgItem(window, id); control != nullptr && IsWindowEnabled(control)) {
            if (verb == "click") {
                SendMessageTimeoutW(control, BM_CLICK, 0, 0, SMTO_NORMAL, kSendMs, &answer);
            } else if (SendMessageTimeoutW(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0, SMTO_NORMAL, kSendMs,
                                           &answer)) {
                SendMessageTimeoutW(window, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                                    reinterpret_cast<LPARAM>(control), SMTO_NORMAL, kSendMs, &answer);
            }
        }
        settle();
        return true;
    }
    if (verb == "close") {
        if (HWND window = quillon_window(wide(rest))) PostMessageW(window, WM_CLOSE, 0, 0);
        settle();
        return true;
    }
    if (verb == "start") return start();
    if (verb == "set") {
        std::string what, value;
        return static_cast<bool>(args >> what >> value) && set(what, value);
    }
    if (verb == "entry") {
        std::string model, form, a, b;
        return static_cast<bool>(args >> model >> form >> a >> b) && entry(model, form, a, b);
    }
    if (verb == "settings") {
        // The program's stored settings and its start-up shortcut, as a phone that has
        // run it before holds them (or, with "none", a phone that never has).
        DeleteFileW(shortcut_.c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
        if (rest == "none") return true;
        for (const SettingControl& s : kSettingControls) {
            DWORD v = 0;
            if (!(args >> v)) return false;
            set_dword(HKEY_CURRENT_USER, kSettingsKey, s.name, v);
        }
        return true;
    }
    if (verb == "mail") {
        if (rest == "start") {
            WCHAR windows[MAX_PATH]{};
            GetWindowsDirectoryW(windows, MAX_PATH);
            std::wstring exe = std::wstring(windows) + L"\\e mail.exe";
            std::wstring command = L"\"" + exe + L"\"";
            STARTUPINFOW info{};
            info.cb = sizeof info;
            PROCESS_INFORMATION process{};
            if (CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, windows, &info,
                               &process)) {
                WaitForInputIdle(process.hProcess, 5000);
                CloseHandle(process.hThread);
                CloseHandle(process.hProcess);
            }
            for (DWORD begun = GetTickCount(); !mail_running() && GetTickCount() - begun < 5000;) Sleep(50);
            return true;
        }
        if (rest == "close") {
            for (const TopWindow& w : windows_of(0))
                if (w.title == kMailTitle) PostMessageW(w.hwnd, WM_CLOSE, 0, 0);
            settle();
            return true;
        }
        return false;
    }
    return false;
}

// ---- invariants ----

std::vector<std::string> Monkey::check() {
    std::vector<std::string> breaches = check_once();
    if (breaches.empty()) return breaches;
    Sleep(kRecheckMs);
    return check_once();
}

std::vector<std::string> Monkey::check_once() {
    std::vector<std::string> out;
    // No crash: every Quillon.exe this run started that has ended, ended with 0; no
    // debugger and no crash dialog of Wine's.
    for (auto& p : started_) {
        DWORD code = STILL_ACTIVE;
        if (p.reported || WaitForSingleObject(p.process, 0) != WAIT_OBJECT_0 || !GetExitCodeProcess(p.process, &code))
            continue;
        if (code != 0) {
            char text[96];
            std::snprintf(text, sizeof text, "no-crash: Quillon.exe (pid %lu) ended with code 0x%08lx", p.pid, code);
            out.push_back(text);
        }
        p.reported = true;
    }
    if (!processes_named(L"winedbg.exe").empty()) out.push_back("no-crash: winedbg is running");
    if (find_shown(L"Program Error") != nullptr) out.push_back("no-crash: Wine's crash dialog is shown");

    const std::vector<DWORD> quillons = processes_named(L"Quillon.exe");
    if (quillons.size() > 1) out.push_back("one-instance: " + std::to_string(quillons.size()) + " Quillon.exe run");
    const bool mail = mail_running();
    for (DWORD pid : quillons) {
        HWND main = main_window(pid);
        if (main == nullptr) {
            // A window that has gone takes its process with it.
            HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
            const bool ended = process == nullptr || WaitForSingleObject(process, kEndMs) == WAIT_OBJECT_0;
            if (process != nullptr) CloseHandle(process);
            if (!ended) out.push_back("answers: Quillon.exe runs without its main window");
            continue;
        }
        DWORD_PTR answer = 0;
        // While the mail client runs, Quillon may be waiting for it to end, as it means to;
        // the client it starts again may have come up only while this message waited.
        if (!SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerMs, &answer) && !mail && !mail_running())
            out.push_back("answers: Quillon.exe does not answer a message within 5 s");
        for (const TopWindow& w : windows_of(pid)) {
            const resource::DialogTemplate* d = w.visible ? dialog_titled(w.title) : nullptr;
            if (d != nullptr) check_settings(w.hwnd, d->id, out);
        }
    }
    if (!mail) check_entry(out);
    return out;
}

// Each setting its dialog shows equals the registry's value (a list shows no entry for
// an index outside it); a value the registry does not hold yet is not compared. The
// start-up box is ticked exactly when the shortcut exists.
void Monkey::check_settings(HWND dialog, int dialog_id, std::vector<std::string>& out) const {
    for (const SettingControl& s : kSettingControls) {
        if (s.dialog != dialog_id) continue;
        // Without the SKT entry the mail-client boxes stay unticked whatever is stored.
        if (dialog_id == IDD_SET_3GSVC && model_ != "skt") continue;
        const std::optional<DWORD> stored = get_dword(HKEY_CURRENT_USER, kSettingsKey, s.name);
        HWND control = GetDlgItem(dialog, s.control);
        if (!stored || control == nullptr) continue;
        wchar_t cls[32]{};
        GetClassNameW(control, cls, 32);
        long long shown, expected;
        if (_wcsicmp(cls, L"ComboBox") == 0) {
            const std::optional<LRESULT> count = ask(control, CB_GETCOUNT), selected = ask(control, CB_GETCURSEL);
            if (!count || !selected) return;
            shown = *selected;
            expected = *stored < static_cast<DWORD>(*count) ? static_cast<long long>(*stored) : -1;
        } else {
            const std::optional<LRESULT> check = ask(control, BM_GETCHECK);
            if (!check) return;
            shown = *check == BST_CHECKED ? 1 : 0;
            expected = *stored != 0 ? 1 : 0;
        }
        if (shown != expected)
            out.push_back("settings-shown: \"" + utf8(s.name) + "\" is " + std::to_string(*stored) + ", its control shows " +
                          std::to_string(shown));
    }
    if (dialog_id == IDD_SET_GENERAL) {
        HWND box = GetDlgItem(dialog, IDC_AUTOSTART);
        const std::optional<LRESULT> check = box != nullptr ? ask(box, BM_GETCHECK) : std::nullopt;
        const bool ticked = check && *check == BST_CHECKED;
        const bool exists = GetFileAttributesW(shortcut_.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (check && ticked != exists)
            out.push_back(std::string("startup-shortcut: the box is ") + (ticked ? "ticked" : "unticked") +
                          " and the shortcut " + (exists ? "exists" : "does not exist"));
    }
}

// The carrier's entry holds each of its two values once, in one of the two forms
// together, with the data written.
void Monkey::check_entry(std::vector<std::string>& out) const {
    if (model_ == "none") return;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kEntryKeys[model_ == "skt" ? 0 : 1], 0, KEY_READ, &key) != ERROR_SUCCESS) {
        out.push_back("phone-book: the entry is gone");
        return;
    }
    const auto devcfg = get_bytes(key, kAllowedEntryForm.dev_cfg),
               no_devcfg = get_bytes(key, kBlockedEntryForm.dev_cfg);
    const auto data = get_bytes(key, kAllowedEntryForm.entry), no_data = get_bytes(key, kBlockedEntryForm.entry);
    RegCloseKey(key);
    const bool allowed = devcfg && data && !no_devcfg && !no_data && *devcfg == entry_a_ && *data == entry_b_;
    const bool blocked = no_devcfg && no_data && !devcfg && !data && *no_devcfg == entry_a_ && *no_data == entry_b_;
    if (allowed || blocked) return;
    const auto told = [](const wchar_t* name, bool present) { return utf8(name) + (present ? " present" : " absent"); };
    out.push_back("phone-book: the entry is in neither form (" + told(kAllowedEntryForm.dev_cfg, devcfg.has_value()) +
                  ", " + told(kBlockedEntryForm.dev_cfg, no_devcfg.has_value()) + ", " +
                  told(kAllowedEntryForm.entry, data.has_value()) + ", " +
                  told(kBlockedEntryForm.entry, no_data.has_value()) + ")");
}

std::vector<std::string> Monkey::finish() {
    std::vector<std::string> out;
    const auto close_mail = [] {
        for (const TopWindow& w : windows_of(0))
            if (w.title == kMailTitle) PostMessageW(w.hwnd, WM_CLOSE, 0, 0);
    };
    close_mail();
    for (DWORD begun = GetTickCount(); mail_running() && GetTickCount() - begun < kEndMs;) Sleep(50);
    if (const DWORD pid = quillon_pid()) {
        if (HWND main = main_window(pid)) PostMessageW(main, WM_COMMAND, MAKEWPARAM(ID_MENU_EXIT, 0), 0);
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
        // Quillon reads the exit only once a mail client it let through has ended. A watch
        // tick that found the client just before it was closed above starts it again, so
        // the wait closes each client that appears, as the user would to get back.
        bool ended = process == nullptr;
        for (DWORD begun = GetTickCount(); !ended && GetTickCount() - begun < kEndMs;) {
            close_mail();
            ended = WaitForSingleObject(process, 100) == WAIT_OBJECT_0;
        }
        if (process != nullptr) CloseHandle(process);
        if (!ended) out.push_back("answers: Quillon.exe did not end within 10 s of 프로그램 종료");
    }
    for (const std::string& breach : check_once()) out.push_back(breach);
    for (const std::string& breach : check_sounds()) out.push_back(breach);
    return out;
}

// The reminder sounds in Wine's debug log of winmm against the counts' timeline. A sound at t
// may come from a count read up to kGraceMs before it, so any state in that window
// that allows it excuses it.
std::vector<std::string> Monkey::check_sounds() const {
    std::vector<std::string> out;
    if (wine_log_.empty()) return out;
    FILE* in = _wfopen(wine_log_.c_str(), L"rb");
    if (in == nullptr) return {"reminder-pending: Wine's debug log " + utf8(wine_log_) + " cannot be read"};
    std::vector<Sound> sounds;
    std::string line;
    char buffer[1024];
    while (std::fgets(buffer, sizeof buffer, in) != nullptr) {
        line = buffer;
        if (line.find("Unhandled exception") != std::string::npos || line.find("Unhandled page fault") != std::string::npos)
            out.push_back("no-crash: " + line.substr(0, 160));
        const std::size_t at = line.find("proc_PlaySound SoundName=L\"");
        if (at == std::string::npos) continue;
        const std::size_t name_end = line.find('"', at + 27);
        const std::size_t slash = line.rfind('\\', name_end);
        if (name_end == std::string::npos || slash == std::string::npos || slash < at) continue;
        const double seconds = std::atof(line.c_str());
        sounds.push_back({static_cast<DWORD>(seconds * 1000.0 + 0.5), line.substr(slash + 1, name_end - slash - 1)});
    }
    std::fclose(in);
    sounds_heard_ = sounds.size();
    // The states that held at some moment in [t - kGraceMs, t].
    auto states_around = [this](DWORD t) {
        std::vector<const Counts*> states;
        for (std::size_t i = 0; i < timeline_.size(); ++i) {
            const DWORD from = timeline_[i].at;
            const bool ends_before = i + 1 < timeline_.size() && static_cast<LONG>(timeline_[i + 1].at - (t - kGraceMs)) < 0;
            if (static_cast<LONG>(from - t) <= 0 && !ends_before) states.push_back(&timeline_[i]);
        }
        return states;
    };
    auto same = [](const std::string& a, const char* b) { return _stricmp(a.c_str(), b) == 0; };
    const std::string missed_call = utf8(kMissedCallSound), unread_sms = utf8(kUnreadSmsSound),
                      missed_call_sms = utf8(kMissedCallSmsSound), count_prefix = utf8(kCountSoundPrefix),
                      count_suffix = utf8(kCountSoundSuffix), count_over = utf8(kCountOverSound);
    std::optional<std::pair<Sound, std::vector<LONG>>> reminder;  // the kind sound and the counts it may announce
    for (const Sound& s : sounds) {
        char when[32];
        std::snprintf(when, sizeof when, " at %lu.%03lu", s.at / 1000, s.at % 1000);
        const bool missed = same(s.name, missed_call.c_str()), unread = same(s.name, unread_sms.c_str()),
                   both = same(s.name, missed_call_sms.c_str());
        if (missed || unread || both) {
            bool pending = false, outside_call = false;
            std::vector<LONG> counts;
            for (const Counts* c : states_around(s.at)) {
                const LONG m = c->missed_count(), u = c->unread_count();
                const bool p = both ? m > 0 && u > 0 : missed ? m > 0 : u > 0;
                pending = pending || p;
                outside_call = outside_call || !c->in_call();
                if (p) counts.push_back(both ? (m > 0x7fffffff - u ? 0x7fffffff : m + u) : missed ? m : u);
            }
            if (!pending) out.push_back("reminder-pending: " + s.name + when + " while its count was not pending");
            if (!outside_call) out.push_back("reminder-pending: " + s.name + when + " during a call");
            reminder = std::pair{s, counts};
            continue;
        }
        if (_strnicmp(s.name.c_str(), count_prefix.c_str(), count_prefix.size()) == 0) {
            if (!reminder || s.at - reminder->first.at > 2000) {
                out.push_back("reminder-pending: " + s.name + when + " without a reminder sound before it");
            } else {
                bool named = reminder->second.empty();  // already reported above
                for (LONG c : reminder->second) {
                    const std::string expected =
                        c > kLargestCountSound ? count_over : count_prefix + std::to_string(c) + count_suffix;
                    named = named || same(s.name, expected.c_str());
                }
                if (!named) out.push_back("reminder-pending: " + s.name + when + " names no count pending at " + reminder->first.name);
            }
        }
        reminder.reset();
    }
    return out;
}

std::vector<std::string> read_script(const std::wstring& path, bool& ok) {
    FILE* in = _wfopen(path.c_str(), L"rb");
    ok = in != nullptr;
    std::vector<std::string> lines;
    char buffer[1024];
    while (in != nullptr && std::fgets(buffer, sizeof buffer, in) != nullptr) {
        std::string line = buffer;
        while (!line.empty() && line.back() == '\n') line.pop_back();
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty() && line.front() != '#') lines.push_back(line);
    }
    if (in != nullptr) std::fclose(in);
    return lines;
}

}  // namespace

int monkey_main(int argc, wchar_t** argv) {
    std::uint64_t seed = 1;
    int steps = 30;
    std::wstring wine_log, replay;
    bool verbose = false;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::wstring option = argv[i];
        if (option == L"--seed") seed = std::wcstoull(argv[i + 1], nullptr, 10);
        else if (option == L"--steps") steps = _wtoi(argv[i + 1]);
        else if (option == L"--trace") wine_log = argv[i + 1];
        else if (option == L"--replay") replay = argv[i + 1];
        else if (option == L"--verbose") verbose = _wtoi(argv[i + 1]) != 0;
        else {
            std::printf(
                "usage: quillon-driver monkey --seed N [--steps K] [--trace WINE_LOG] [--replay FILE] [--verbose 1]\n");
            return 2;
        }
    }
    WCHAR self[MAX_PATH]{};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder = self;
    folder.resize(folder.find_last_of(L'\\'));

    bool script_ok = true;
    const std::vector<std::string> script = replay.empty() ? std::vector<std::string>{} : read_script(replay, script_ok);
    if (!script_ok) {
        std::printf("monkey: cannot read %s\n", utf8(replay).c_str());
        return 2;
    }
    Dice dice(seed);
    Monkey monkey(folder, wine_log);
    std::vector<std::string> done;
    std::vector<std::string> breaches;
    const std::vector<std::string> lines = replay.empty() ? monkey.setup(dice) : script;
    const std::size_t total = replay.empty() ? lines.size() + static_cast<std::size_t>(steps) : lines.size();
    for (std::size_t i = 0; i < total && breaches.empty(); ++i) {
        const std::string line = i < lines.size() ? lines[i] : monkey.draw(dice);
        done.push_back(line);
        if (verbose) std::printf("%5lu.%03lu %s\n", GetTickCount() / 1000, GetTickCount() % 1000, line.c_str());
        if (!monkey.run(line)) {
            std::printf("monkey: step %zu is malformed: %s\n", i + 1, line.c_str());
            return 2;
        }
        breaches = monkey.check();
    }
    if (breaches.empty()) breaches = monkey.finish();
    if (breaches.empty()) {
        std::printf("seed %llu: %zu steps, every invariant held; %zu sounds\n", static_cast<unsigned long long>(seed),
                    done.size(), monkey.sounds_heard());
        return 0;
    }
    std::printf("seed %llu: FAIL after step %zu (%s)\n", static_cast<unsigned long long>(seed), done.size(),
                done.back().c_str());
    for (const std::string& b : breaches) std::printf("  %s\n", b.c_str());
    std::printf("# the run as a script: quillon-driver monkey --replay FILE --trace WINE_LOG\n");
    for (const std::string& line : done) std::printf("%s\n", line.c_str());
    return 1;
}
