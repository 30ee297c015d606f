// Starting and ending Quillon: in this host, or as a child host on the same device.
#include "platform/phone/program_host.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "platform/afxwin.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/core/device.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/json.h"
#include "platform/handset/window/wm.h"
#include "platform/windows.h"
#include "res/resources.h"

using namespace handset;

extern char** environ;

namespace phone {
namespace {

// How long `quit` gives the program to end after its end command, in handset time.
constexpr long long kQuitGraceMs = 60'000;


struct WindowSearch {
    DWORD pid;
    HWND found = nullptr;
};

BOOL find_main_window(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != search->pid) return TRUE;
    WCHAR title[64] = {};
    GetWindowTextW(hwnd, title, 64);
    if (std::u16string_view(title) != kMainWindowTitle) return TRUE;
    search->found = hwnd;
    return FALSE;
}

// Passes one event line of a child host on to this host's event log, keeping its time.
void relay_event_line(const std::string& line) {
    Json event = Json::parse(line, nullptr, false);
    if (event.is_discarded() || !event.is_object() || !event.contains("t") || !event.contains("ev") ||
        !event["t"].is_number_integer() || !event["ev"].is_string()) {
        std::fprintf(stderr, "quillon: unexpected output of the second instance: %s\n", line.c_str());
        return;
    }
    const long long t = event["t"].get<long long>();
    const std::string kind = event["ev"].get<std::string>();
    Fields fields;
    for (const auto& [name, value] : event.items())
        if (name != "t" && name != "ev") fields.set(name, json_field(value));
    events().emit_at(t, kind.c_str(), std::move(fields));
}

std::string self_executable() {
    std::error_code ec;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("/proc/self/exe") : path.string();
}

}  // namespace

ProgramHost::ProgramHost() = default;

ProgramHost::~ProgramHost() {
    if (running()) {
        std::string ignored;
        quit(ignored);
    }
    // The program's thread reports its end after its process has ended (the end hook
    // runs on it), so it may still be using this object: wait until it is gone. A
    // program that never ended is not waited for; it dies with the host.
    std::shared_ptr<ThreadObject> thread;
    std::shared_ptr<ProcessObject> process;
    {
        std::lock_guard lock(mu_);
        thread = last_thread_;
        process = process_;
    }
    if (!thread || !process) return;
    std::unique_lock lock(kernel_lock());
    if (!process->ended()) return;
    Waitable* objects[] = {thread.get()};
    handset::clock().wait(lock, objects, false, kNoDeadline);
}

bool ProgramHost::running() const {
    std::lock_guard lock(mu_);
    return thread_ != nullptr;
}

bool ProgramHost::ended_by_itself() const {
    std::lock_guard lock(mu_);
    return ended_by_itself_;
}

void ProgramHost::set_on_end(std::function<void()> callback) {
    // Taken for every call of the callback too: once this returns, the old callback
    // is neither running nor called again.
    std::lock_guard lock(end_mu_);
    on_end_ = std::move(callback);
}

bool ProgramHost::start(const std::optional<std::u16string>& exe_path, std::string& error) {
    const std::u16string exe = exe_path.value_or(program_path());
    const auto host_file = device().host_path(exe);
    std::error_code ec;
    if (!host_file || !std::filesystem::is_regular_file(*host_file, ec)) {
        error = "there is no program at " + to_utf8(exe) + " on the device";
        return false;
    }
    // A program here whose end is under way at this very moment (its end command was
    // handled just now) finishes first, so that the start meets it ended.
    handset::clock().wait_for_rest();
    DWORD pid = 0;
    {
        // Two front-end threads may start at once; only one of them starts it here.
        std::lock_guard lock(start_mu_);
        if (!running() && !start_here(exe, pid, error)) return false;
    }
    if (pid == 0) {
        bool became_first = false;
        if (!start_child(exe, became_first, error)) return false;
        if (!became_first) return true;
        // The program here ended while the second instance started, so that one found
        // no first instance and stayed; its host ended it again, and the start is done
        // here, where the user can reach it.
        std::lock_guard lock(start_mu_);
        if (running()) return true;
        if (!start_here(exe, pid, error)) return false;
    }
    // As the launcher does, return once the program waits for the user (or has ended,
    // as a second instance does), so the next command meets a program that has started.
    // Not under start_mu_: the program may need handset time to get there.
    wait_for_input_idle(pid);
    std::lock_guard lock(mu_);
    if (process_ && process_->pid == pid) started_ = true;
    return true;
}

