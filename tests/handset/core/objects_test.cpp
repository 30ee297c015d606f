// Named mutexes across processes, device paths, files and the platform formatter.
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "core_fixture.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/process.h"
#include "platform/winbase.h"

namespace {

using ObjectsTest = CoreTest;

// Runs `body` in a forked child and returns its exit status.
template <class F>
int in_child(F body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ObjectsTest, NamedMutexIsSeenByASecondProcessUntilTheFirstEnds) {
    HANDLE mine = CreateMutexW(nullptr, TRUE, u"_QUILLON_");
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_TRUE(ReleaseMutex(mine));
    EXPECT_FALSE(ReleaseMutex(mine));  // no longer owned

    EXPECT_EQ(in_child([] {
                  HANDLE h = CreateMutexW(nullptr, TRUE, u"_QUILLON_");
                  return h && GetLastError() == ERROR_ALREADY_EXISTS ? 0 : 1;
              }),
              0);
    // Names are case-sensitive, as on the platform.
    EXPECT_EQ(in_child([] {
                  HANDLE h = CreateMutexW(nullptr, FALSE, u"_quillon_");
                  return h && GetLastError() == 0 ? 0 : 1;
              }),
              0);

    CloseHandle(mine);
    EXPECT_EQ(in_child([] {
                  HANDLE h = CreateMutexW(nullptr, TRUE, u"_QUILLON_");
                  return h && GetLastError() == 0 ? 0 : 1;
              }),
              0);
}

TEST_F(ObjectsTest, AKilledHolderLeavesNoName) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        CreateMutexW(nullptr, FALSE, u"/Program Files/Quillon/Quillon.exe");
        char c = 1;
        (void)!write(ready[1], &c, 1);
        pause();
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    HANDLE seen = CreateMutexW(nullptr, FALSE, u"/Program Files/Quillon/Quillon.exe");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(seen);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    HANDLE fresh = CreateMutexW(nullptr, FALSE, u"/Program Files/Quillon/Quillon.exe");
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(fresh);
}

TEST_F(ObjectsTest, ProcessEndReleasesItsHandles) {
    auto process = handset::new_emulated_process(u"\\Windows\\other.exe");
    handset::set_current_process(process);
    HANDLE h = CreateMutexW(nullptr, FALSE, u"held-by-process");
    handset::set_current_process(nullptr);
    ASSERT_NE(h, nullptr);
    handset::release_process_handles(process->pid);
    HANDLE again = CreateMutexW(nullptr, FALSE, u"held-by-process");
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(again);
}

TEST_F(ObjectsTest, DevicePathsStayInsideTheFileSystem) {
    const auto& dev = handset::device();
    EXPECT_EQ(dev.host_path(u"\\Windows\\StartUp"), dev.fs_root() / "Windows" / "StartUp");
    // Case does not matter on the device; the existing spelling is used.
    EXPECT_EQ(dev.host_path(u"\\WINDOWS\\startup"), dev.fs_root() / "Windows" / "StartUp");
    EXPECT_FALSE(dev.host_path(u"\\..\\registry.db"));
    EXPECT_FALSE(dev.host_path(u"\\Windows\\..\\..\\run"));
    EXPECT_FALSE(dev.host_path(u"relative\\path"));
    std::filesystem::create_directory_symlink("/etc", dev.fs_root() / "escape");
    EXPECT_FALSE(dev.host_path(u"\\escape\\passwd"));
}

