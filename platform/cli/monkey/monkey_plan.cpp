// The monkey's scripts: random ordinary use of the phone, drawn from a seed.
//
// The plan keeps a rough picture of the phone (is Quillon running, which of its dialogs
// the user is in, the counters, a call, the mail client) so that most actions make
// sense where they land: clicks go to the controls of the dialog just opened, a call
// that began ends. The picture may be wrong (a key press can open or close anything);
// an action that misses is refused by the phone and the run goes on.
//
// Menu commands, dialogs and controls come from Quillon's resource table, so that a new
// control or menu entry is exercised without a change here.
#include <algorithm>
#include <array>
#include <string_view>

#include "platform/cli/monkey/dice.h"
#include "platform/cli/monkey/monkey_plan.h"
#include "platform/handset/core/utf.h"
#include "res/program_facts.h"
#include "res/resources.h"

using namespace handset;

namespace cli::monkey {
namespace {

// The dialog each menu command of the main window opens (commands from res/resources.h).
int dialog_of_command(int command) {
    switch (command) {
        case ID_MENU_3GSVC: return IDD_SET_3GSVC;
        case ID_MENU_ALERT: return IDD_SET_ALERT;
        case ID_MENU_KEYLOCK: return IDD_SET_KEYLOCK;
        case ID_MENU_GENERAL: return IDD_SET_GENERAL;
        case ID_MENU_ABOUT: return IDD_ABOUT;
        default: return 0;
    }
}

// The main window's menu commands, from its soft-key menu. Its end command is left to
// `quit`, which sends it too and lets the script go on with a `start`.
std::vector<int> menu_commands() {
    std::vector<int> commands;
    const resource::Resources& res = quillon_resources();
    for (const auto& menu : res.menus) {
        if (menu.id != IDR_MAINMENU) continue;
        for (const auto& item : menu.items)
            for (const auto& entry : item.popup)
                if (!entry.separator && entry.id != 0 && entry.id != ID_MENU_EXIT) commands.push_back(entry.id);
    }
    return commands;
}

const resource::DialogTemplate* dialog_template(int id) {
    for (const auto& d : quillon_resources().dialogs)
        if (d.id == id) return &d;
    return nullptr;
}

// The settings dialogs' ids, for input aimed at whichever might be in front.
std::vector<int> settings_dialogs() {
    std::vector<int> ids;
    for (int command : menu_commands())
        if (int d = dialog_of_command(command)) ids.push_back(d);
    return ids;
}

// The physical keys by their script names, the ordinary ones more often.
constexpr std::array<std::string_view, 16> kKeys{"back", "enter", "left", "right", "up", "down", "vk:37", "vk:39",
                                                 "star", "pound", "0",     "1",    "5",  "9",    "vk:133", "vk:27"};
constexpr std::array<int, 16> kKeyWeights{20, 10, 12, 10, 10, 10, 6, 6, 5, 3, 2, 2, 2, 2, 1, 1};

constexpr std::array<std::string_view, 4> kProfiles{"Normal", "Silent", "Meeting", "Outdoor"};
constexpr std::array<int, 4> kProfileWeights{50, 35, 10, 5};

constexpr std::array<int, 4> kIdleSeconds{10, 30, 60, 300};

constexpr std::array<std::string_view, 6> kPowerActions{"button", "info", "useridle", "on", "suspend", "unattended"};
constexpr std::array<int, 6> kPowerWeights{55, 10, 10, 10, 10, 5};

// The ten settings with the largest value their dialogs store.
struct Setting {
    const WCHAR* name;
    int max;
};
constexpr std::array<Setting, 10> kSettings{{{setting_name::kEnableTmail3Gsvc, 1},
                                             {setting_name::kEnableTmail3GsvcAlert, 1},
                                             {setting_name::kEnableCallAlert, 1},
                                             {setting_name::kEnableSmsAlert, 1},
                                             {setting_name::kAlertInterval, 2},
                                             {setting_name::kEnableVibrateAlert, 1},
                                             {setting_name::kEnableAutoKeylock, 1},
                                             {setting_name::kKeylockTimeout, 4},
                                             {setting_name::kEnableVibrateAlertKeylock, 1},
                                             {setting_name::kEnablePowerKeyUnlock, 1}}};

class Planner {
public:
    explicit Planner(std::uint64_t seed)
        : dice_(seed), commands_(menu_commands()), dialogs_(settings_dialogs()) {}

    Plan plan(int count) {
        Plan plan;
        plan.model = std::array<const char*, 3>{"skt", "ktf", "none"}[dice_.weighted(std::array<int, 3>{85, 10, 5})];
        while (static_cast<int>(plan.actions.size()) < count) plan.actions.push_back(next());
        return plan;
    }

private:
    enum Kind { Wait, Key, Menu, Control, CloseDialog, Missed, Sms, Call, Profile, Power, IdleTimeout,
                MailStart, MailClose, Start, Quit, SettingWrite, StorageFull, Look, kKinds };

    std::array<int, kKinds> weights() const {
        const bool in_dialog = front_ != 0;
        std::array<int, kKinds> w{};
        w[Wait] = 28;
        w[Key] = 12;
        w[Menu] = running_ && !in_dialog ? 8 : 1;
        w[Control] = in_dialog ? 26 : 2;
        w[CloseDialog] = in_dialog ? 8 : 1;
        w[Missed] = 6;
        w[Sms] = 5;
        w[Call] = 4;
        w[Profile] = 3;
        w[Power] = 3;
        w[IdleTimeout] = 2;
        w[MailStart] = mail_ ? 1 : 3;
        w[MailClose] = mail_ ? 4 : 1;
        w[Start] = running_ ? 3 : 10;
        w[Quit] = running_ ? 1 : 0;
        w[SettingWrite] = 1;
        // The storage fills up now and then, and is mostly freed again soon after.
        w[StorageFull] = storage_full_ ? 4 : 1;
        w[Look] = 1;
        return w;
    }

