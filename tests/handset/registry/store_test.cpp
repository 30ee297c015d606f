// The registry file shared by processes: visibility of one process's writes in
// another (through the read cache), writes surviving a killed writer, a file held
// busy by another writer, damaged files, and the factory state.
#include <gtest/gtest.h>

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <tuple>

#include "platform/handset/registry/factory_values.h"
#include "platform/handset/registry/state_values.h"
#include "platform/winreg.h"
#include "registry_fixture.h"

namespace {

using handset::Bytes;
using handset::RegKeyPath;
using handset::RegRoot;
using handset::RegStatus;
using handset::RegistryStore;
using handset::RegValue;
using regtest::TempDir;

const RegKeyPath kHkcuShared{RegRoot::CurrentUser, u"Shared"};

DWORD dword_of(const RegValue& v) {
    DWORD out = 0;
    for (std::size_t i = 0; i < 4 && i < v.data.size(); ++i) out |= static_cast<DWORD>(v.data[i]) << (8 * i);
    return out;
}

// Reads through the platform API, as the program does.
bool api_read(const char16_t* path, const char16_t* name, DWORD& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD size = 4;
    const LONG rc = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&out), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

void write_all(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n <= 0) _exit(90);
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

// Reads exactly `size` bytes; false at end of file.
bool read_all(int fd, void* data, std::size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = read(fd, p, size);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// A forked child that is killed and reaped if the test ends before waiting for it.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void kill_now() { kill(pid_, SIGKILL); }
    // The exit code, or 128 + signal for a killed child.
    int wait() {
        int status = 0;
        const pid_t got = waitpid(pid_, &status, 0);
        pid_ = -1;
        if (got <= 0) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_;
};

// Both ends of a pipe, closed when it goes.
struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() {
        if (pipe(fd) != 0) throw std::runtime_error("pipe failed");
    }
    ~Pipe() { close_both(); }
    void close_end(int i) {
        if (fd[i] >= 0) close(fd[i]);
        fd[i] = -1;
    }
    void close_both() {
        close_end(0);
        close_end(1);
    }
};

TEST(RegistryFile, TwoProcessesWriteAndReadOneRegistry) {
    TempDir dir;
    const std::string db = dir.file("registry.db");
    constexpr DWORD kWrites = 150;
    Pipe child_done, parent_done;
    // Neither process has the file open when the other starts: SQLite connections
    // must not cross a fork.
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int code = 0;
        try {
            RegistryStore store(db);
            for (DWORD i = 0; i < kWrites; ++i) {
                if (store.set_value({RegRoot::CurrentUser, u"Child"}, u"Counter", REG_DWORD, handset::dword_bytes(i)) !=
                        RegStatus::Ok ||
                    store.set_value({RegRoot::CurrentUser, u"Child\\Each"}, u"n" + std::u16string(1, u'A' + i % 26),
                                    REG_DWORD, handset::dword_bytes(i)) != RegStatus::Ok)
                    _exit(2);
            }
            const char done = 1;
            write_all(child_done.fd[1], &done, 1);
            char go = 0;
            if (!read_all(parent_done.fd[0], &go, 1)) _exit(3);
            RegValue v;
            if (store.get_value({RegRoot::CurrentUser, u"Parent"}, u"Counter", v) != RegStatus::Ok ||
                dword_of(v) != kWrites - 1)
                code = 4;
        } catch (...) {
            code = 5;
        }
        _exit(code);
    }
    Child child(pid);
    child_done.close_end(1);
    parent_done.close_end(0);
    handset::set_registry(std::make_unique<RegistryStore>(db));
    DWORD seen = 0;
    bool monotonic = true;
    for (DWORD i = 0; i < kWrites; ++i) {
        ASSERT_EQ(handset::registry().set_value({RegRoot::CurrentUser, u"Parent"}, u"Counter", REG_DWORD,
                                                handset::dword_bytes(i)),
                  RegStatus::Ok);
        DWORD now = 0;
        if (api_read(u"Child", u"Counter", now)) {
            monotonic = monotonic && now >= seen;
            seen = now;
        }
    }
    char done = 0;
    ASSERT_TRUE(read_all(child_done.fd[0], &done, 1)) << "the child failed with " << child.wait();
    // Whatever this process cached of the child's key, it now sees the final writes.
    DWORD last = 0;
    ASSERT_TRUE(api_read(u"Child", u"Counter", last));
    EXPECT_EQ(last, kWrites - 1);
    EXPECT_TRUE(monotonic);
    handset::RegTree tree;
    ASSERT_EQ(handset::registry().read_tree({RegRoot::CurrentUser, u"Child\\Each"}, tree), RegStatus::Ok);
    EXPECT_EQ(tree.values.size(), 26u);
    write_all(parent_done.fd[1], &done, 1);
    EXPECT_EQ(child.wait(), 0);
    std::string report;
    EXPECT_TRUE(handset::registry().check_integrity(report)) << report;
    handset::set_registry(nullptr);
}

