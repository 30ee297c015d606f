// The registry functions of the platform API: handles, access, buffer sizes, case,
// faults and the events they emit. Out parameters are poisoned before each call and
// buffers carry guard bytes past the reported size, so that a function writing where
// it should not is caught; helpers report the line of the check that called them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <source_location>
#include <thread>

#include "platform/winreg.h"
#include "registry_fixture.h"

namespace {

using handset::Bytes;
using handset::Json;
using regtest::RegistryTest;

constexpr BYTE kPoison = 0xBD;
constexpr DWORD kPoisonDword = 0xDEADBEEF;
const HKEY kPoisonKey = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0xBADC0DE0));

std::string where(std::source_location loc) { return "checked at line " + std::to_string(loc.line()); }

HKEY create(HKEY root, const char16_t* path, REGSAM sam = KEY_ALL_ACCESS) {
    HKEY key = kPoisonKey;
    DWORD disposition = kPoisonDword;
    EXPECT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, sam, nullptr, &key, &disposition), ERROR_SUCCESS);
    return key;
}

void set_dword(HKEY key, const char16_t* name, DWORD value) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4), ERROR_SUCCESS);
}

void set_bytes(HKEY key, const char16_t* name, DWORD type, const Bytes& data) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
}

// Queries `name` into a poisoned buffer with room for exactly the expected data plus
// guard bytes, and checks type, size, data and that nothing past the data was written.
void expect_value(HKEY key, const char16_t* name, DWORD type, const Bytes& expected,
                  std::source_location loc = std::source_location::current()) {
    SCOPED_TRACE(where(loc));
    std::vector<BYTE> buf(expected.size() + 8, kPoison);
    DWORD got_type = kPoisonDword;
    DWORD size = static_cast<DWORD>(buf.size());
    ASSERT_EQ(RegQueryValueExW(key, name, nullptr, &got_type, buf.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(got_type, type);
    ASSERT_EQ(size, expected.size());
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + size), expected);
    for (std::size_t i = size; i < buf.size(); ++i) EXPECT_EQ(buf[i], kPoison) << "guard byte " << i - size;
}

void expect_dword(HKEY key, const char16_t* name, DWORD value,
                  std::source_location loc = std::source_location::current()) {
    expect_value(key, name, REG_DWORD, handset::dword_bytes(value), loc);
}

void expect_missing(HKEY key, const char16_t* name, std::source_location loc = std::source_location::current()) {
    SCOPED_TRACE(where(loc));
    BYTE buf[8];
    std::memset(buf, kPoison, sizeof buf);
    DWORD type = kPoisonDword, size = sizeof buf;
    EXPECT_EQ(RegQueryValueExW(key, name, nullptr, &type, buf, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(type, kPoisonDword);
    EXPECT_EQ(size, sizeof buf);
    EXPECT_EQ(buf[0], kPoison);
}

bool key_exists(HKEY root, const char16_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// ReadRegDword of the program, step for step: open for reading, query 4 bytes, close.
bool read_reg_dword(HKEY root, const char16_t* path, const char16_t* name, DWORD& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD value = 0, size = 4;
    const LONG rc = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return false;
    out = value;
    return true;
}

// ReadRegString of the program: a 100-byte buffer.
bool read_reg_string(HKEY root, const char16_t* path, const char16_t* name, std::u16string& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    char16_t buf[50];
    DWORD size = sizeof buf;
    const LONG rc = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return false;
    out.assign(buf, std::char_traits<char16_t>::length(buf));
    return true;
}

TEST_F(RegistryTest, OpeningAMissingKeyFailsAndClearsTheResult) {
    HKEY key = kPoisonKey;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Quillon", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    // A key of the same name under the other root is a different key.
    RegCloseKey(create(HKEY_LOCAL_MACHINE, u"Software\\Quillon"));
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, u"Software\\Quillon"));
    EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, u"Software\\Quillon"));
}