// Opening for reading takes the kernel's one-call resolution when it can and the
// name-by-name walk when it cannot; either way it opens exactly what host_path() allows.
TEST_F(ObjectsTest, OpeningForReadingFollowsTheDevicePathRules) {
    namespace fs = std::filesystem;
    const auto& dev = handset::device();
    const fs::path root = dev.fs_root();
    fs::create_directories(root / "Sounds" / "Inner");
    std::ofstream(root / "Sounds" / "Inner" / "a.wav") << "inside";
    const fs::path outside = dev.folder() / "outside.txt";
    std::ofstream(outside) << "outside";
    fs::create_symlink("Inner/a.wav", root / "Sounds" / "relative.wav");
    fs::create_symlink(root / "Sounds" / "Inner" / "a.wav", root / "Sounds" / "absolute.wav");
    fs::create_symlink("../../outside.txt", root / "Sounds" / "up.wav");
    fs::create_symlink(outside, root / "Sounds" / "out.wav");
    fs::create_directory_symlink(dev.folder(), root / "Sounds" / "device");
    // A link that leaves fs/ and comes back still ends below it.
    fs::create_directory_symlink("../../fs/Sounds/Inner", root / "Sounds" / "around");

    const struct {
        const char16_t* path;
        const char* content;  // nullptr: refused
    } cases[] = {
        {u"\\Sounds\\Inner\\a.wav", "inside"},
        {u"/sounds/INNER/A.WAV", "inside"},
        {u"\\Sounds\\relative.wav", "inside"},
        {u"\\Sounds\\absolute.wav", "inside"},
        {u"\\Sounds\\around\\a.wav", "inside"},
        {u"\\Sounds\\up.wav", nullptr},
        {u"\\Sounds\\out.wav", nullptr},
        {u"\\SOUNDS\\OUT.WAV", nullptr},
        {u"\\sounds\\Device\\outside.txt", nullptr},
        {u"\\Sounds\\Around\\A.wav", "inside"},
        {u"\\Sounds\\device\\outside.txt", nullptr},
        {u"\\Sounds\\device\\fs\\Sounds\\Inner\\a.wav", "inside"},
        {u"\\Sounds\\..\\..\\outside.txt", nullptr},
        {u"\\Sounds\\.\\Inner\\a.wav", nullptr},
        {u"Sounds\\Inner\\a.wav", nullptr},
        {u"\\Sounds\\Inner\\none.wav", nullptr},
        {u"\\Sounds\\Inner:a.wav", nullptr},
        {u"", nullptr},
    };
    for (const auto& c : cases) {
        const handset::UniqueFd fd = dev.open_for_reading(c.path);
        EXPECT_EQ(bool(fd), c.content != nullptr) << handset::to_utf8(c.path);
        EXPECT_EQ(bool(fd), bool(dev.host_path(c.path)) && fs::exists(*dev.host_path(c.path)))
            << handset::to_utf8(c.path) << ": the same answer as host_path()";
        if (!fd || !c.content) continue;
        handset::FileBytes bytes;
        ASSERT_TRUE(bytes.read(fd.get()));
        EXPECT_EQ(std::string(bytes.bytes().begin(), bytes.bytes().end()), c.content) << handset::to_utf8(c.path);
    }
}

TEST_F(ObjectsTest, FileWithoutSharingCannotBeOpenedTwice) {
    std::ofstream(handset::device().fs_root() / "Windows" / "StartUp" / "Quillon.lnk") << "x";
    const auto open = [] {
        return CreateFileW(u"\\Windows\\StartUp\\Quillon.lnk", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE first = open();
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(open(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(first);
    HANDLE second = open();
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    CloseHandle(second);

    std::vector<std::string> lines;
    const int sink = handset::events().add_sink([&](const std::string& line, const auto&) { lines.push_back(line); });
    EXPECT_TRUE(DeleteFileW(u"\\Windows\\StartUp\\Quillon.lnk"));
    EXPECT_FALSE(DeleteFileW(u"\\Windows\\StartUp\\Quillon.lnk"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    handset::events().remove_sink(sink);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], R"({"t":0,"ev":"file.delete","path":"\\Windows\\StartUp\\Quillon.lnk"})");
    EXPECT_EQ(open(), INVALID_HANDLE_VALUE);
}

TEST_F(ObjectsTest, FormatterHandlesThePlatformConversions) {
    WCHAR buf[1024];
    wsprintfW(buf, u"%s\\Sound\\alert%d.wav", u"\\Program Files\\Quillon", 10);
    EXPECT_EQ(std::u16string(buf), u"\\Program Files\\Quillon\\Sound\\alert10.wav");
    wsprintfW(buf, u"CreateMsgQueue failed: %x\n", 0x57u);
    EXPECT_EQ(std::u16string(buf), u"CreateMsgQueue failed: 57\n");
    wsprintfW(buf, u"[%05d|%-3s|%X|%%]", -42, u"a", 0xBEEFu);
    EXPECT_EQ(std::u16string(buf), u"[-0042|a  |BEEF|%]");
}

TEST_F(ObjectsTest, ModulePathIsCutAndTerminatedWhenTheBufferIsSmall) {
    handset::host_process()->exe_path = u"\\Program Files\\Quillon\\Quillon.exe";
    WCHAR buf[8];
    std::fill(std::begin(buf), std::end(buf), u'#');
    EXPECT_EQ(GetModuleFileNameW(nullptr, buf, 8), 8u);
    EXPECT_EQ(std::u16string(buf), u"\\Progra");
    WCHAR full[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameW(nullptr, full, MAX_PATH), 34u);
    EXPECT_EQ(std::u16string(full), u"\\Program Files\\Quillon\\Quillon.exe");
}

}  // namespace
