// The effect of each handset command on the phone.
#include "platform/phone/executor.h"

#include "platform/handset/shell/phone_state.h"
#include "platform/phone/program_host.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/faults.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/registry/state_values.h"
#include "platform/handset/display/pixel_screen.h"
#include "platform/handset/display/screen.h"
#include "platform/handset/window/automation.h"
#include "platform/handset/window/wm.h"
#include "platform/windows.h"

using namespace handset;
using namespace handset::shell;

namespace phone {
namespace {

// A platform error code as a command's error message.
std::string error_text(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND: return "not found";
        case ERROR_SHARING_VIOLATION: return "in use";
        case ERROR_ACCESS_DENIED: return "access denied";
        default: return "error " + std::to_string(code);
    }
}

// Opens (creating when `create`) a key of the handset registry through the platform API.
bool open_key(const RegKeyPath& key, bool create, HKEY& out, std::string& error) {
    LONG rc;
    if (create) {
        DWORD disposition = 0;
        rc = RegCreateKeyExW(root_handle(key.root), key.path.c_str(), 0, nullptr, 0, 0, nullptr, &out, &disposition);
    } else {
        rc = RegOpenKeyExW(root_handle(key.root), key.path.c_str(), 0, 0, &out);
    }
    if (rc != ERROR_SUCCESS) {
        error = "cannot open " + format_key_path(key) + ": " + error_text(rc);
        return false;
    }
    return true;
}

// Writes a value as the handset's own services do, so that its reg.set event appears.
// Registry faults are the program's: the phone's own state changes still go through.
bool write_value(const RegKeyPath& key, std::u16string_view name, DWORD type, const Bytes& data, std::string& error) {
    const FaultExemption phone_itself;
    HKEY hkey = nullptr;
    if (!open_key(key, true, hkey, error)) return false;
    const std::u16string value_name(name);
    const LONG rc = RegSetValueExW(hkey, value_name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
    RegCloseKey(hkey);
    if (rc != ERROR_SUCCESS) {
        error = "cannot write " + format_key_path(key) + " \"" + to_utf8(name) + "\": " + error_text(rc);
        return false;
    }
    return true;
}

const StateValue& counter_value(cmd::SetCounter::Which which) {
    using W = cmd::SetCounter::Which;
    switch (which) {
        case W::MissedCalls: return kMissedCallCount;
        case W::UnreadSms: return unread_sms_count();
        case W::ActiveCalls: break;
    }
    return kActiveCallCount;
}

// What a command that left its input in a busy thread's queue tells the user.
constexpr const char* kQueuedNotice =
    "queued: the window's thread is blocked outside its message loop; the input is handled when it is back";

class Runner {
public:
    Runner(ProgramHost& host, std::string& out, std::string& error, std::string& notice)
        : host_(host), out_(out), error_(error), notice_(notice) {}

    bool operator()(const cmd::Wait& c) {
        host_.wait(c.ms);
        return true;
    }
    bool operator()(const cmd::SetCounter& c) {
        const StateValue& v = counter_value(c.which);
        DWORD count = c.count;
        if (c.add) {
            // A missing or odd value counts as none; the sum stops at the largest count.
            const DWORD now = read_dword(v).value_or(0);
            count = now > 0xFFFFFFFFu - c.count ? 0xFFFFFFFFu : now + c.count;
        }
        return write_value(v.key_path(), v.name, REG_DWORD, dword_bytes(count), error_);
    }
    bool operator()(const cmd::Profile& c) {
        return write_value(kActiveProfile.key_path(), kActiveProfile.name, REG_SZ,
                           sz_bytes(to_utf16(c.name)), error_);
    }
    bool operator()(const cmd::RegSet& c) { return write_value(c.key, c.name, c.type, c.data, error_); }
    bool operator()(const cmd::RegDelete& c) {
        const FaultExemption phone_itself;
        if (!c.name) {
            const LONG rc = RegDeleteKeyW(root_handle(c.key.root), c.key.path.c_str());
            if (rc != ERROR_SUCCESS) error_ = "cannot delete " + format_key_path(c.key) + ": " + error_text(rc);
            return rc == ERROR_SUCCESS;
        }
        HKEY hkey = nullptr;
        if (!open_key(c.key, false, hkey, error_)) return false;
        const LONG rc = RegDeleteValueW(hkey, c.name->c_str());
        RegCloseKey(hkey);
        if (rc != ERROR_SUCCESS)
            error_ = "cannot delete " + format_key_path(c.key) + " \"" + to_utf8(*c.name) + "\": " + error_text(rc);
        return rc == ERROR_SUCCESS;
    }
    bool operator()(const cmd::RegGet& c) {
        HKEY hkey = nullptr;
        if (!open_key(c.key, false, hkey, error_)) return false;
        DWORD type = 0, size = 0;
        LONG rc = RegQueryValueExW(hkey, c.name.c_str(), nullptr, &type, nullptr, &size);
        Bytes data;
        // The value may grow between the two calls (another process writes it).
        while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
            data.resize(size);
            rc = RegQueryValueExW(hkey, c.name.c_str(), nullptr, &type, data.data(), &size);
            if (rc == ERROR_SUCCESS) {
                data.resize(size);
                break;
            }
        }
        RegCloseKey(hkey);
        if (rc != ERROR_SUCCESS) {
            error_ = "cannot read " + format_key_path(c.key) + " \"" + to_utf8(c.name) + "\": " + error_text(rc);
            return false;
        }
        out_ += format_typed_value(type, data) + "\n";
        return true;
    }
    bool operator()(const cmd::Press& c) {
        if (press_physical_key(c.vk)) notice_ = kQueuedNotice;
        settle_input();
        return true;
    }
    bool operator()(const cmd::Power& c) {
        switch (c.action) {
            case cmd::Power::Action::Button: power_button(); break;
            case cmd::Power::Action::Info: power_info(); break;
            case cmd::Power::Action::SetState: power_set_state(to_utf16(c.state)); break;
        }
        settle_input();
        return true;
    }
    bool operator()(const cmd::IdleTimeout& c) {
        set_idle_timeout(c.ms);
        return true;
    }
    bool operator()(const cmd::Mail& c) {
        if (c.start) {
            if (!mail_start()) error_ = "the mail client cannot start (its program is missing)";
            return error_.empty();
        }
        if (!mail_close()) error_ = "the mail client does not run";
        return error_.empty();
    }
    bool operator()(const cmd::Start& c) { return host_.start(c.exe_path, error_); }
    bool operator()(const cmd::Speed& c) {
        if (!c.factor) {
            out_ += speed_text(handset::clock().speed()) + "\n";
            return true;
        }
        if (handset::clock().kind() == ClockKind::Virtual)
            notice_ = "the virtual clock moves only in waits; its speed changes nothing";
        handset::clock().set_speed(*c.factor);
        return true;
    }
    bool operator()(const cmd::Quit&) { return host_.quit(error_); }
    bool operator()(const cmd::DialogCommand& c) { return noting(ui_command(static_cast<int>(c.id), error_, &queued_)); }
    bool operator()(const cmd::Click& c) { return noting(ui_click(static_cast<int>(c.id), error_, &queued_)); }
    bool operator()(const cmd::Select& c) {
        return noting(ui_select(static_cast<int>(c.id), c.index, error_, &queued_));
    }
    bool operator()(const cmd::Screen&) {
        for (const auto& line : render_screen()) out_.append(line).append("\n");
        return true;
    }
    bool operator()(const cmd::Screenshot& c) { return write_screenshot(c.path, error_); }
    bool operator()(const cmd::Controls&) {
        out_ += controls_json() + "\n";
        return true;
    }
    bool operator()(const cmd::Help&) {
        for (const CommandHelp& help : command_help()) out_.append(help.usage).append("\n");
        return true;
    }
    bool operator()(const cmd::SetFault& c) {
        Fields fields{{"point", fault_name(c.fault)}, {"on", c.on}};
        if (c.after) {
            set_fault_after(c.fault, *c.after);
            fields.set("after", *c.after);
        } else {
            set_fault(c.fault, c.on);
        }
        events().emit("fault", std::move(fields));
        return true;
    }
    bool operator()(const cmd::Battery& c) {
        set_battery_percent(c.percent);
        return true;
    }
    bool operator()(const cmd::Charger& c) {
        set_charger(c.on);
        return true;
    }
    bool operator()(const cmd::FileDelete& c) {
        const FaultExemption phone_itself;
        if (DeleteFileW(c.path.c_str())) return true;
        const DWORD code = GetLastError();
        error_ = "cannot delete " + to_utf8(c.path) + ": " + (code == ERROR_PATH_NOT_FOUND ? "not found" : error_text(code));
        return false;
    }
    bool operator()(const cmd::Foreground& c) {
        host_.relay_child_events();
        if (!bring_to_front(reinterpret_cast<HWND>(c.hwnd))) error_ = "no such window in this instance";
        return error_.empty();
    }

private:
    bool noting(bool ok) {
        if (queued_) notice_ = kQueuedNotice;
        return ok;
    }

    ProgramHost& host_;
    std::string& out_;
    std::string& error_;
    std::string& notice_;
    bool queued_ = false;
};

}  // namespace

bool Executor::run(const Command& command, std::string& out, std::string& error, std::string& notice) {
    error.clear();
    notice.clear();
    Runner runner(host_, out, error, notice);
    const bool ok = std::visit(runner, command);
    host_.await_if_ending();
    if (!ok && error.empty()) error = "`" + command_name(command) + "` failed";
    return ok;
}

}  // namespace phone