bool ProgramHost::start_here(const std::u16string& exe_path, DWORD& pid, std::string& error) {
    std::shared_ptr<ProcessObject> process;
    {
        std::lock_guard lock(mu_);
        // The host's own process slot serves the first run; a restart after the program
        // ended is a new process, as it would be on the phone.
        process = runs_ == 0 ? host_process() : new_emulated_process(exe_path);
        if (!process) {
            error = "the device has no free process slot";
            return false;
        }
        {
            std::lock_guard kernel(kernel_lock());
            process->exe_path = exe_path;
        }
        ++runs_;
        started_ = false;
        quitting_ = false;
        ended_by_itself_ = false;
        process_ = process;
    }
    events().emit("process.start", {{"file", to_utf8(exe_path)}});

    auto body = [this, process]() -> DWORD {
        set_current_process(process);
        const DWORD code = static_cast<DWORD>(AfxWinMain(u""));
        release_process_handles(process->pid);
        events().emit("process.exit", {{"file", to_utf8(process->exe_path)}, {"code", code}});
        bool tell_end = false;
        {
            std::lock_guard lock(mu_);
            thread_.reset();
            if (!quitting_) {
                ended_by_itself_ = true;
                tell_end = true;
            }
        }
        // Last, so that whoever waits for the process finds the host's state final and
        // the exit event already in the log.
        {
            std::lock_guard lock(kernel_lock());
            process->finish(code);
            handset::clock().wake_waiters();
        }
        if (tell_end) {
            std::lock_guard lock(end_mu_);
            if (on_end_) on_end_();
        }
        return code;
    };
    std::lock_guard lock(mu_);
    thread_ = start_thread(std::move(body));
    last_thread_ = thread_;
    pid = process->pid;
    return true;
}

std::vector<std::string> ProgramHost::child_arguments(const std::u16string& exe_path) {
    std::ostringstream speed;
    speed << handset::clock().speed();
    return {self_executable(),
            "--child-program",
            "--device",
            device().folder().string(),
            "--exe-path",
            to_utf8(exe_path),
            "--clock",
            handset::clock().kind() == ClockKind::Virtual ? "virtual" : "real",
            "--speed",
            speed.str(),
            "--time-origin",
            std::to_string(handset::clock().now_ms())};
}

bool ProgramHost::start_child(const std::u16string& exe_path, bool& became_first, std::string& error) {
    const std::vector<std::string> args = child_arguments(exe_path);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        error = std::string("cannot start a second instance: ") + std::strerror(errno);
        return false;
    }
    // The read end does not block, so that relay_child_events can take what is there
    // from another thread. It is known there before the child runs: the child may ask
    // this host for something before this thread reads a line.
    ::fcntl(out[0], F_SETFL, ::fcntl(out[0], F_GETFL) | O_NONBLOCK);
    ChildEvents child{out[0], {}};
    {
        std::lock_guard lock(relay_mu_);
        children_.push_back(&child);
    }
    const auto forget_child = [&] {
        std::lock_guard lock(relay_mu_);
        children_.erase(std::find(children_.begin(), children_.end(), &child));
        if (!child.partial.empty()) relay_event_line(child.partial);
        ::close(out[0]);
    };

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    // The child reads nothing; the terminal or the script stays this host's alone.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        forget_child();
        error = std::string("cannot start a second instance: ") + std::strerror(rc);
        return false;
    }

    // The caller keeps taking part in handset time while it reads: time here holds
    // still until the child host has ended.
    for (bool open = true; open;) {
        pollfd ready{out[0], POLLIN, 0};
        if (::poll(&ready, 1, -1) < 0 && errno != EINTR) break;
        std::lock_guard lock(relay_mu_);
        open = relay_available(child);
    }
    forget_child();

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        error = "the second instance was killed by signal " + std::to_string(WTERMSIG(status));
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == kChildHostFailed) {
        error = "the second instance could not run (see its message above)";
        return false;
    }
    became_first = WIFEXITED(status) && WEXITSTATUS(status) == kChildBecameFirst;
    return true;
}

