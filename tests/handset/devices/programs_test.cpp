// Program launch, the carrier's mail client, shortcut files and the factory files.
#include <fstream>
#include <iterator>

#include "device_fixture.h"

namespace {

constexpr const char16_t* kEntry = u"Comm\\RasBook\\SKT IE GPRS";

class ProgramsTest : public DeviceTest {
protected:
    // The phone-book entry in its allowed ("DevCfg", "Entry") or blocked form.
    static void set_phone_book(bool allowed) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kEntry, 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_SUCCESS);
        const BYTE data[] = {1, 2, 3};
        for (const char16_t* name : {u"DevCfg", u"Entry", u"NoDevCfg", u"NoEntry"}) RegDeleteValueW(key, name);
        RegSetValueExW(key, allowed ? u"DevCfg" : u"NoDevCfg", 0, REG_BINARY, data, sizeof(data));
        RegSetValueExW(key, allowed ? u"Entry" : u"NoEntry", 0, REG_BINARY, data, sizeof(data));
        RegCloseKey(key);
    }

    // Starts the mail client as the program does; the process handle, or null.
    static HANDLE start_mail_as_program() {
        SHELLEXECUTEINFO info{};
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpFile = u"e mail.exe";
        info.lpDirectory = u"\\WINDOWS";
        if (!ShellExecuteEx(&info)) return nullptr;
        return info.hProcess;
    }

    static std::string read_file(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
};

TEST_F(ProgramsTest, MailClientConnectsOnlyThroughTheAllowedEntryAndEndsOnClose) {
    for (const bool allowed : {false, true}) {
        SCOPED_TRACE(allowed ? "allowed form" : "blocked form");
        set_phone_book(allowed);
        clear_events();
        HANDLE process = start_mail_as_program();
        ASSERT_NE(process, nullptr);
        EXPECT_TRUE(handset::mail_running());

        DWORD code = 0;
        ASSERT_TRUE(GetExitCodeProcess(process, &code));
        EXPECT_EQ(code, STILL_ACTIVE);
        HWND window = FindWindowW(nullptr, u"e-mail");
        ASSERT_NE(window, nullptr);

        const auto connect = events("mail.connect");
        ASSERT_EQ(connect.size(), 1u);
        EXPECT_EQ(connect[0]["ok"], allowed);
        ASSERT_EQ(events("process.start").size(), 1u);
        EXPECT_EQ(events("process.start")[0]["file"], "\\Windows\\e mail.exe");

        SendMessageW(window, WM_CLOSE, 0, 0);
        ASSERT_EQ(WaitForSingleObject(process, INFINITE), WAIT_OBJECT_0);
        ASSERT_TRUE(GetExitCodeProcess(process, &code));
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(FindWindowW(nullptr, u"e-mail"), nullptr);
        EXPECT_FALSE(handset::mail_running());
        const auto exits = events("process.exit");
        ASSERT_EQ(exits.size(), 1u);
        EXPECT_EQ(exits[0]["file"], "\\Windows\\e mail.exe");
        EXPECT_EQ(exits[0]["code"], 0);
        CloseHandle(process);
    }
}