TEST_F(RegistryTest, CreateMakesMissingParentsAndReportsWhetherItCreated) {
    HKEY key = kPoisonKey;
    DWORD disposition = kPoisonDword;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"A\\B\\C", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_NE(key, HKEY_CURRENT_USER);
    EXPECT_NE(key, HKEY_LOCAL_MACHINE);
    EXPECT_NE(key, nullptr);
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, u"A"));
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, u"A\\B"));

    HKEY again = kPoisonKey;
    disposition = kPoisonDword;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"a\\b\\c\\", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &again,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_NE(again, key) << "each open gives its own handle";

    // Relative to an open handle, and without a disposition pointer.
    HKEY sub = kPoisonKey;
    ASSERT_EQ(RegCreateKeyExW(key, u"D", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, u"A\\B\\C\\D"));
    for (HKEY k : {key, again, sub}) EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
}

TEST_F(RegistryTest, NamesAreCaseInsensitiveAndKeepTheCaseTheyWereCreatedWith) {
    HKEY key = create(HKEY_CURRENT_USER, u"Software\\Quillon");
    set_dword(key, u"AlertInterval", 2);
    set_dword(key, u"ALERTINTERVAL", 1);  // the same value
    RegCloseKey(key);

    HKEY other = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"SOFTWARE\\quillon", 0, KEY_READ, &other), ERROR_SUCCESS);
    expect_dword(other, u"alertinterval", 1);
    char16_t name[32];
    DWORD len = 32;
    ASSERT_EQ(RegEnumValueW(other, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name, len), u"AlertInterval");
    len = 32;
    EXPECT_EQ(RegEnumValueW(other, 1, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    RegCloseKey(other);

    len = 32;
    ASSERT_EQ(RegEnumKeyExW(HKEY_CURRENT_USER, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name, len), u"Software");

    // Beyond ASCII: Latin, Greek and Cyrillic letters fold; Hangul has no case.
    HKEY intl = create(HKEY_CURRENT_USER, u"Ärger\\ΣΑΣ\\Дом\\설정");
    set_dword(intl, u"Größe", 7);
    RegCloseKey(intl);
    DWORD v = 0;
    EXPECT_TRUE(read_reg_dword(HKEY_CURRENT_USER, u"äRGER\\σασ\\дОМ\\설정", u"gRÖßE", v));
    EXPECT_EQ(v, 7u);
    // Folding maps one character to one: "ß" is not "SS".
    EXPECT_FALSE(read_reg_dword(HKEY_CURRENT_USER, u"äRGER\\σασ\\дОМ\\설정", u"GRÖSSE", v));

    // A name may begin with U+FEFF, which looks like a byte-order mark; it is kept.
    HKEY marked = create(HKEY_CURRENT_USER, u"Software\\\uFEFFMarked");
    set_dword(marked, u"\uFEFFv", 3);
    expect_dword(marked, u"\uFEFFv", 3);
    expect_missing(marked, u"v");
    len = 32;
    ASSERT_EQ(RegEnumValueW(marked, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name, len), u"\uFEFFv");
    RegCloseKey(marked);
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, u"Software\\Marked"));
    HKEY software = create(HKEY_CURRENT_USER, u"Software");
    std::vector<std::u16string> subkeys;
    for (DWORD i = 0;; ++i) {
        len = 32;
        if (RegEnumKeyExW(software, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subkeys.emplace_back(name, len);
    }
    RegCloseKey(software);
    EXPECT_THAT(subkeys, testing::Contains(u"\uFEFFMarked"));
}

TEST_F(RegistryTest, QueryReportsSizeAndLeavesATooSmallBufferUntouched) {
    HKEY key = create(HKEY_CURRENT_USER, u"Q");
    const Bytes blob = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    set_bytes(key, u"Blob", REG_BINARY, blob);

    BYTE buf[16];
    std::memset(buf, kPoison, sizeof buf);
    DWORD type = kPoisonDword, size = 9;
    EXPECT_EQ(RegQueryValueExW(key, u"Blob", nullptr, &type, buf, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, blob.size());
    EXPECT_EQ(type, REG_BINARY);
    for (BYTE b : buf) EXPECT_EQ(b, kPoison);

    // No buffer: size and type only.
    type = kPoisonDword;
    size = kPoisonDword;
    EXPECT_EQ(RegQueryValueExW(key, u"Blob", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, blob.size());
    EXPECT_EQ(type, REG_BINARY);
    // Nothing asked but existence.
    EXPECT_EQ(RegQueryValueExW(key, u"Blob", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);

    expect_value(key, u"Blob", REG_BINARY, blob);
    expect_missing(key, u"Nothing");

    // A zero-length value and the default value.
    set_bytes(key, u"Empty", REG_BINARY, {});
    expect_value(key, u"Empty", REG_BINARY, {});
    set_dword(key, nullptr, 42);
    expect_dword(key, u"", 42);

    EXPECT_EQ(RegQueryValueExW(key, u"Blob", nullptr, &type, buf, nullptr), ERROR_INVALID_PARAMETER);
    DWORD reserved = 0;
    size = sizeof buf;
    EXPECT_EQ(RegQueryValueExW(key, u"Blob", &reserved, &type, buf, &size), ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

TEST_F(RegistryTest, TheProgramsStringReadFitsFortyNineCharactersButNotFifty) {
    HKEY key = create(HKEY_CURRENT_USER, u"ControlPanel\\Profiles");
    const std::u16string fits(49, u'가');
    const std::u16string too_long(50, u'나');
    set_bytes(key, u"Fits", REG_SZ, handset::sz_bytes(fits));
    set_bytes(key, u"TooLong", REG_SZ, handset::sz_bytes(too_long));
    RegCloseKey(key);
    std::u16string text = u"unchanged";
    EXPECT_TRUE(read_reg_string(HKEY_CURRENT_USER, u"ControlPanel\\Profiles", u"Fits", text));
    EXPECT_EQ(text, fits);
    text = u"unchanged";
    EXPECT_FALSE(read_reg_string(HKEY_CURRENT_USER, u"ControlPanel\\Profiles", u"TooLong", text));
    EXPECT_EQ(text, u"unchanged");
}

TEST_F(RegistryTest, AReadOnlyHandleRefusesEveryWrite) {
    HKEY setup = create(HKEY_CURRENT_USER, u"Software\\Quillon\\Sub");
    set_dword(setup, u"Keep", 1);
    RegCloseKey(setup);

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Quillon", 0, KEY_READ, &key), ERROR_SUCCESS);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(key, u"New", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(key, u"Sub"), ERROR_ACCESS_DENIED);
    HKEY sub = kPoisonKey;
    EXPECT_EQ(RegCreateKeyExW(key, u"Fresh", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(sub, nullptr);
    // Opening an existing subkey through it is a read, and allowed.
    ASSERT_EQ(RegCreateKeyExW(key, u"Sub", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(sub, u"Keep"), ERROR_ACCESS_DENIED);
    expect_dword(sub, u"Keep", 1);
    expect_missing(key, u"New");
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, u"Software\\Quillon\\Fresh"));
    RegCloseKey(sub);
    RegCloseKey(key);

    // A write-only handle cannot read; access 0, as CE programs pass it, is full access.
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Quillon\\Sub", 0, KEY_WRITE, &key), ERROR_SUCCESS);
    DWORD size = 4, value = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"Keep", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_ACCESS_DENIED);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Quillon\\Sub", 0, 0, &key), ERROR_SUCCESS);
    set_dword(key, u"Keep", 2);
    expect_dword(key, u"Keep", 2);
    RegCloseKey(key);
}

TEST_F(RegistryTest, BadHandlesAndArgumentsAreRefused) {
    const DWORD v = 1;
    DWORD size = 4;
    HKEY key = kPoisonKey;
    char16_t name[8];
    DWORD len = 8;
    EXPECT_EQ(RegOpenKeyExW(nullptr, u"A", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExW(nullptr, u"A", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueExW(nullptr, u"A", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteValueW(nullptr, u"A"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteKeyW(nullptr, u"A"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegEnumKeyExW(nullptr, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExW(kPoisonKey, u"A", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    // The handset keeps only HKCU and HKLM.
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"A", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);

    // Roots may be "closed" freely; a real handle only once.
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    HKEY opened = create(HKEY_CURRENT_USER, u"A");
    EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(opened), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueExW(opened, u"X", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_INVALID_HANDLE);

    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"A", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"A\\\\B", 0, KEY_READ, &key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"\\A", 0, KEY_READ, &key), ERROR_INVALID_PARAMETER);
    const std::u16string long_name(256, u'x');
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, long_name.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExW(HKEY_CURRENT_USER, u"X", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegEnumKeyExW(HKEY_CURRENT_USER, 0, name, nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
}

// A thread that opens, reads and closes the same key again and again gets its handles
// back cheaply; a handle closed on any thread must stay closed for every thread, and a
// handle opened again must name the key it was opened on, not the one it named before.
TEST_F(RegistryTest, AClosedHandleIsClosedForEveryThreadUntilItsKeyIsOpenedAgain) {
    const DWORD one = 1, two = 2;
    HKEY a = create(HKEY_CURRENT_USER, u"A");
    ASSERT_EQ(RegSetValueExW(a, u"N", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), ERROR_SUCCESS);
    RegCloseKey(a);
    const auto read = [](HKEY key) {
        DWORD value = 0, size = 4;
        return RegQueryValueExW(key, u"N", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS
                   ? static_cast<long long>(value)
                   : -1;
    };
    for (int round = 0; round < 3; ++round) {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"A", 0, KEY_READ, &key), ERROR_SUCCESS);
        EXPECT_EQ(read(key), 1);
        // Closed by another thread: this thread's next read of it must fail.
        std::thread([key] { EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS); }).join();
        EXPECT_EQ(read(key), -1) << "round " << round;
        EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
        // Closed here: another thread's read and close of it must fail.
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"A", 0, KEY_READ, &key), ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        std::thread([&] {
            EXPECT_EQ(read(key), -1);
            EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
        }).join();
        EXPECT_EQ(read(key), -1);
    }
    // The key deleted and another made in its place (it may get the same id): a handle
    // opened on the new one names the new one's path.
    ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"A"), ERROR_SUCCESS);
    HKEY b = create(HKEY_CURRENT_USER, u"B");
    RegCloseKey(b);
    HKEY c = create(HKEY_CURRENT_USER, u"B\\C");
    ASSERT_EQ(RegSetValueExW(c, u"N", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), 4), ERROR_SUCCESS);
    RegCloseKey(c);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"A", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"B", 0, KEY_READ, &b), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(b, u"C", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(read(key), 2);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(b), ERROR_SUCCESS);
}

TEST_F(RegistryTest, HandlesOfAReplacedRegistryAreStale) {
    HKEY key = create(HKEY_CURRENT_USER, u"A");
    handset::set_registry(std::make_unique<handset::RegistryStore>(dir.file("other.db")));
    const DWORD v = 1;
    EXPECT_EQ(RegSetValueExW(key, u"X", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, u"A"));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, RegistryWriteFaultWritesNothing) {
    HKEY key = create(HKEY_CURRENT_USER, u"Software\\Quillon");
    set_dword(key, u"Old", 1);
    recorder.take();
    handset::set_fault(handset::Fault::RegistryWrite, true);

    const DWORD v = 5;
    EXPECT_EQ(RegSetValueExW(key, u"Old", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_WRITE_FAULT);
    EXPECT_EQ(RegSetValueExW(key, u"New", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_WRITE_FAULT);
    EXPECT_EQ(RegDeleteValueW(key, u"Old"), ERROR_WRITE_FAULT);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Quillon"), ERROR_WRITE_FAULT);
    HKEY sub = kPoisonKey;
    EXPECT_EQ(RegCreateKeyExW(key, u"Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), ERROR_WRITE_FAULT);
    EXPECT_EQ(sub, nullptr);
    // Opening an existing key creates nothing, so it still works, as do reads.
    DWORD disposition = kPoisonDword;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Quillon", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(sub);

    expect_dword(key, u"Old", 1);
    expect_missing(key, u"New");
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, u"Software\\Quillon\\Sub"));
    EXPECT_TRUE(recorder.take().empty());

    handset::set_fault(handset::Fault::RegistryWrite, false);
    set_dword(key, u"Old", 5);
    expect_dword(key, u"Old", 5);
    RegCloseKey(key);
}

TEST_F(RegistryTest, AnExemptThreadWritesThroughAFaultThatOtherThreadsStillMeet) {
    HKEY key = create(HKEY_CURRENT_USER, u"System\\State\\Phone");
    handset::set_fault(handset::Fault::RegistryWrite, true);
    {
        const handset::FaultExemption outer;
        {
            const handset::FaultExemption inner;
            set_dword(key, u"Missed Call Count", 2);
        }
        set_dword(key, u"Missed Call Count", 3);
        LONG other = -1;
        std::thread([&] {
            const DWORD v = 9;
            other = RegSetValueExW(key, u"Missed Call Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
        }).join();
        EXPECT_EQ(other, ERROR_WRITE_FAULT);
    }
    const DWORD v = 4;
    EXPECT_EQ(RegSetValueExW(key, u"Missed Call Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4),
              ERROR_WRITE_FAULT);
    handset::set_fault(handset::Fault::RegistryWrite, false);
    expect_dword(key, u"Missed Call Count", 3);
    RegCloseKey(key);
}

TEST_F(RegistryTest, WritesAreAnnouncedWithTheStoredKeyPath) {
    HKEY key = create(HKEY_CURRENT_USER, u"System\\State\\Phone");
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"system\\state\\PHONE", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    set_dword(key, u"Missed Call Count", 3);
    set_bytes(key, u"Profile", REG_SZ, handset::sz_bytes(u"무음"));
    set_bytes(key, u"Blob", REG_BINARY, {0x01, 0x02, 0xff});
    set_bytes(key, u"Multi", REG_MULTI_SZ, {'a', 0, 0, 0, 0, 0});
    ASSERT_EQ(RegDeleteValueW(key, u"BLOB"), ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"System\\State"), ERROR_SUCCESS);

    const auto events = recorder.take();
    ASSERT_EQ(events.size(), 6u);
    auto without_time = [](Json e) {
        e.erase("t");
        return e.dump();
    };
    EXPECT_EQ(without_time(events[0]),
              R"({"ev":"reg.set","key":"HKCU\\System\\State\\Phone","name":"Missed Call Count","type":"dword","data":3})");
    EXPECT_EQ(without_time(events[1]),
              R"({"ev":"reg.set","key":"HKCU\\System\\State\\Phone","name":"Profile","type":"sz","data":"무음"})");
    EXPECT_EQ(without_time(events[2]),
              R"({"ev":"reg.set","key":"HKCU\\System\\State\\Phone","name":"Blob","type":"hex","data":"01,02,ff"})");
    EXPECT_EQ(without_time(events[3]),
              R"j({"ev":"reg.set","key":"HKCU\\System\\State\\Phone","name":"Multi","type":"hex(7)","data":"61,00,00,00,00,00"})j");
    EXPECT_EQ(without_time(events[4]), R"({"ev":"reg.delete","key":"HKCU\\System\\State\\Phone","name":"Blob"})");
    EXPECT_EQ(without_time(events[5]), R"({"ev":"reg.delete","key":"HKCU\\System\\State"})");
    EXPECT_TRUE(events[0].contains("t"));
}

TEST_F(RegistryTest, DeletingAKeyTakesItsSubtreeAndItsHandlesGoStale) {
    HKEY deep = create(HKEY_CURRENT_USER, u"A\\B\\C");
    set_dword(deep, u"V", 1);
    HKEY a = create(HKEY_CURRENT_USER, u"A");
    set_dword(a, u"W", 2);
    RegCloseKey(create(HKEY_CURRENT_USER, u"AB"));  // a sibling sharing the prefix survives

    ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"a"), ERROR_SUCCESS);
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, u"A\\B\\C"));
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, u"A"));
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, u"AB"));
    const DWORD v = 3;
    EXPECT_EQ(RegSetValueExW(deep, u"V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_KEY_DELETED);
    DWORD size = 4;
    EXPECT_EQ(RegQueryValueExW(deep, u"V", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);

    // A key made again under the old name starts empty.
    HKEY again = create(HKEY_CURRENT_USER, u"A\\B\\C");
    expect_missing(again, u"V");
    EXPECT_EQ(RegSetValueExW(deep, u"V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_KEY_DELETED);

    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u""), ERROR_ACCESS_DENIED);
    // An empty name deletes the handle's own key.
    EXPECT_EQ(RegDeleteKeyW(again, nullptr), ERROR_SUCCESS);
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, u"A\\B\\C"));
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, u"A\\B"));
    EXPECT_EQ(RegDeleteValueW(a, u"Missing"), ERROR_KEY_DELETED);
    for (HKEY k : {deep, a, again}) RegCloseKey(k);
}

