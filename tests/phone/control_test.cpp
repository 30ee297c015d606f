// The control socket of a running headless phone and `quillon ctl`.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstring>
#include <fstream>

#include "common/build_paths.h"
#include "common/child_process.h"
#include "common/script_lines.h"
#include "platform/phone/control.h"

using qtest::Child;
using qtest::run_quillon;
using qtest::TempDir;

namespace {

// A headless phone that runs until its stdin closes; ready() returns once it has run a
// first command, which is after its control socket exists.
class RunningPhone : public ::testing::Test {
protected:
    void SetUp() override {
        phone = std::make_unique<Child>(std::vector<std::string>{
            "--device", device().string(), "--headless", "--no-start"});
        ASSERT_TRUE(phone->started());
        phone->send("reg set HKCU\\Software\\Test Ready dword:1\n");
        ASSERT_TRUE(phone->line_containing("\"Ready\"")) << phone->err();
    }
    void TearDown() override {
        if (phone) {
            EXPECT_EQ(phone->finish(), 0) << phone->err();
        }
    }
    qtest::Result ctl(std::vector<std::string> args) {
        args.insert(args.begin(), {"--device", device().string(), "ctl"});
        return run_quillon(args);
    }
    std::filesystem::path device() const { return dir / "device"; }

    // Sends raw bytes to the instance's socket, optionally closing the sending side, and
    // returns everything it answers until it closes the connection.
    std::string raw_exchange(const std::string& bytes, bool half_close) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const std::string path = phone::phone_control_socket(device() / "run").string();
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd);
            return "connect failed: " + std::string(std::strerror(errno));
        }
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (half_close) ::shutdown(fd, SHUT_WR);
        std::string answer;
        char chunk[1024];
        pollfd p{fd, POLLIN, 0};
        while (::poll(&p, 1, qtest::kPipeLimitMs) > 0) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n <= 0) break;
            answer.append(chunk, static_cast<std::size_t>(n));
            if (!half_close && answer.find(".ok\n") != std::string::npos) break;
        }
        ::close(fd);
        return answer;
    }

    TempDir dir;
    std::unique_ptr<Child> phone;
};

