// The host I/O helpers: a descriptor closes once, a lock holds for its scope, and a
// file is read whole whatever its size says.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "common/temp_dir.h"
#include "platform/handset/core/host_io.h"

namespace {

TEST(HostIo, ADescriptorHasOneOwnerAndALockLastsItsScope) {
    qtest::TempDir dir("quillon-io");
    handset::UniqueFd first = handset::open_lock_file(dir / "a.lock");
    ASSERT_TRUE(first);
    handset::UniqueFd moved(std::move(first));
    EXPECT_FALSE(first);
    const handset::UniqueFd other = handset::open_lock_file(dir / "a.lock");
    {
        const handset::FileLock held(moved.get(), LOCK_EX);
        EXPECT_NE(::flock(other.get(), LOCK_EX | LOCK_NB), 0);
    }
    EXPECT_EQ(::flock(other.get(), LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(handset::open_lock_file(dir / "missing" / "b.lock"));
}

TEST(HostIo, FileBytesReadsTheWholeFileEvenWhenItsSizeSaysNothing) {
    qtest::TempDir dir("quillon-io");
    const std::string text(10000, 'q');
    std::ofstream(dir / "data.bin", std::ios::binary) << text;
    handset::FileBytes file;
    ASSERT_TRUE(file.read(dir / "data.bin"));
    EXPECT_EQ(std::string(file.bytes().begin(), file.bytes().end()), text);
    // A pipe has no size: the buffer grows as the bytes come.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], text.data(), 6000), 6000);
    ::close(fds[1]);
    ASSERT_TRUE(file.read("/proc/self/fd/" + std::to_string(fds[0])));
    ::close(fds[0]);
    EXPECT_EQ(file.bytes().size(), 6000u);
    EXPECT_FALSE(file.read(dir / "missing.bin"));
}

}  // namespace