TEST(RegistryFile, EveryAcknowledgedWriteSurvivesAKilledWriter) {
    TempDir dir;
    const std::string db = dir.file("registry.db");
    std::vector<std::uint32_t> acknowledged;
    // Three writers in turn, each killed while writing; the second and third carry on
    // in the file the previous one left behind.
    for (std::uint32_t round = 0; round < 3; ++round) {
        Pipe acks;
        const std::uint32_t first = round * 100000;
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            try {
                RegistryStore store(db);
                for (std::uint32_t i = first;; ++i) {
                    const std::u16string name = handset::to_utf16("v" + std::to_string(i));
                    if (store.set_value({RegRoot::LocalMachine, u"Crash"}, name, REG_DWORD, handset::dword_bytes(i)) !=
                        RegStatus::Ok)
                        _exit(2);
                    write_all(acks.fd[1], &i, sizeof i);
                }
            } catch (...) {
                _exit(3);
            }
        }
        Child child(pid);
        acks.close_end(1);
        std::uint32_t i = 0;
        const std::size_t kill_after = 40 + 37 * round;
        for (std::size_t n = 0; n < kill_after && read_all(acks.fd[0], &i, sizeof i); ++n) acknowledged.push_back(i);
        child.kill_now();
        // Acknowledgements already in the pipe count too: those writes had committed.
        while (read_all(acks.fd[0], &i, sizeof i)) acknowledged.push_back(i);
        EXPECT_EQ(child.wait(), 128 + SIGKILL);
    }

    RegistryStore store(db);
    std::string report;
    EXPECT_TRUE(store.check_integrity(report)) << report;
    ASSERT_GE(acknowledged.size(), 40u + 77u + 114u);
    for (std::uint32_t i : acknowledged) {
        RegValue v;
        ASSERT_EQ(store.get_value({RegRoot::LocalMachine, u"Crash"}, handset::to_utf16("v" + std::to_string(i)), v),
                  RegStatus::Ok)
            << "acknowledged write v" << i << " was lost";
        EXPECT_EQ(dword_of(v), i);
    }
}

TEST(RegistryFile, AnotherStoresWritesReachTheCacheOfThisOne) {
    TempDir dir;
    RegistryStore writer(dir.file("registry.db"));
    RegistryStore reader(dir.file("registry.db"));
    ASSERT_EQ(writer.set_value(kHkcuShared, u"V", REG_DWORD, handset::dword_bytes(1)), RegStatus::Ok);

    handset::KeyId id = 0;
    ASSERT_EQ(reader.find_key(kHkcuShared, id), RegStatus::Ok);
    RegValue v;
    ASSERT_EQ(reader.get_value(id, u"V", v), RegStatus::Ok);
    EXPECT_EQ(dword_of(v), 1u);
    EXPECT_EQ(reader.get_value(id, u"W", v), RegStatus::NotFound);

    ASSERT_EQ(writer.set_value(kHkcuShared, u"V", REG_DWORD, handset::dword_bytes(2)), RegStatus::Ok);
    ASSERT_EQ(writer.set_value(kHkcuShared, u"W", REG_DWORD, handset::dword_bytes(3)), RegStatus::Ok);
    ASSERT_EQ(reader.get_value(id, u"V", v), RegStatus::Ok);
    EXPECT_EQ(dword_of(v), 2u);
    ASSERT_EQ(reader.get_value(id, u"w", v), RegStatus::Ok);
    EXPECT_EQ(v.name, u"W");

    ASSERT_EQ(writer.delete_key(kHkcuShared), RegStatus::Ok);
    EXPECT_EQ(reader.get_value(id, u"V", v), RegStatus::KeyDeleted);
    EXPECT_EQ(reader.find_key(kHkcuShared, id), RegStatus::NotFound);
}

