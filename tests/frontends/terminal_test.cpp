// The terminal phone under tmux: what it shows and how it answers the phone's keys; and
// under a bare pseudo-terminal that goes away.
//
// The pane's output is piped into a FIFO; the test waits on that FIFO for the next
// output and then looks at the pane with capture-pane, so it never sleeps. The phone's
// exit status comes back through a second FIFO: with tmux's own `wait-for`, a waiter
// that came after the last session had ended could wait for good (the server had
// dropped the signalled channel, and nothing signals the new one).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>

#include <nlohmann/json.hpp>

#include "common/build_paths.h"
#include "common/child_process.h"

using qtest::TempDir;

namespace {

std::string shell_output(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char chunk[4096];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, p)) > 0) out.append(chunk, n);
        ::pclose(p);
    }
    return out;
}

class TerminalPhone : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
        fifo_ = dir / "pane.fifo";
        ASSERT_EQ(::mkfifo(fifo_.c_str(), 0600), 0);
        fifo_fd_ = ::open(fifo_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fifo_fd_, 0);
        status_fifo_ = dir / "status.fifo";
        ASSERT_EQ(::mkfifo(status_fifo_.c_str(), 0600), 0);
        status_fd_ = ::open(status_fifo_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(status_fd_, 0);
    }
    void TearDown() override {
        if (started_) tmux("kill-server");
        if (fifo_fd_ >= 0) ::close(fifo_fd_);
        if (status_fd_ >= 0) ::close(status_fd_);
    }

    std::string tmux(const std::string& args) {
        return shell_output("tmux -S " + (dir / "tmux.sock").string() + " " + args + " 2>&1");
    }

    // Starts the phone in a 120 x 32 pane; the phone waits until the pane is piped.
    void start(const std::string& options) {
        const std::string sock = (dir / "tmux.sock").string();
        const std::string phone = std::string(qtest::kQuillonBinary) + " --device " + (dir / "device").string() + " " +
                                  options + "; echo $? > " + status_fifo_.string();
        const std::string script = "tmux -S " + sock + " wait-for go; " + phone;
        tmux("-f /dev/null new-session -d -x 120 -y 32 -s phone -e LANG=C.UTF-8 \"" + script + "\"");
        started_ = true;
        tmux("pipe-pane -t phone 'cat >> " + fifo_.string() + "'");
        tmux("wait-for -S go");
    }

    std::string screen() { return tmux("capture-pane -p -t phone"); }

    // Waits until the pane shows what `ok` wants, re-reading it after each output.
    bool wait_for(const std::function<bool(const std::string&)>& ok) {
        for (;;) {
            last_ = screen();
            if (ok(last_)) return true;
            pollfd p{fifo_fd_, POLLIN, 0};
            if (::poll(&p, 1, qtest::kPipeLimitMs) <= 0) return false;
            char chunk[65536];
            while (::read(fifo_fd_, chunk, sizeof chunk) > 0) {
            }
        }
    }
    bool shows(const std::string& text) {
        return wait_for([&](const std::string& s) { return s.find(text) != std::string::npos; });
    }
    bool hides(const std::string& text) {
        return wait_for([&](const std::string& s) { return s.find(text) == std::string::npos; });
    }
    void keys(const std::string& names) { tmux("send-keys -t phone " + names); }

    // Waits for the phone's process to end and returns its exit status; -1 when it has
    // not ended within the limit. Until the pane's shell opens the FIFO to write, a
    // poll of its read end waits; once the shell has written and closed it, it reads
    // to its end.
    int exit_status() {
        std::string text;
        pollfd p{status_fd_, POLLIN, 0};
        while (::poll(&p, 1, qtest::kPipeLimitMs) > 0) {
            char chunk[32];
            const ssize_t n = ::read(status_fd_, chunk, sizeof chunk);
            if (n <= 0) break;
            text.append(chunk, static_cast<std::size_t>(n));
        }
        return text.empty() ? -1 : std::atoi(text.c_str());
    }

    TempDir dir;
    std::filesystem::path fifo_;
    int fifo_fd_ = -1;
    std::filesystem::path status_fifo_;
    int status_fd_ = -1;
    bool started_ = false;
    std::string last_;
};

// The headless phone reading a terminal: a mistyped command is named and the run goes
// on; `help` lists the commands.
TEST_F(TerminalPhone, HeadlessAtATerminalReportsAMistypedCommandAndGoesOn) {
    start("--headless --no-start");
    keys("'mised 1' Enter");
    ASSERT_TRUE(shows("(`help` lists the commands)")) << last_;
    keys("'help' Enter");
    ASSERT_TRUE(shows("missed N|+N")) << last_;
    keys("'missed 1' Enter");
    ASSERT_TRUE(shows("\"name\":\"Missed Call Count\"")) << last_;
    keys("'quit' Enter C-d");
    EXPECT_EQ(exit_status(), 0) << last_;
}