bool ProgramHost::relay_available(ChildEvents& child) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(child.fd, buffer, sizeof buffer);
        if (n == 0) return false;
        if (n < 0) return errno == EINTR || errno == EAGAIN;
        child.partial.append(buffer, static_cast<std::size_t>(n));
        std::size_t begin = 0;
        for (std::size_t end; (end = child.partial.find('\n', begin)) != std::string::npos; begin = end + 1) {
            std::string_view line(child.partial.data() + begin, end - begin);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (!line.empty()) relay_event_line(std::string(line));
        }
        child.partial.erase(0, begin);
    }
}

void ProgramHost::relay_child_events() {
    std::lock_guard lock(relay_mu_);
    for (ChildEvents* child : children_) relay_available(*child);
}

bool ProgramHost::quit(std::string& error) {
    std::shared_ptr<ThreadObject> thread;
    DWORD pid = 0;
    {
        std::lock_guard lock(mu_);
        if (!thread_) {
            error = "Quillon does not run here";
            return false;
        }
        thread = thread_;
        pid = process_->pid;
        quitting_ = true;
    }
    WindowSearch search{pid};
    EnumWindows(&find_main_window, reinterpret_cast<LPARAM>(&search));
    if (!search.found || !PostMessageW(search.found, WM_COMMAND, ID_MENU_EXIT, 0)) {
        std::lock_guard lock(mu_);
        quitting_ = false;
        error = "Quillon has no main window to end it through";
        return false;
    }
    std::unique_lock lock(kernel_lock());
    Waitable* objects[] = {thread.get()};
    if (handset::clock().wait(lock, objects, false, handset::clock().now_ms() + kQuitGraceMs) == kWaitTimeout) {
        // The end command stays in the program's queue: when the program gets to it
        // later, that end is still this command's and not one of its own. Were it
        // counted as its own, a script would stop or go on by which thread came first.
        error = "Quillon did not end within " + std::to_string(kQuitGraceMs / 1000) + " s of its end command";
        return false;
    }
    return true;
}

void ProgramHost::await_if_ending() {
    std::shared_ptr<ThreadObject> thread;
    DWORD pid = 0;
    {
        std::lock_guard lock(mu_);
        // Before its start is done, the program has no main window yet.
        if (!thread_ || quitting_ || !started_) return;
        thread = thread_;
        pid = process_->pid;
    }
    WindowSearch search{pid};
    EnumWindows(&find_main_window, reinterpret_cast<LPARAM>(&search));
    if (search.found) return;
    std::unique_lock lock(kernel_lock());
    Waitable* objects[] = {thread.get()};
    handset::clock().wait(lock, objects, false, kNoDeadline);
}

void ProgramHost::cancel_waits() {
    std::lock_guard lock(kernel_lock());
    waits_cancelled_.set();
    handset::clock().wake_waiters();
}

bool ProgramHost::wait(long long ms) {
    const long long deadline = handset::clock().now_ms() + (ms < 0 ? 0 : ms);
    for (;;) {
        std::shared_ptr<ThreadObject> thread;
        {
            std::lock_guard lock(mu_);
            if (!quitting_) thread = thread_;
        }
        {
            std::unique_lock lock(kernel_lock());
            if (waits_cancelled_.signalled()) return true;
            Waitable* objects[] = {&waits_cancelled_, thread.get()};
            handset::clock().wait(lock, std::span<Waitable* const>(objects, thread ? 2 : 1), false, deadline);
            if (waits_cancelled_.signalled()) return true;
        }
        if (ended_by_itself()) return false;
        // The program may have ended by `quit` from elsewhere: the wait goes on.
        if (handset::clock().now_ms() >= deadline) return true;
    }
}

DWORD ProgramHost::wait_for_end() {
    std::shared_ptr<ThreadObject> thread;
    std::shared_ptr<ProcessObject> process;
    {
        std::lock_guard lock(mu_);
        thread = thread_;
        process = process_;
    }
    if (!process) return 0;
    std::unique_lock lock(kernel_lock());
    if (thread) {
        Waitable* objects[] = {thread.get()};
        handset::clock().wait(lock, objects, false, kNoDeadline);
    }
    return process->exit_code();
}

}  // namespace phone
