// The host's own pid, kept to spare a system call, must never be the parent's in a
// forked child: the window table would take the parent's windows for the child's own.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/handset/core/process.h"

namespace {

// Runs `check` in a forked child; true when it held there.
template <class F>
bool holds_in_child(F check) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(check() ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(SelfPid, IsTheCallersOwnInParentAndForkedChildren) {
    EXPECT_EQ(handset::self_os_pid(), ::getpid());
    EXPECT_TRUE(holds_in_child([] { return handset::self_os_pid() == ::getpid(); }));
    // A grandchild too, and the parent keeps its own.
    EXPECT_TRUE(holds_in_child([] {
        return handset::self_os_pid() == ::getpid() &&
               holds_in_child([] { return handset::self_os_pid() == ::getpid(); });
    }));
    EXPECT_EQ(handset::self_os_pid(), ::getpid());
    EXPECT_TRUE(handset::host_alive(static_cast<DWORD>(::getpid()) << 8));
}

}  // namespace