TEST_F(TerminalPhone, ShowsQuillonAndAnswersTheSoftKeysAndBack) {
    start("");
    ASSERT_TRUE(shows("Quillon handset emulator")) << last_;
    ASSERT_TRUE(shows("QUILLON")) << last_;
    EXPECT_NE(last_.find("Missed"), std::string::npos) << last_;  // the device panel

    keys("F2");  // the right soft key opens the menu
    ASSERT_TRUE(shows("프로그램 종료")) << last_;
    keys("Escape");  // Back closes it again
    ASSERT_TRUE(hides("프로그램 종료")) << last_;

    keys("F1");  // "닫기" hides the window: the home screen comes up
    ASSERT_TRUE(shows("부재중 전화")) << last_;
    keys("F1");  // its "Quillon" soft key brings the running instance back
    ASSERT_TRUE(hides("부재중 전화")) << last_;
    EXPECT_NE(last_.find("QUILLON"), std::string::npos) << last_;

    keys(": m i s s e d Space 4 Enter");  // the command line takes handset commands
    ASSERT_TRUE(wait_for([](const std::string& s) { return s.find("Missed     4") != std::string::npos; })) << last_;

    keys(": p r e s s Space v k : 1 3 3 Enter");  // the key-lock key: the lock screen covers Quillon
    ASSERT_TRUE(shows("키패드 잠김")) << last_;
    EXPECT_EQ(last_.find("모델"), std::string::npos) << last_;
    keys("F1 '*'");  // the left soft key, then star, unlocks
    ASSERT_TRUE(hides("키패드 잠김")) << last_;
    EXPECT_NE(last_.find("Keypad     unlocked"), std::string::npos) << last_;

    keys(": r e g Space g e t Space x Enter");  // a malformed command is refused on the spot
    ASSERT_TRUE(shows("error: `reg get` needs KEY NAME")) << last_;

    keys("F10");  // leaving the emulator ends Quillon by its own end command
    EXPECT_EQ(exit_status(), 0);
}

// The program's own events of a log, without their times: the keys themselves, whose
// key-up the real clock places as it comes, and the measured length of a vibration
// pulse are the clocks', not the program's.
std::vector<nlohmann::json> program_events(const std::string& log) {
    std::vector<nlohmann::json> events;
    for (const std::string& line : qtest::lines_of(log)) {
        nlohmann::json e = nlohmann::json::parse(line);
        if (e["ev"] == "key") continue;
        e.erase("t");
        if (e["ev"] == "vibrate") e.erase("ms");
        events.push_back(std::move(e));
    }
    return events;
}

TEST_F(TerminalPhone, ARecordedSessionReplaysHeadlessToTheSameProgramEvents) {
    const auto record = dir / "session.script";
    start("--speed 10 --log " + (dir / "events.log").string() + " --record " + record.string());
    ASSERT_TRUE(shows("QUILLON")) << last_;
    keys("F2");
    ASSERT_TRUE(shows("프로그램 종료")) << last_;
    keys("Down Enter");  // the alert settings
    ASSERT_TRUE(shows("부재중알림 설정")) << last_;
    keys("Down Enter");  // the SMS reminder off
    ASSERT_TRUE(shows("[ ] 부재중SMS")) << last_;
    keys("F1");  // 확인: back to the main window
    ASSERT_TRUE(shows("모델: SCH-M620")) << last_;
    keys(": m i s s e d Space 2 Enter");
    ASSERT_TRUE(shows("Missed     2")) << last_;
    keys("F10");
    ASSERT_EQ(exit_status(), 0);

    const auto replayed = qtest::run_quillon({"--headless", "--no-start", "--device", (dir / "new").string(),
                                               "--script", record.string(), "--log", (dir / "replay.log").string()});
    ASSERT_EQ(replayed.status, 0) << replayed.err << qtest::read_file(record);
    const auto session = program_events(qtest::read_file(dir / "events.log"));
    EXPECT_EQ(program_events(qtest::read_file(dir / "replay.log")), session) << qtest::read_file(record);
    EXPECT_GT(session.size(), 10u);
}

TEST_F(TerminalPhone, LeavingEndsQuillonNormally) {
    start("--log " + (dir / "events.log").string());
    ASSERT_TRUE(shows("QUILLON")) << last_;
    keys("C-c");
    EXPECT_EQ(exit_status(), 0);
    const std::string log = qtest::read_file(dir / "events.log");
    // The program's own end: its timer stopped and its dialog closed before it exited.
    EXPECT_NE(log.find("\"ev\":\"timer.kill\""), std::string::npos) << log;
    EXPECT_NE(log.find("\"ev\":\"dialog.close\""), std::string::npos) << log;
    EXPECT_NE(log.find("\"ev\":\"process.exit\""), std::string::npos) << log;
    // Nothing of the phone's run was left behind in its run folder.
    for (const auto& entry : std::filesystem::directory_iterator(dir / "device" / "run"))
        EXPECT_FALSE(entry.is_socket()) << entry.path();
}

