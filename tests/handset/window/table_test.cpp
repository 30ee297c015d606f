// The device's window table across host processes: a second host on the same device
// folder (this test program run again as WindowTableChild.Host) lists its windows; this
// host finds, enumerates and asks for them, and forgets them once that host has died.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "window_fixture.h"

extern char** environ;

namespace {

// The child host: opens the device folder it is given, shows one window, hides another,
// reports the first window's handle and thread, and waits until the parent closes its
// end of the pipe. It then ends without withdrawing its rows, as a crashed host would.
TEST(WindowTableChild, Host) {
    const char* folder = getenv("QUILLON_WINDOW_CHILD_DEVICE");
    if (!folder) GTEST_SKIP() << "runs only as the second host of the window table test";
    const int out = atoi(getenv("QUILLON_WINDOW_CHILD_OUT"));
    const int in = atoi(getenv("QUILLON_WINDOW_CHILD_IN"));
    handset::DeviceOptions options;
    options.folder = folder;
    options.exe_path = u"\\Windows\\child.exe";
    handset::Device device(options);
    handset::set_device(&device);
    HWND shown = handset::create_top_level_window(u"child-window", handset::default_window_proc);
    HWND hidden = handset::create_top_level_window(u"child-hidden", handset::default_window_proc);
    ShowWindow(hidden, SW_HIDE);
    dprintf(out, "%llu %u\n", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(shown)),
            GetCurrentThreadId());
    close(out);
    char c;
    while (read(in, &c, 1) > 0) {
    }
    _exit(0);
}

struct ChildHost {
    pid_t pid = -1;
    int release = -1;  // closing it lets the child end
    HWND hwnd = nullptr;
    DWORD tid = 0;
};

ChildHost start_child(const std::filesystem::path& folder) {
    ChildHost child;
    int to_parent[2], to_child[2];
    if (pipe(to_parent) != 0 || pipe(to_child) != 0) return child;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::vector<std::string> env_strings = {
        "QUILLON_WINDOW_CHILD_DEVICE=" + folder.string(),
        "QUILLON_WINDOW_CHILD_OUT=" + std::to_string(to_parent[1]),
        "QUILLON_WINDOW_CHILD_IN=" + std::to_string(to_child[0]),
    };
    std::vector<char*> env;
    for (char** e = environ; *e; ++e) env.push_back(*e);
    for (auto& s : env_strings) env.push_back(s.data());
    env.push_back(nullptr);
    std::string filter = "--gtest_filter=WindowTableChild.Host";
    char* argv[] = {const_cast<char*>(self.c_str()), filter.data(), nullptr};
    const int devnull = open("/dev/null", O_WRONLY);

    child.pid = fork();
    if (child.pid == 0) {
        close(to_parent[0]);
        close(to_child[1]);
        dup2(devnull, STDOUT_FILENO);
        execve(self.c_str(), argv, env.data());
        _exit(127);
    }
    close(devnull);
    close(to_parent[1]);
    close(to_child[0]);
    child.release = to_child[1];
    std::string line;
    char c;
    while (read(to_parent[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    close(to_parent[0]);
    unsigned long long hwnd = 0;
    unsigned tid = 0;
    if (std::sscanf(line.c_str(), "%llu %u", &hwnd, &tid) == 2) {
        child.hwnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(hwnd));
        child.tid = tid;
    }
    return child;
}

void end_child(ChildHost& child) {
    if (child.release >= 0) close(child.release);
    child.release = -1;
    int status = 0;
    if (child.pid > 0) waitpid(child.pid, &status, 0);
    child.pid = -1;
}

std::vector<HWND> enumerated() {
    std::vector<HWND> list;
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&list));
    return list;
}

HWND with_low_bit(HWND h) { return reinterpret_cast<HWND>(reinterpret_cast<std::uintptr_t>(h) | 1); }

TEST_F(WindowTest, WindowsOfAnotherHostAreFoundEnumeratedAndAskedToComeToTheFront) {
    HWND mine = handset::create_top_level_window(u"parent-window", handset::default_window_proc);
    ChildHost child = start_child(root_ / "device");
    ASSERT_NE(child.hwnd, nullptr);

    EXPECT_EQ(FindWindowW(nullptr, u"child-window"), child.hwnd);
    HWND hidden = FindWindowW(u"AnyClass", u"child-hidden");
    ASSERT_NE(hidden, nullptr);
    DWORD pid = 0;
    EXPECT_EQ(GetWindowThreadProcessId(child.hwnd, &pid), child.tid);
    EXPECT_EQ(handset::host_pid_of(pid), child.pid);
    EXPECT_EQ(handset::process_exe_path(pid), u"\\Windows\\child.exe");
    WCHAR title[32];
    EXPECT_EQ(GetWindowTextW(child.hwnd, title, 32), 12);
    EXPECT_EQ(std::u16string(title), u"child-window");
    EXPECT_TRUE(IsWindow(child.hwnd));
    EXPECT_TRUE(IsWindowVisible(child.hwnd));
    EXPECT_FALSE(IsWindowVisible(hidden));
    EXPECT_FALSE(ShowWindow(child.hwnd, SW_HIDE));  // another host's windows are not ours to change

    // Most recently activated first, across hosts.
    EXPECT_EQ(enumerated(), (std::vector<HWND>{hidden, child.hwnd, mine}));
    EXPECT_TRUE(SetForegroundWindow(mine));
    EXPECT_EQ(enumerated(), (std::vector<HWND>{mine, hidden, child.hwnd}));

    std::vector<std::pair<DWORD, HWND>> requests;
    handset::set_remote_foreground_handler([&](DWORD p, HWND h) {
        requests.emplace_back(p, h);
        return true;
    });
    EXPECT_TRUE(SetForegroundWindow(with_low_bit(child.hwnd)));
    EXPECT_EQ(requests, (std::vector<std::pair<DWORD, HWND>>{{pid, child.hwnd}}));
    handset::set_remote_foreground_handler(nullptr);
    EXPECT_FALSE(SetForegroundWindow(child.hwnd));

    // The child dies with its rows still in the table: they no longer count.
    end_child(child);
    EXPECT_EQ(FindWindowW(nullptr, u"child-window"), nullptr);
    EXPECT_FALSE(IsWindow(child.hwnd));
    EXPECT_EQ(handset::process_exe_path(pid), u"");
    EXPECT_EQ(GetWindowThreadProcessId(child.hwnd, nullptr), 0u);
    EXPECT_EQ(enumerated(), (std::vector<HWND>{mine}));
    DestroyWindow(mine);
    EXPECT_EQ(FindWindowW(nullptr, u"parent-window"), nullptr);
}

TEST_F(WindowTest, FindWindowWithoutATitleTakesTheFrontmostWindow) {
    EXPECT_EQ(FindWindowW(nullptr, nullptr), nullptr);
    HWND a = handset::create_top_level_window(u"a", handset::default_window_proc);
    HWND b = handset::create_top_level_window(u"b", handset::default_window_proc);
    EXPECT_EQ(FindWindowW(nullptr, nullptr), b);
    SetForegroundWindow(a);
    EXPECT_EQ(FindWindowW(nullptr, nullptr), a);
    DestroyWindow(a);
    DestroyWindow(b);
}

}  // namespace
