// The point-read cache remembers answers by the exact text they were asked with as well
// as by the folded name: every spelling must keep following writes made through another
// connection to the file, and a malformed name must be refused every time it is asked.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>

#include "platform/handset/registry/store.h"
#include "registry_fixture.h"

namespace {

using handset::KeyId;
using handset::RegKeyPath;
using handset::RegRoot;
using handset::RegStatus;
using handset::RegistryStore;

// A DWORD read as the platform API reads it; -1 when the read does not succeed.
long long read_dword(RegistryStore& store, KeyId key, std::u16string_view name) {
    DWORD type = 0, value = 0;
    std::size_t size = 0;
    if (store.query_value(key, name, type, reinterpret_cast<std::uint8_t*>(&value), sizeof value, size) !=
        RegStatus::Ok)
        return -1;
    return size == sizeof value ? value : -1;
}

TEST(ReadCache, EverySpellingFollowsAnotherConnectionsWrites) {
    regtest::TempDir dir;
    RegistryStore writer(dir.file("registry.db"));
    RegistryStore reader(dir.file("registry.db"));
    const RegKeyPath phone{RegRoot::CurrentUser, u"System\\State\\Phone"};
    const RegKeyPath shouted{RegRoot::CurrentUser, u"SYSTEM\\STATE\\PHONE"};

    // Asked for before it exists, under both spellings: both answers are remembered.
    KeyId id = 0;
    EXPECT_EQ(reader.find_key(phone, id), RegStatus::NotFound);
    EXPECT_EQ(reader.find_key(shouted, id), RegStatus::NotFound);

    ASSERT_EQ(writer.set_value(phone, u"Missed Call Count", REG_DWORD, handset::dword_bytes(1)), RegStatus::Ok);
    KeyId by_shout = 0;
    ASSERT_EQ(reader.find_key(shouted, by_shout), RegStatus::Ok);
    std::u16string stored;
    ASSERT_EQ(reader.find_key(phone, id, &stored), RegStatus::Ok);
    EXPECT_EQ(id, by_shout);
    EXPECT_EQ(stored, u"System\\State\\Phone");

    EXPECT_EQ(read_dword(reader, id, u"Missed Call Count"), 1);
    EXPECT_EQ(read_dword(reader, id, u"missed call count"), 1);
    EXPECT_EQ(read_dword(reader, id, u"Unread"), -1);

    // Each write is seen under every spelling asked before, and under new ones.
    for (std::uint32_t n = 2; n < 6; ++n) {
        ASSERT_EQ(writer.set_value(phone, u"Missed Call Count", REG_DWORD, handset::dword_bytes(n)), RegStatus::Ok);
        EXPECT_EQ(read_dword(reader, id, u"Missed Call Count"), n);
        EXPECT_EQ(read_dword(reader, id, u"missed call count"), n);
        EXPECT_EQ(read_dword(reader, id, u"MISSED CALL COUNT"), n);
    }
    ASSERT_EQ(writer.set_value(phone, u"Unread", REG_DWORD, handset::dword_bytes(7)), RegStatus::Ok);
    EXPECT_EQ(read_dword(reader, id, u"Unread"), 7);

    ASSERT_EQ(writer.delete_key(phone), RegStatus::Ok);
    DWORD type = 0;
    std::size_t size = 0;
    EXPECT_EQ(reader.query_value(id, u"Missed Call Count", type, nullptr, 0, size), RegStatus::KeyDeleted);
    EXPECT_EQ(reader.find_key(shouted, id), RegStatus::NotFound);
    EXPECT_EQ(reader.find_key(phone, id), RegStatus::NotFound);
}

// Each thread keeps its own answers: a thread's remembered reads must follow writes that
// other threads make through the same store, and the writer's own reads its writes.
TEST(ReadCache, EveryThreadFollowsTheWritesOfTheOthersOnOneStore) {
    regtest::TempDir dir;
    RegistryStore store(dir.file("registry.db"));
    const RegKeyPath phone{RegRoot::CurrentUser, u"System\\State\\Phone"};
    ASSERT_EQ(store.set_value(phone, u"Count", REG_DWORD, handset::dword_bytes(0)), RegStatus::Ok);
    KeyId id = 0;
    ASSERT_EQ(store.find_key(phone, id), RegStatus::Ok);
    for (std::uint32_t n = 1; n < 4; ++n) {
        EXPECT_EQ(read_dword(store, id, u"Count"), n - 1);
        std::thread([&] {
            EXPECT_EQ(read_dword(store, id, u"Count"), n - 1);
            ASSERT_EQ(store.set_value(phone, u"Count", REG_DWORD, handset::dword_bytes(n)), RegStatus::Ok);
            EXPECT_EQ(read_dword(store, id, u"Count"), n);
        }).join();
        EXPECT_EQ(read_dword(store, id, u"Count"), n);
    }
    std::thread([&] { ASSERT_EQ(store.delete_key(phone), RegStatus::Ok); }).join();
    KeyId again = 0;
    EXPECT_EQ(store.find_key(phone, again), RegStatus::NotFound);
    EXPECT_EQ(read_dword(store, id, u"Count"), -1);
}

TEST(ReadCache, AMalformedPathIsRefusedEveryTime) {
    regtest::TempDir dir;
    RegistryStore store(dir.file("registry.db"));
    const RegKeyPath doubled{RegRoot::CurrentUser, u"System\\\\State"};
    const RegKeyPath unpaired{RegRoot::CurrentUser, std::u16string(u"Bad") + char16_t(0xDC00)};
    ASSERT_EQ(store.set_value({RegRoot::CurrentUser, u"System\\State"}, u"Lock", REG_DWORD, handset::dword_bytes(0)),
              RegStatus::Ok);
    for (int i = 0; i < 3; ++i) {
        KeyId id = 0;
        EXPECT_EQ(store.find_key(doubled, id), RegStatus::Invalid);
        EXPECT_EQ(store.find_key(unpaired, id), RegStatus::Invalid);
    }
}

}  // namespace
