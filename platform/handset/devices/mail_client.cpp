// The carrier's mail client (\Windows\e mail.exe), emulated inside the handset.
//
// Each start is a process of its own with one participating thread. The client opens
// its top-level window "e-mail", tries to connect through the carrier's phone-book
// entry (it gets through only while the entry is in its allowed form, "DevCfg" and
// "Entry") and then runs its message loop until its window is closed, by WM_CLOSE or
// by the user; its process then ends with code 0. It keeps to one instance: a second
// start hands over to the running client (its window comes to the front) and ends.
//
// Starting and closing return only when the client has got that far, so that a
// script's next command finds it connected, or gone.
#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/handset/core/clock.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/kernel.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/devices/programs.h"
#include "platform/handset/devices/services.h"
#include "platform/handset/registry/state_values.h"
#include "platform/handset/window/wm.h"
#include "platform/winreg.h"
#include "platform/winuser.h"

namespace handset {
namespace {

bool has_value(HKEY key, const char16_t* name) {
    DWORD type = 0, size = 0;
    return RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
}

// The dialler uses the first carrier entry it finds; only its allowed form connects.
bool connect() {
    for (const CarrierEntry& carrier : kCarrierEntries) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, carrier.key, 0, 0, &key) != ERROR_SUCCESS) continue;
        const bool allowed = has_value(key, kEntryValueNames[0]) && has_value(key, kEntryValueNames[1]);
        RegCloseKey(key);
        return allowed;
    }
    return false;
}

LRESULT mail_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return default_window_proc(window, message, wparam, lparam);
}

struct Client {
    std::shared_ptr<ProcessObject> process;
    std::shared_ptr<ThreadObject> thread;
    HWND window = nullptr;  // set once the window is up; MailClients::mu_ guards it
};

class MailClients {
public:
    std::shared_ptr<ProcessObject> start() {
        auto process = new_emulated_process(std::u16string(kMailClientPath));
        if (!process) return nullptr;
        events().emit("process.start", {{"file", to_utf8(kMailClientPath)}});
        auto client = std::make_shared<Client>();
        client->process = process;
        auto ready = std::make_shared<EventObject>(true, false);
        {
            std::lock_guard lock(mu_);
            HWND running = nullptr;
            for (const auto& c : clients_)
                if (c->window) running = c->window;
            clients_.push_back(client);
            client->thread = start_thread([this, client, ready, running] {
                set_current_process(client->process);
                return run(*client, *ready, running);
            });
        }
        std::unique_lock klock(kernel_lock());
        Waitable* const waitables[] = {ready.get()};
        clock().wait(klock, waitables, false, kNoDeadline);
        return process;
    }

    // Asks every client's window to close; with `wait`, returns when they have ended.
    bool close(bool wait) {
        std::vector<std::shared_ptr<Client>> closing;
        {
            std::lock_guard lock(mu_);
            closing = clients_;
        }
        bool any = false;
        for (const auto& c : closing) {
            HWND window;
            {
                std::lock_guard lock(mu_);
                window = c->window;
            }
            if (window && PostMessageW(window, WM_CLOSE, 0, 0)) any = true;
        }
        if (wait) {
            for (const auto& c : closing) {
                std::unique_lock klock(kernel_lock());
                Waitable* const waitables[] = {c->thread.get()};
                clock().wait(klock, waitables, false, kNoDeadline);
            }
        }
        return any;
    }

    bool running() {
        std::lock_guard lock(mu_);
        return !clients_.empty();
    }

private:
    // The client's own thread.
    DWORD run(Client& client, EventObject& ready, HWND running) {
        int code = 0;
        if (running && IsWindow(running)) {
            bring_to_front(running);
            signal(ready);
        } else {
            HWND window = create_top_level_window(u"e-mail", mail_window_proc);
            {
                std::lock_guard lock(mu_);
                client.window = window;
            }
            const bool ok = connect();
            set_window_body(window, {u"받은 편지함", u"", ok ? u"데이터 연결됨" : u"데이터 연결 실패"});
            events().emit("mail.connect", {{"ok", ok}});
            signal(ready);
            code = run_message_loop();
        }
        {
            std::lock_guard lock(mu_);
            std::erase_if(clients_, [&](const auto& c) { return c.get() == &client; });
        }
        release_process_handles(client.process->pid);
        events().emit("process.exit", {{"file", to_utf8(kMailClientPath)}, {"code", code}});
        std::lock_guard klock(kernel_lock());
        client.process->finish(static_cast<DWORD>(code));
        clock().wake_waiters();
        return static_cast<DWORD>(code);
    }

    static void signal(EventObject& event) {
        std::lock_guard klock(kernel_lock());
        event.set();
        clock().wake_waiters();
    }

    std::mutex mu_;
    std::vector<std::shared_ptr<Client>> clients_;  // started and not yet ended
};

MailClients& mail_clients() {
    static MailClients* clients = new MailClients;  // its threads may outlive static destruction
    return *clients;
}

}  // namespace

std::shared_ptr<ProcessObject> start_mail_client() { return mail_clients().start(); }

bool mail_start() { return start_device_program(kMailClientPath).process != nullptr; }
bool mail_close() { return mail_clients().close(true); }
bool mail_running() { return mail_clients().running(); }
void mail_stop_all() { mail_clients().close(true); }

}  // namespace handset