TEST_F(ProgramsTest, UserStartsAndClosesTheMailClient) {
    set_phone_book(true);
    EXPECT_FALSE(handset::mail_close()) << "nothing to close";
    ASSERT_TRUE(handset::mail_start());
    EXPECT_TRUE(handset::mail_running());
    // A second start hands over to the running client and ends at once.
    HANDLE second = start_mail_as_program();
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(WaitForSingleObject(second, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(events("mail.connect").size(), 1u);
    EXPECT_TRUE(handset::mail_running());

    EXPECT_TRUE(handset::mail_close());
    EXPECT_FALSE(handset::mail_running());
    EXPECT_EQ(events("process.exit").size(), 2u);
    CloseHandle(second);
}

TEST_F(ProgramsTest, ShellExecuteExFailures) {
    SHELLEXECUTEINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = u"nothing.exe";
    EXPECT_FALSE(ShellExecuteEx(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(info.hProcess, nullptr);

    info.lpFile = u"\\Program Files\\Quillon\\Quillon.exe";
    EXPECT_FALSE(ShellExecuteEx(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED)) << "exists, but is not run from here";

    info.lpFile = u"\"\\windows\\E MAIL.EXE\"";
    handset::set_fault(handset::Fault::ProcessStart, true);
    EXPECT_FALSE(ShellExecuteEx(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    handset::set_fault(handset::Fault::ProcessStart, false);

    info.cbSize = 60 + 4;
    EXPECT_FALSE(ShellExecuteEx(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    std::filesystem::remove(host(u"\\Windows\\e mail.exe"));
    EXPECT_FALSE(handset::mail_start());
    EXPECT_TRUE(events("process.start").empty());

    info.cbSize = sizeof(info);
    info.fMask = 0;
    std::ofstream(root_ / "device" / "fs" / "Windows" / "e mail.exe") << "e-mail";
    ASSERT_TRUE(ShellExecuteEx(&info)) << "quoted absolute path in any case";
    EXPECT_EQ(info.hProcess, nullptr) << "no handle without SEE_MASK_NOCLOSEPROCESS";
    EXPECT_TRUE(handset::mail_close());
}

TEST_F(ProgramsTest, ShortcutFileHoldsLengthHashAndTarget) {
    const char16_t* target = u"\"\\Program Files\\Quillon\\Quillon.exe\"";
    ASSERT_TRUE(SHCreateShortcut(u"\\Windows\\StartUp\\Quillon.lnk", target));
    EXPECT_EQ(read_file(host(u"\\Windows\\StartUp\\Quillon.lnk")), "36#\"\\Program Files\\Quillon\\Quillon.exe\"");
    const auto created = events("shortcut.create");
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0]["path"], "\\Windows\\StartUp\\Quillon.lnk");
    EXPECT_EQ(created[0]["target"], "\"\\Program Files\\Quillon\\Quillon.exe\"");

    // The shell makes new shortcuts only: an existing one, in any case, stays as it was.
    SetLastError(0xDEADBEEF);
    EXPECT_FALSE(SHCreateShortcut(u"\\windows\\startup\\quillon.lnk", u"\"\\프로그램\\Quillon.exe\""));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(read_file(host(u"\\Windows\\StartUp\\Quillon.lnk")), "36#\"\\Program Files\\Quillon\\Quillon.exe\"");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(host(u"\\Windows\\StartUp")), {}), 1);

    // The length counts characters, not bytes; a target of 256 characters is the longest.
    ASSERT_TRUE(SHCreateShortcut(u"\\Windows\\StartUp\\Hangul.lnk", u"\"\\프로그램\\Quillon.exe\""));
    EXPECT_EQ(read_file(host(u"\\Windows\\StartUp\\Hangul.lnk")), "19#\"\\프로그램\\Quillon.exe\"");
    EXPECT_TRUE(SHCreateShortcut(u"\\Windows\\StartUp\\Long.lnk", std::u16string(256, u'a').c_str()));
    EXPECT_FALSE(SHCreateShortcut(u"\\Windows\\StartUp\\Longer.lnk", std::u16string(257, u'a').c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    EXPECT_FALSE(SHCreateShortcut(u"\\No Such Folder\\x.lnk", target));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    handset::set_fault(handset::Fault::ShellShortcut, true);
    EXPECT_FALSE(SHCreateShortcut(u"\\Windows\\StartUp\\Other.lnk", target));
    EXPECT_FALSE(std::filesystem::exists(root_ / "device" / "fs" / "Windows" / "StartUp" / "Other.lnk"));
    EXPECT_EQ(events("shortcut.create").size(), 3u);
}

TEST_F(ProgramsTest, FactoryInstallsTheProgramsAndAnEmptyStartUpFolder) {
    const auto fs_root = root_ / "device" / "fs";
    EXPECT_TRUE(std::filesystem::is_regular_file(fs_root / "Program Files" / "Quillon" / "Quillon.exe"));
    EXPECT_TRUE(std::filesystem::is_regular_file(fs_root / "Windows" / "e mail.exe"));
    EXPECT_TRUE(std::filesystem::is_empty(fs_root / "Windows" / "StartUp"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(fs_root / "Program Files" / "Quillon" / "Sound"), {}),
              16);
}

}  // namespace