TEST_F(RunningPhone, CtlRunsACommandInTheInstanceAndPrintsItsOutput) {
    auto r = ctl({"reg", "get", "HKCU\\Software\\Test", "Ready"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "dword:1\n");

    // The command acts in the instance: its event appears in the instance's output.
    r = ctl({"missed", "5"});
    EXPECT_EQ(r.status, 0) << r.err;
    const auto event = phone->line_containing("Missed Call Count");
    ASSERT_TRUE(event);
    EXPECT_NE(event->find("\"data\":5"), std::string::npos) << *event;

    // Arguments with spaces and backslashes arrive as they were given.
    r = ctl({"reg", "set", "HKCU\\Software\\Test Key", "Some Name", "sz:a b\\c"});
    EXPECT_EQ(r.status, 0) << r.err;
    r = ctl({"reg", "get", "HKCU\\Software\\Test Key", "Some Name"});
    EXPECT_EQ(r.out, "sz:a b\\c\n") << r.err;
}

// `quit` ends the program while its own connection waits: the answer still arrives.
TEST_F(RunningPhone, CtlStartsAndEndsQuillonWithAnAnswerToEach) {
    auto r = ctl({"start"});
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(phone->line_containing("\"dialog.open\""));
    r = ctl({"quit"});
    EXPECT_EQ(r.status, 0) << r.err;
    const auto exit = phone->line_containing("\"process.exit\"");
    ASSERT_TRUE(exit);
    EXPECT_NE(exit->find("Quillon.exe"), std::string::npos) << *exit;
}

// While the main window's thread waits on the mail client it restarted, a key for it
// waits in its queue: ctl answers at once, with a note that the input was queued.
TEST_F(RunningPhone, CtlSaysWhenItsInputWaitsInABusyThreadsQueue) {
    phone->send("start\n" + qtest::Command(ID_MENU_3GSVC) + qtest::Click(IDC_BLOCK_3GSVC) + qtest::Command(IDOK) +
                "mail start\nwait 2t\nstart\n");  // the second start brings the main window back
    ASSERT_TRUE(phone->line_containing("\"mail.connect\",\"ok\":true")) << phone->err();
    ASSERT_TRUE(phone->line_containing("\"window.foreground\",\"title\":\"QUILLON\"")) << phone->err();
    auto r = ctl({"press", "back"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("queued"), std::string::npos) << r.err;
    const std::string answer = raw_exchange("press back\n", true);
    EXPECT_EQ(answer.rfind(".note queued: ", 0), 0u) << answer;
    EXPECT_NE(answer.find("\n.ok\n"), std::string::npos) << answer;
    phone->send("mail close\nwait 1t\n");
    EXPECT_TRUE(phone->line_containing("\"window.hide\",\"title\":\"QUILLON\"")) << "the queued Back, handled";
}

// The instance runs in its own working folder: a relative screenshot name is the caller's.
TEST_F(RunningPhone, CtlWritesAScreenshotWhereTheCallerNamesIt) {
    const auto callers = dir / "caller";
    std::filesystem::create_directory(callers);
    const std::string line = "cd '" + callers.string() + "' && exec '" + std::string(qtest::kQuillonBinary) +
                             "' --device '" + device().string() + "' ctl screenshot home.png";
    auto r = run_quillon({"-c", line}, {}, "/bin/sh");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string png = qtest::read_file(callers / "home.png");
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    const auto be32 = [&](std::size_t at) {
        return (std::uint32_t(std::uint8_t(png[at])) << 24) | (std::uint32_t(std::uint8_t(png[at + 1])) << 16) |
               (std::uint32_t(std::uint8_t(png[at + 2])) << 8) | std::uint8_t(png[at + 3]);
    };
    EXPECT_EQ(be32(16), 320u);  // IHDR width and height
    EXPECT_EQ(be32(20), 240u);

    r = ctl({"screenshot", (dir / "no-such-folder" / "x.png").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no-such-folder"), std::string::npos) << r.err;
}

// Bad input, through `quillon ctl` and raw on the socket, is refused with its error, and
// the instance goes on serving.
TEST_F(RunningPhone, BadInputIsRefusedWithItsErrorAndTheInstanceKeepsServing) {
    enum class Via { Ctl, Client, Socket, SocketHalfClosed };
    enum class Match { Contains, StartsWith, Is };
    struct Case {
        Via via;
        std::vector<std::string> input;  // ctl's arguments, the client's line, or the bytes sent on the socket
        int status;                      // ctl's exit status; the socket answers with text only
        Match match;
        std::string error;               // in ctl's standard error, or the socket's answer
    };
    // clang-format off
    const std::vector<Case> cases = {
        {Via::Ctl, {"reg", "get", "HKCU\\Software\\Test", "Missing"}, 1, Match::Contains, "cannot read"},
        {Via::Ctl, {"wiat", "3s"}, 2, Match::Contains, "unknown command `wiat`"},
        {Via::Ctl, {}, 2, Match::Contains, "give a handset command"},
        // More than the socket's buffers hold: the instance answers and closes while the
        // client still sends, and the client reads the answer it left.
        {Via::Client, {"reg get " + std::string(4 << 20, 'a')}, 0, Match::Is, "command line longer than 4096 bytes"},
        // Refused before the line ends, while the connection stays open.
        {Via::Socket, {std::string(5000, 'a')}, 0, Match::StartsWith, ".error command line longer than 4096 bytes"},
        // The limit leaves out the line break, "\r\n" as well as "\n".
        {Via::SocketHalfClosed, {"#" + std::string(4095, 'a') + "\r\n"}, 0, Match::Is, ".ok\n"},
        {Via::Socket, {"#" + std::string(4096, 'a') + "\r\n"}, 0, Match::StartsWith, ".error command line longer"},
        {Via::SocketHalfClosed, {"wiat 3s\n"}, 0, Match::Is, ".error unknown command `wiat`\n"},
        {Via::SocketHalfClosed, {std::string("missed\0 1\n", 10)}, 0, Match::Is, ".error malformed command: NUL byte\n"},
        // The internal foreground request wants a window handle.
        {Via::SocketHalfClosed, {"foreground zz\n"}, 0, Match::StartsWith, ".error"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input.empty() ? std::string("(no arguments)") : c.input[0].substr(0, 24));
        std::string said;
        if (c.via == Via::Ctl) {
            const auto r = ctl(c.input);
            EXPECT_EQ(r.status, c.status);
            said = r.err;
        } else if (c.via == Via::Client) {
            std::vector<std::string> output;
            EXPECT_FALSE(phone::send_control_command(phone::phone_control_socket(device() / "run"), c.input[0], output, said));
        } else {
            ASSERT_EQ(c.input.size(), 1u);
            said = raw_exchange(c.input[0], c.via == Via::SocketHalfClosed);
        }
        switch (c.match) {
            case Match::Contains: EXPECT_NE(said.find(c.error), std::string::npos) << said; break;
            case Match::StartsWith: EXPECT_EQ(said.rfind(c.error, 0), 0u) << said; break;
            case Match::Is: EXPECT_EQ(said, c.error); break;
        }
    }

    // Several commands on one connection, the last one without a line break before the
    // sending side closes.
    EXPECT_EQ(raw_exchange("# nothing\nreg get HKCU\\Software\\Test Ready\nsms 2\nreg get HKCU\\Software\\Test Ready", true),
              ".ok\ndword:1\n.ok\n.ok\ndword:1\n.ok\n");

    // The instance is still there.
    const auto r = ctl({"reg", "get", "HKCU\\Software\\Test", "Ready"});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(RunningPhone, SocketAndRunFolderAreOwnerOnly) {
    struct stat st {};
    ASSERT_EQ(::stat((device() / "run").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(phone::phone_control_socket(device() / "run").c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0077, 0u);
}

// A phone that finds its run folder gone or open to others makes it again or restricts
// it before it listens, and answers `quillon ctl` all the same.
TEST(Ctl, APhoneMendsItsRunFolder) {
    namespace fs = std::filesystem;
    const struct {
        const char* name;
        void (*spoil)(const fs::path& run);
        const char* swept;  // a file the phone's start removes, or null
    } cases[] = {
        {"removed", [](const fs::path& run) { fs::remove_all(run); }, nullptr},
        {"opened to all", [](const fs::path& run) { fs::permissions(run, fs::perms::all); }, nullptr},
        // Files named as sockets of no process that can be: the phone's sweep of stale
        // sockets and ctl's search for a live one pass over them. The socket of a process
        // that is gone (a pid above any the kernel gives) is swept.
        {"stray socket names",
         [](const fs::path& run) {
             for (const char* name :
                  {"ctl-99999999999.sock", "ctl--5.sock", "ctl-.sock", "ctl-12x.sock", "ctl-2147483646.sock"})
                 std::ofstream(run / name).put('x');
         },
         "ctl-2147483646.sock"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const fs::path device = dir / "device";
        ASSERT_EQ(run_quillon({"--device", device.string(), "--headless", "--no-start"}, "").status, 0);
        c.spoil(device / "run");
        Child phone({"--device", device.string(), "--headless", "--no-start"});
        ASSERT_TRUE(phone.started()) << c.name;
        phone.send("reg set HKCU\\Software\\Test Ready dword:1\n");
        ASSERT_TRUE(phone.line_containing("\"Ready\"")) << c.name << ": " << phone.err();
        const auto r = run_quillon({"--device", device.string(), "ctl", "reg", "get", "HKCU\\Software\\Test", "Ready"});
        EXPECT_EQ(r.out, "dword:1\n") << c.name << ": " << r.err;
        struct stat st {};
        ASSERT_EQ(::stat((device / "run").c_str(), &st), 0) << c.name;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << c.name;
        if (c.swept) {
            EXPECT_FALSE(fs::exists(device / "run" / c.swept)) << c.name;
            EXPECT_TRUE(fs::exists(device / "run" / "ctl-12x.sock")) << c.name;
        }
        EXPECT_EQ(phone.finish(), 0) << c.name << ": " << phone.err();
    }
}

TEST(Ctl, NoRunningInstanceIsAnError) {
    TempDir dir;
    // A device that exists but has no phone running on it.
    ASSERT_EQ(run_quillon({"--device", (dir / "device").string(), "--headless", "--no-start"}, "").status, 0);
    for (const char* lock : {"", "99999999999\n", "-1\n", "pid\n"}) {
        std::ofstream(dir / "device" / "run" / "phone.lock") << lock;
        const auto r = run_quillon({"--device", (dir / "device").string(), "ctl", "screen"});
        EXPECT_EQ(r.status, 1) << lock;
        EXPECT_NE(r.err.find("no Quillon instance runs"), std::string::npos) << lock << r.err;
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir / "device" / "run"))
        EXPECT_FALSE(entry.is_socket()) << entry.path();
}

}  // namespace
