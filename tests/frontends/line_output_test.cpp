// A run's outputs when the disk will not take them: a log keeps whole lines only and
// says once that it ended.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/child_process.h"
#include "platform/frontends/line_output.h"

using frontends::LineOutput;

namespace {

// Writes `pieces` to a log at `path` in a child process whose files may grow to `limit`
// bytes (past it a write fails as on a full disk); the child's reports, one a line.
std::string write_with_limit(const std::filesystem::path& path, rlim_t limit, const std::vector<std::string>& pieces) {
    int report_pipe[2];
    if (::pipe(report_pipe) != 0) return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(report_pipe[0]);
        ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
        const rlimit lim{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        std::string error;
        const auto out = LineOutput::create(
            path,
            [&](const std::string& text) {
                const std::string line = text + "\n";
                [[maybe_unused]] ssize_t n = ::write(report_pipe[1], line.data(), line.size());
            },
            error);
        for (const auto& p : pieces) out->write(p);
        ::_exit(out->ended() ? 1 : 0);
    }
    ::close(report_pipe[1]);
    std::string reports;
    char chunk[512];
    for (ssize_t n; (n = ::read(report_pipe[0], chunk, sizeof chunk)) > 0;)
        reports.append(chunk, static_cast<std::size_t>(n));
    ::close(report_pipe[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return reports + (WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status)) : "killed");
}

TEST(LineOutput, AFailedWriteEndsTheOutputAndLeavesWholePiecesOnly) {
    qtest::TempDir dir;
    const std::vector<std::string> lines{"{\"ev\":\"one\",\"pad\":\"xxxxx\"}\n", "{\"ev\":\"two\",\"pad\":\"xxxxx\"}\n",
                                         "{\"ev\":\"three\",\"pad\":\"xxx\"}\n",
                                         "{\"ev\":\"four\",\"pad\":\"xxxx\"}\n"};
    const std::string two = lines[0] + lines[1];
    struct Case {
        const char* what;
        rlim_t limit;
        std::string file;
        bool ends = true;
    } cases[] = {
        {"room for all", 4096, lines[0] + lines[1] + lines[2] + lines[3], false},
        // The third piece goes in part: it is taken back, and the fourth, which would
        // fit after that, is not written either.
        {"room for two and a half", two.size() + 10, two},
        {"room for exactly two", two.size(), two},
        {"room for nothing", 0, ""},
    };
    for (const auto& c : cases) {
        const auto log = dir / "events.log";
        const std::string reports = write_with_limit(log, c.limit, lines);
        EXPECT_EQ(qtest::read_file(log), c.file) << c.what;
        EXPECT_EQ(reports,
                  c.ends ? "cannot write " + log.string() + ": File too large; it ends with its last whole line\nexit 1"
                         : "exit 0")
            << c.what;
    }
}

// An output that is not the run's own file is never cut back; it only stops.
TEST(LineOutput, AFullDeviceIsReportedOnceAndNothingMoreIsTried) {
    const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::vector<std::string> reports;
    LineOutput out(fd, "stdout", [&](const std::string& text) { reports.push_back(text); });
    EXPECT_FALSE(out.write("first\n"));
    EXPECT_FALSE(out.write("second\n"));
    EXPECT_TRUE(out.ended());
    EXPECT_EQ(reports,
              std::vector<std::string>{"cannot write stdout: No space left on device; nothing more goes to it"});
    ::close(fd);
}

}  // namespace