TEST_F(RegistryTest, EnumerationListsSubkeysByNameAndValuesInCreationOrder) {
    HKEY key = create(HKEY_LOCAL_MACHINE, u"E");
    for (const char16_t* sub : {u"gamma", u"Beta", u"alpha"}) RegCloseKey(create(key, sub));
    set_dword(key, u"z", 1);
    set_bytes(key, u"a", REG_BINARY, {9, 8, 7});

    std::vector<std::u16string> names;
    char16_t name[16];
    for (DWORD i = 0;; ++i) {
        std::fill(std::begin(name), std::end(name), u'#');
        DWORD len = 16, cls_len = kPoisonDword;
        const LONG rc = RegEnumKeyExW(key, i, name, &len, nullptr, nullptr, &cls_len, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(rc, ERROR_SUCCESS);
        EXPECT_EQ(name[len], u'\0');
        EXPECT_EQ(name[len + 1], u'#');
        EXPECT_EQ(cls_len, 0u);
        names.emplace_back(name, len);
    }
    EXPECT_THAT(names, ::testing::ElementsAre(u"alpha", u"Beta", u"gamma"));

    // The length counts characters; the terminator must fit too.
    DWORD len = 5;
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    len = 6;
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(len, 5u);

    BYTE data[8];
    std::memset(data, kPoison, sizeof data);
    DWORD type = kPoisonDword, size = 2;
    len = 16;
    EXPECT_EQ(RegEnumValueW(key, 1, name, &len, nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(data[0], kPoison);
    size = sizeof data;
    len = 16;
    ASSERT_EQ(RegEnumValueW(key, 1, name, &len, nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name, len), u"a");
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(data[2], 7);
    EXPECT_EQ(data[3], kPoison);
    len = 16;
    ASSERT_EQ(RegEnumValueW(key, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name, len), u"z");
    len = 16;
    EXPECT_EQ(RegEnumValueW(key, 2, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

    HKEY ro = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"E", 0, KEY_SET_VALUE, &ro), ERROR_SUCCESS);
    len = 16;
    EXPECT_EQ(RegEnumKeyExW(ro, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
    RegCloseKey(ro);
    RegCloseKey(key);
}

TEST_F(RegistryTest, ThreadsShareTheRegistry) {
    constexpr int kThreads = 4, kWrites = 100;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::u16string path = u"T\\" + std::u16string(1, static_cast<char16_t>(u'0' + t));
            for (int i = 0; i < kWrites; ++i) {
                HKEY key = nullptr;
                if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                    nullptr) != ERROR_SUCCESS)
                    return;
                const DWORD v = static_cast<DWORD>(i);
                RegSetValueExW(key, u"Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
                RegCloseKey(key);
                DWORD back = 0;
                if (!read_reg_dword(HKEY_CURRENT_USER, path.c_str(), u"Count", back) || back != v) return;
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) {
        const std::u16string path = u"T\\" + std::u16string(1, static_cast<char16_t>(u'0' + t));
        DWORD v = 0;
        EXPECT_TRUE(read_reg_dword(HKEY_CURRENT_USER, path.c_str(), u"Count", v));
        EXPECT_EQ(v, static_cast<DWORD>(kWrites - 1)) << "thread " << t;
    }
    EXPECT_EQ(recorder.take().size(), static_cast<std::size_t>(kThreads * kWrites));
}

// A thread keeps the store it last read until its next call: a store replaced under a
// reader must stay whole for the call that has it, and the reader's next call must see
// the new one. Each store's value names the store.
TEST_F(RegistryTest, AReaderSeesEachReplacedRegistryWholeAndThenItsSuccessor) {
    constexpr int kStores = 20;
    std::atomic<int> current{0};
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!done.load()) {
            const int floor = current.load();
            DWORD v = 0;
            if (read_reg_dword(HKEY_CURRENT_USER, u"S", u"N", v) && (static_cast<int>(v) < floor || v >= kStores))
                ++bad;
        }
    });
    for (int i = 0; i < kStores; ++i) {
        auto store = std::make_unique<handset::RegistryStore>(dir.file("r" + std::to_string(i) + ".db"));
        ASSERT_EQ(store->set_value({handset::RegRoot::CurrentUser, u"S"}, u"N", REG_DWORD,
                                   handset::dword_bytes(static_cast<DWORD>(i)), handset::Notify::Quiet),
                  handset::RegStatus::Ok);
        handset::set_registry(std::move(store));
        current.store(i);
    }
    done.store(true);
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    DWORD v = 0;
    EXPECT_TRUE(read_reg_dword(HKEY_CURRENT_USER, u"S", u"N", v));
    EXPECT_EQ(v, static_cast<DWORD>(kStores - 1));
}

}  // namespace