TEST_F(TerminalPhone, HomeScreenWithoutQuillonAndATooSmallTerminal) {
    start("--no-start");
    ASSERT_TRUE(shows("부재중 전화")) << last_;
    EXPECT_NE(last_.find("Quillon"), std::string::npos) << last_;  // the left soft key's label

    tmux("resize-window -t phone -x 50 -y 12");
    ASSERT_TRUE(shows("Terminal too small")) << last_;
    tmux("resize-window -t phone -x 120 -y 32");
    ASSERT_TRUE(shows("부재중 전화")) << last_;

    keys("F10");
    EXPECT_EQ(exit_status(), 0);
}

// The phone on a bare pseudo-terminal, its controlling terminal; `env` is all of its
// environment.
struct PtyPhone {
    pid_t pid = -1;
    int master = -1;
    int pidfd = -1;
};

PtyPhone start_on_pty(const std::vector<std::string>& options, std::vector<std::string> env) {
    PtyPhone phone;
    phone.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (phone.master < 0 || ::grantpt(phone.master) != 0 || ::unlockpt(phone.master) != 0) return phone;
    const winsize size{32, 120, 0, 0};
    ::ioctl(phone.master, TIOCSWINSZ, &size);
    const std::string slave = ::ptsname(phone.master);

    // A session of its own, so that the slave becomes its controlling terminal.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd < 3; ++fd) posix_spawn_file_actions_addopen(&actions, fd, slave.c_str(), O_RDWR, 0);
    std::vector<std::string> args{qtest::kQuillonBinary};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (::posix_spawn(&phone.pid, argv[0], &actions, &attr, argv.data(), envp.data()) == 0)
        phone.pidfd = static_cast<int>(::syscall(SYS_pidfd_open, phone.pid, 0));
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return phone;
}

// Reads what the phone writes to its terminal until `enough` holds, the terminal has
// nothing more, or the limit passes.
std::string read_pty(int master, const std::function<bool(const std::string&)>& enough) {
    std::string text;
    const auto deadline = qtest::Clock::now() + qtest::kStuckLimit;
    while (!enough(text) && qtest::Clock::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, qtest::kPipeLimitMs) <= 0) break;
        char chunk[4096];
        const ssize_t n = ::read(master, chunk, sizeof chunk);
        if (n <= 0) break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    return text;
}

// Waits for the phone's end within the limit (killing it past that) and returns its
// wait status; nullopt when it had to be killed.
std::optional<int> wait_end(PtyPhone& phone) {
    pollfd ended{phone.pidfd, POLLIN, 0};
    const bool exited = ::poll(&ended, 1, static_cast<int>(qtest::kStuckLimit / std::chrono::milliseconds(1))) == 1;
    if (!exited) ::kill(phone.pid, SIGKILL);
    int status = 0;
    ::waitpid(phone.pid, &status, 0);
    ::close(phone.pidfd);
    if (!exited) return std::nullopt;
    return status;
}

// A closed terminal window or a dropped ssh link: the pseudo-terminal's master side
// closes under the phone, which then ends Quillon as F10 does and exits.
TEST(TerminalGone, ClosingThePseudoTerminalEndsThePhoneNormally) {
    TempDir dir;
    const std::string log = (dir / "events.log").string();
    PtyPhone phone =
        start_on_pty({"--device", (dir / "device").string(), "--log", log}, {"TERM=xterm", "LANG=C.UTF-8"});
    ASSERT_GE(phone.pidfd, 0);

    // Up once it has drawn Quillon's main window.
    const std::string drawn =
        read_pty(phone.master, [](const std::string& t) { return t.find("QUILLON") != std::string::npos; });
    EXPECT_NE(drawn.find("QUILLON"), std::string::npos);
    ::close(phone.master);
    ASSERT_TRUE(wait_end(phone)) << "the phone outlived its terminal";
    const std::string events = qtest::read_file(log);
    // Quillon's own end: its dialog closed before its process exited.
    EXPECT_NE(events.find("\"ev\":\"dialog.close\",\"id\":102"), std::string::npos) << events;
    EXPECT_NE(events.find("\"ev\":\"process.exit\""), std::string::npos) << events;
}

// ncursesw is loaded when the terminal phone starts. A library of that name that lacks
// what the phone calls (here the C library's libm, found first on LD_LIBRARY_PATH) is
// named as the cause, and the phone leaves with the status of a command that failed.
TEST(TerminalLibrary, ACursesWithoutItsFunctionsIsNamedAndThePhoneLeaves) {
    TempDir dir;
    Dl_info libm{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(static_cast<double (*)(double)>(&::cos)), &libm), 0);
    std::filesystem::create_directory(dir / "lib");
    std::filesystem::create_symlink(std::filesystem::canonical(libm.dli_fname), dir / "lib" / "libncursesw.so.6");

    PtyPhone phone = start_on_pty({"--device", (dir / "device").string()},
                                  {"TERM=xterm", "LANG=C.UTF-8", "LD_LIBRARY_PATH=" + (dir / "lib").string()});
    ASSERT_GE(phone.pidfd, 0);
    const std::string said = read_pty(phone.master, [](const std::string&) { return false; });
    ::close(phone.master);
    const std::optional<int> status = wait_end(phone);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << *status;
    EXPECT_NE(said.find("the host's ncursesw lacks functions the terminal needs"), std::string::npos) << said;
}

}  // namespace