TEST(RegistryFile, AFileHeldByAnotherWriterGivesAnErrorNotAHang) {
    TempDir dir;
    const std::string db = dir.file("registry.db");
    handset::set_registry(std::make_unique<RegistryStore>(db, 50));
    ASSERT_EQ(handset::registry().set_value(kHkcuShared, u"V", REG_DWORD, handset::dword_bytes(1)), RegStatus::Ok);

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    EXPECT_EQ(handset::registry().set_value(kHkcuShared, u"V", REG_DWORD, handset::dword_bytes(2)), RegStatus::Busy);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Shared", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    const DWORD three = 3;
    EXPECT_EQ(RegSetValueExW(key, u"V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&three), 4), ERROR_TIMEOUT);
    // Readers are not held up by a writer.
    DWORD v = 0;
    EXPECT_TRUE(api_read(u"Shared", u"V", v));
    EXPECT_EQ(v, 1u);

    ASSERT_EQ(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_EQ(RegSetValueExW(key, u"V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&three), 4), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_TRUE(api_read(u"Shared", u"V", v));
    EXPECT_EQ(v, 3u);
    handset::set_registry(nullptr);
}

TEST(RegistryFile, ADamagedOrForeignFileIsRefusedWithItsName) {
    TempDir dir;
    const std::string junk = dir.file("junk.db");
    std::ofstream(junk) << std::string(4096, 'x');
    try {
        RegistryStore store(junk);
        ADD_FAILURE() << "a file of junk opened as a registry";
    } catch (const handset::RegistryOpenError& e) {
        EXPECT_NE(std::string(e.what()).find(junk), std::string::npos) << e.what();
    }

    const std::string future = dir.file("future.db");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(future.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version=9", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    try {
        RegistryStore store(future);
        ADD_FAILURE() << "a registry of an unknown format version opened";
    } catch (const handset::RegistryOpenError& e) {
        EXPECT_NE(std::string(e.what()).find("version 9"), std::string::npos) << e.what();
    }

    EXPECT_THROW(RegistryStore(dir.file("no/such/folder/registry.db")), handset::RegistryOpenError);
}

TEST(RegistryFile, BatchesApplyWholeOrNotAtAll) {
    TempDir dir;
    RegistryStore store(dir.file("registry.db"));
    ASSERT_EQ(store.set_value(kHkcuShared, u"Keep", REG_DWORD, handset::dword_bytes(1)), RegStatus::Ok);
    const std::vector<handset::RegOp> ops = {
        handset::RegOp::set_value(kHkcuShared, u"Keep", REG_DWORD, handset::dword_bytes(2)),
        handset::RegOp::set_value({RegRoot::CurrentUser, u"New\\Key"}, u"V", REG_SZ, handset::sz_bytes(u"x")),
        handset::RegOp::delete_value(kHkcuShared, u"Absent", true),
    };
    std::size_t failed = 99;
    EXPECT_EQ(store.apply(ops, handset::Notify::Events, &failed), RegStatus::NotFound);
    EXPECT_EQ(failed, 2u);
    RegValue v;
    ASSERT_EQ(store.get_value(kHkcuShared, u"Keep", v), RegStatus::Ok);
    EXPECT_EQ(dword_of(v), 1u);
    handset::KeyId id;
    EXPECT_EQ(store.find_key({RegRoot::CurrentUser, u"New"}, id), RegStatus::NotFound);

    // Deleting what is not there is no error unless asked for.
    const std::vector<handset::RegOp> lenient = {handset::RegOp::delete_value(kHkcuShared, u"Absent"),
                                                 handset::RegOp::delete_key({RegRoot::CurrentUser, u"Nope"})};
    EXPECT_EQ(store.apply(lenient), RegStatus::Ok);
    EXPECT_EQ(store.delete_key({RegRoot::CurrentUser, u""}), RegStatus::Denied);
}

class FactoryTest : public regtest::RegistryTest {};

TEST_F(FactoryTest, FactoryStateHoldsThePhoneStateAndTheCarriersEntry) {
    ASSERT_EQ(handset::write_factory_registry(store(), "skt"), RegStatus::Ok);
    EXPECT_TRUE(recorder.take().empty()) << "factory set-up is not an act of the phone";

    DWORD v = 99;
    EXPECT_TRUE(api_read(u"System\\State\\Phone", u"Missed Call Count", v));
    EXPECT_EQ(v, 0u);
    RegValue value;
    for (auto [root, key, name] :
         {std::tuple{RegRoot::CurrentUser, u"System\\State\\Messages\\SMS\\Unread", u"Count"},
          std::tuple{RegRoot::LocalMachine, u"System\\State\\Phone", u"Active Call Count"},
          std::tuple{RegRoot::LocalMachine, u"System\\State", u"Lock"}}) {
        ASSERT_EQ(store().get_value({root, key}, name, value), RegStatus::Ok) << handset::to_utf8(name);
        EXPECT_EQ(value.type, REG_DWORD);
        EXPECT_EQ(value.data, handset::dword_bytes(0));
    }
    // The power manager's timeouts of a typical handset.
    for (const handset::PowerTimeoutValue& t : handset::kPowerTimeouts) {
        ASSERT_EQ(store().get_value({RegRoot::LocalMachine, handset::kPowerTimeoutsKey}, t.name, value), RegStatus::Ok)
            << handset::to_utf8(t.name);
        EXPECT_EQ(value.data, handset::dword_bytes(t.factory)) << handset::to_utf8(t.name);
    }
    ASSERT_EQ(store().get_value({RegRoot::CurrentUser, u"ControlPanel\\Profiles"}, u"ActiveProfile", value),
              RegStatus::Ok);
    EXPECT_EQ(value.type, REG_SZ);
    EXPECT_EQ(value.data, handset::sz_bytes(u"Normal"));

    handset::RegTree entry;
    ASSERT_EQ(store().read_tree({RegRoot::CurrentUser, u"Comm\\RasBook\\SKT IE GPRS"}, entry), RegStatus::Ok);
    ASSERT_EQ(entry.values.size(), 2u);
    EXPECT_EQ(entry.values[0].name, u"DevCfg");
    EXPECT_EQ(entry.values[1].name, u"Entry");
    for (const auto& val : entry.values) {
        EXPECT_EQ(val.type, REG_BINARY);
        EXPECT_GE(val.data.size(), 24u);
    }
    handset::KeyId id;
    EXPECT_EQ(store().find_key({RegRoot::CurrentUser, u"Comm\\RasBook\\KTF IE GPRS"}, id), RegStatus::NotFound);
    EXPECT_EQ(store().find_key({RegRoot::CurrentUser, u"Software\\Quillon"}, id), RegStatus::NotFound);

    // Every device gets the same bytes.
    TempDir other_dir;
    RegistryStore other(other_dir.file("registry.db"));
    ASSERT_EQ(handset::write_factory_registry(other, "skt"), RegStatus::Ok);
    handset::RegTree other_entry;
    ASSERT_EQ(other.read_tree({RegRoot::CurrentUser, u"Comm\\RasBook\\SKT IE GPRS"}, other_entry), RegStatus::Ok);
    EXPECT_EQ(other_entry.values[0].data, entry.values[0].data);
    EXPECT_EQ(other_entry.values[1].data, entry.values[1].data);
}

// Several values of a key in one read: each one as a single read would see it.
TEST_F(FactoryTest, ValuesReadTogetherAreEachAsReadAlone) {
    const RegKeyPath key{RegRoot::LocalMachine, u"Timeouts"};
    ASSERT_EQ(store().set_value(key, u"Whole", REG_DWORD, handset::dword_bytes(45)), RegStatus::Ok);
    ASSERT_EQ(store().set_value(key, u"Text", REG_SZ, handset::sz_bytes(u"45")), RegStatus::Ok);
    ASSERT_EQ(store().set_value(key, u"Short", REG_BINARY, Bytes{1, 2, 3}), RegStatus::Ok);
    ASSERT_EQ(store().set_value(key, u"Zero", REG_DWORD, handset::dword_bytes(0)), RegStatus::Ok);
    const std::vector<std::u16string_view> names{u"WHOLE", u"Text", u"Short", u"Missing", u"zero", u"Whole"};
    const std::vector<std::optional<DWORD>> expected{45, std::nullopt, std::nullopt, std::nullopt, 0, 45};
    EXPECT_EQ(handset::read_dwords(key, names), expected);

    std::vector<std::optional<RegValue>> values;
    ASSERT_EQ(store().get_values(key, names, values), RegStatus::Ok);
    ASSERT_EQ(values.size(), names.size());
    ASSERT_TRUE(values[0]);
    EXPECT_EQ(values[0]->name, u"Whole") << "the name as created";
    ASSERT_TRUE(values[1]);
    EXPECT_EQ(values[1]->type, static_cast<DWORD>(REG_SZ));
    EXPECT_FALSE(values[3]);

    // A missing key, or a key path the store refuses, reads as nothing at all.
    values.assign(1, RegValue{});
    EXPECT_EQ(store().get_values({RegRoot::LocalMachine, u"Gone"}, names, values), RegStatus::NotFound);
    EXPECT_EQ(handset::read_dwords({RegRoot::LocalMachine, u"Gone"}, names),
              std::vector<std::optional<DWORD>>(names.size()));
    EXPECT_NE(store().get_values({RegRoot::LocalMachine, u"Bad\\\\Path"}, names, values), RegStatus::Ok);
}

TEST_F(FactoryTest, TheModelChoosesTheEntry) {
    handset::KeyId id;
    ASSERT_EQ(handset::write_factory_registry(store(), "ktf"), RegStatus::Ok);
    EXPECT_EQ(store().find_key({RegRoot::CurrentUser, u"Comm\\RasBook\\KTF IE GPRS"}, id), RegStatus::Ok);
    EXPECT_EQ(store().find_key({RegRoot::CurrentUser, u"Comm\\RasBook\\SKT IE GPRS"}, id), RegStatus::NotFound);

    TempDir none_dir;
    RegistryStore none(none_dir.file("registry.db"));
    ASSERT_EQ(handset::write_factory_registry(none, "none"), RegStatus::Ok);
    EXPECT_EQ(none.find_key({RegRoot::CurrentUser, u"Comm"}, id), RegStatus::NotFound);
    EXPECT_EQ(none.find_key({RegRoot::LocalMachine, u"System\\State"}, id), RegStatus::Ok);

    // Some firmware keeps the unread-SMS count under HKLM, and such a device does too.
    TempDir hklm_dir;
    RegistryStore hklm(hklm_dir.file("registry.db"));
    ASSERT_EQ(handset::write_factory_registry(hklm, "skt", true), RegStatus::Ok);
    RegValue value;
    EXPECT_EQ(hklm.get_value({RegRoot::LocalMachine, u"System\\State\\Messages\\SMS\\Unread"}, u"Count", value), RegStatus::Ok);
    EXPECT_EQ(hklm.find_key({RegRoot::CurrentUser, u"System\\State\\Messages"}, id), RegStatus::NotFound);

    TempDir bad_dir;
    RegistryStore bad(bad_dir.file("registry.db"));
    EXPECT_EQ(handset::write_factory_registry(bad, "nokia"), RegStatus::Invalid);
    EXPECT_EQ(bad.find_key({RegRoot::LocalMachine, u"System"}, id), RegStatus::NotFound);
}

}  // namespace