    std::string next() {
        switch (dice_.weighted(weights())) {
            case Wait: return wait();
            case Key: return key();
            case Menu: {
                if (commands_.empty()) return "command " + std::to_string(IDOK);
                const int command = dice_.one_of(commands_);
                front_ = dialog_of_command(command);
                return "command " + std::to_string(command);
            }
            case Control: return control();
            case CloseDialog:
                front_ = 0;
                return dice_.chance(70) ? "command " + std::to_string(IDOK) : "press back";
            case Missed: return "missed " + std::to_string(next_count(missed_));
            case Sms: return "sms " + std::to_string(next_count(unread_));
            case Call:
                call_ = !call_;
                return call_ ? "call " + std::to_string(dice_.between(1, 2)) : "call 0";
            case Profile: return "profile " + std::string(kProfiles[dice_.weighted(kProfileWeights)]);
            case Power: return "power " + std::string(kPowerActions[dice_.weighted(kPowerWeights)]);
            case IdleTimeout:
                if (dice_.chance(15)) return "device idle-timeout off";
                return "device idle-timeout " + std::to_string(kIdleSeconds[dice_.below(kIdleSeconds.size())]) + "s";
            case MailStart: mail_ = true; return "mail start";
            case MailClose: mail_ = false; return "mail close";
            case Start:
                // A second start brings the running program's window to the front.
                running_ = true;
                front_ = 0;
                return "start";
            case Quit:
                running_ = false;
                front_ = 0;
                return "quit";
            case SettingWrite: return setting();
            case StorageFull:
                storage_full_ = !storage_full_;
                return storage_full_ ? "fault storage full" : "fault storage full off";
            default: break;
        }
        return std::array<const char*, 3>{"screen", "controls", "reg get HKLM\\System\\State Lock"}[dice_.below(3)];
    }

    // From milliseconds to tens of minutes; whole watch periods now and then, so that
    // the script's input and the watch tick fall on the same moment.
    std::string wait() {
        switch (dice_.weighted(std::array<int, 5>{30, 30, 15, 18, 7})) {
            case 0: return "wait " + std::to_string(dice_.between(1, 999)) + "ms";
            case 1: return "wait " + std::to_string(dice_.between(1, 59)) + "s";
            case 2: return "wait " + std::to_string(dice_.between(1, 60)) + "t";
            case 3: return "wait " + std::to_string(dice_.between(1, 9)) + "m";
            default: return "wait " + std::to_string(dice_.between(10, 45)) + "m";
        }
    }

    std::string key() {
        const std::string_view key = kKeys[dice_.weighted(kKeyWeights)];
        // Back, and the left soft key ("확인") of a settings dialog, end the dialog.
        if (key == "back" || (key == "left" && front_ != 0)) front_ = 0;
        return "press " + std::string(key);
    }

    // A click or a list pick on a control of the dialog the user is in (or, now and
    // then, of another one, as a tap that lands elsewhere).
    std::string control() {
        if (dialogs_.empty()) return "command " + std::to_string(IDOK);
        const int dialog = front_ != 0 && dice_.chance(90) ? front_ : dice_.one_of(dialogs_);
        const resource::DialogTemplate* t = dialog_template(dialog);
        if (!t || t->controls.empty()) return "command " + std::to_string(IDOK);
        std::vector<const resource::ControlTemplate*> live;
        for (const auto& c : t->controls)
            if (c.kind == resource::ControlKind::Checkbox || c.kind == resource::ControlKind::ComboBox)
                live.push_back(&c);
        const resource::ControlTemplate* c = live.empty() || dice_.chance(5)
                                                ? &t->controls[dice_.below(t->controls.size())]
                                                : live[dice_.below(live.size())];
        if (c->kind == resource::ControlKind::ComboBox)
            return "select " + std::to_string(c->id) + " " + std::to_string(dice_.below(5));
        return "click " + std::to_string(c->id);
    }

    // Mostly one more than before or read (0); sometimes any count, and rarely the
    // edges of the 32-bit value the phone stores.
    long long next_count(long long& count) {
        switch (dice_.weighted(std::array<int, 4>{55, 25, 17, 3})) {
            case 0: count = (count + 1) % 4294967296LL; break;  // the registry's DWORD wraps
            case 1: count = 0; break;
            case 2: count = dice_.between(1, 20); break;
            default:
                count = std::array<long long, 3>{2147483647LL, 4294967295LL, 2147483648LL}[dice_.below(3)];
                break;
        }
        return count;
    }

    // A setting written behind the program's back, as a backup restore would; it takes
    // effect at the next start. Now and then a value no dialog stores.
    std::string setting() {
        const auto& s = kSettings[dice_.below(kSettings.size())];
        const long long value = dice_.chance(90) ? dice_.between(0, s.max) : dice_.between(s.max + 1, 9);
        return "reg set HKCU\\" + to_utf8(kSettingsKey) + " " + to_utf8(s.name) + " dword:" + std::to_string(value);
    }

    Dice dice_;
    const std::vector<int> commands_;
    const std::vector<int> dialogs_;
    bool running_ = true;  // the headless phone starts Quillon before the script
    int front_ = 0;        // the dialog the user is in; 0: the main window or none
    bool mail_ = false;
    bool call_ = false;
    bool storage_full_ = false;
    long long missed_ = 0;
    long long unread_ = 0;
};

}  // namespace

Plan plan_run(std::uint64_t seed, int actions) { return Planner(seed).plan(actions); }

}  // namespace cli::monkey
