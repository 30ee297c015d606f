// What the fuzz targets found, kept as plain tests so that every build checks it:
// WAV files whose chunks lie about their length or whose sample rate is absurd, and
// registry names that SQLite's text cannot give back unchanged.
#include <gtest/gtest.h>

#include <cstring>

#include "common/child_process.h"
#include "platform/handset/devices/wav.h"
#include "platform/handset/registry/regfile.h"
#include "platform/handset/registry/store.h"

namespace reltest {
namespace {

using namespace qtest;

using Bytes = std::vector<std::uint8_t>;

void put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void tag(Bytes& b, const char* four) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(four[i]));
}

// A mono WAV of `format` (1 PCM, 7 mu-law) whose data chunk declares `declared` bytes and
// holds `present`; without the RIFF header when `bare` (SDL reads such files too).
Bytes wav(std::uint16_t format, std::uint16_t bits, std::uint32_t rate, std::uint32_t declared, std::size_t present,
          bool bare = false) {
    Bytes b;
    if (!bare) {
        tag(b, "RIFF");
        put32(b, static_cast<std::uint32_t>(36 + present));
    }
    tag(b, "WAVE");
    tag(b, "fmt ");
    put32(b, 16);
    put16(b, format);
    put16(b, 1);
    put32(b, rate);
    put32(b, rate * bits / 8);
    put16(b, static_cast<std::uint16_t>(bits / 8));
    put16(b, bits);
    tag(b, "data");
    put32(b, declared);
    for (std::size_t i = 0; i < present; ++i) b.push_back(static_cast<std::uint8_t>(0x80 + (i % 16)));
    return b;
}

TEST(WavFindings, ADataChunkLongerThanTheFileIsPlayedAsFarAsItGoes) {
    // 160 mu-law samples at 8 kHz (20 ms) in a data chunk that claims 2.7 GB: the loader
    // used to ask for all of it before reading.
    for (const bool bare : {false, true}) {
        const auto sound = handset::decode_wav(wav(7, 8, 8000, 0xA10000A0u, 160, bare), true);
        ASSERT_TRUE(sound.has_value()) << "bare " << bare;
        EXPECT_EQ(sound->duration_ms, 20);
        ASSERT_TRUE(sound->samples);
        EXPECT_EQ(sound->samples->size(), 320u);  // 20 ms at 16 kHz
    }
}

TEST(WavFindings, AnEmptyDataChunkIsASilentSoundOfNoLength) {
    const auto sound = handset::decode_wav(wav(1, 16, 8000, 0, 0), true);
    ASSERT_TRUE(sound.has_value());
    EXPECT_EQ(sound->duration_ms, 0);
    ASSERT_TRUE(sound->samples);
    EXPECT_TRUE(sound->samples->empty());
}

TEST(WavFindings, AnAbsurdSampleRateKeepsItsTimeAndPlaysSilent) {
    // 64 KB at 1 Hz would need gigabytes resampled to 16 kHz.
    const auto sound = handset::decode_wav(wav(1, 8, 1, 65536, 65536), true);
    ASSERT_TRUE(sound.has_value());
    EXPECT_EQ(sound->duration_ms, 65536LL * 1000);
    EXPECT_FALSE(sound->samples);
}

class RegistryNames : public ::testing::Test {
protected:
    TempDir dir_;
    handset::RegistryStore store_{(dir_ / "registry.db").string()};
    const handset::RegKeyPath key_{handset::RegRoot::CurrentUser, u"Software\\Test"};
};

TEST_F(RegistryNames, NamesTextCannotCarryAreRefusedNotStoredOutOfReach) {
    const std::u16string bad[] = {
        std::u16string(u"a") + char16_t(0xFFFE),
        std::u16string(u"b") + char16_t(0xFFFF),
        std::u16string(u"c") + char16_t(0xD800),        // high surrogate at the end
        std::u16string(u"d") + char16_t(0xDC00) + u"x",  // low surrogate alone
        std::u16string(u"e") + char16_t(0xD800) + u"x",  // high surrogate without its pair
        std::u16string(u"f\0g", 3),
    };
    const Bytes data{1};
    for (const auto& name : bad) {
        EXPECT_EQ(store_.set_value(key_, name, REG_BINARY, data), handset::RegStatus::Invalid);
        EXPECT_EQ(store_.set_value({key_.root, key_.path + u"\\" + name}, u"v", REG_BINARY, data),
                  handset::RegStatus::Invalid);
    }
    // Nothing half-made: the key was never created.
    handset::KeyId id = 0;
    EXPECT_EQ(store_.find_key(key_, id), handset::RegStatus::NotFound);

    // Characters beyond the BMP are whole surrogate pairs and come back as they went in.
    const std::u16string smile = u"smile \U0001F600";
    ASSERT_EQ(store_.set_value({key_.root, key_.path + u"\\" + smile}, smile, REG_BINARY, data),
              handset::RegStatus::Ok);
    ASSERT_EQ(store_.find_key(key_, id), handset::RegStatus::Ok);
    std::u16string sub;
    ASSERT_EQ(store_.enum_subkey(id, 0, sub), handset::RegStatus::Ok);
    EXPECT_EQ(sub, smile);
    ASSERT_EQ(store_.delete_key({key_.root, key_.path + u"\\" + sub}), handset::RegStatus::Ok);
}

TEST_F(RegistryNames, AFileWithSuchANameImportsNothingAndSaysWhere) {
    std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Test]\r\n"
                          u"\"ok\"=dword:00000001\r\n\"bad";
    text += char16_t(0xFFFE);
    text += u"\"=dword:00000002\r\n";
    handset::RegFileError error;
    EXPECT_FALSE(handset::import_reg_file(store_, handset::encode_utf16le_file(text), error, handset::Notify::Quiet));
    EXPECT_EQ(error.line, 5u) << error.describe();
    handset::KeyId id = 0;
    EXPECT_EQ(store_.find_key(key_, id), handset::RegStatus::NotFound);
}

}  // namespace
}  // namespace reltest
