// The playing time read from a WAV header agrees with SDL's loader: for every file the
// header reading takes, SDL gives the same time; files it leaves to SDL still decode.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/handset/devices/wav.h"

namespace {

struct WavSpec {
    std::uint16_t tag = 1;  // PCM
    std::uint16_t channels = 1;
    std::uint32_t rate = 16000;
    std::uint16_t bits = 16;
    std::uint16_t block_align = 0;       // 0: channels * bits / 8
    std::uint32_t fmt_length = 16;       // extra bytes are zero
    std::uint32_t data_bytes = 32000;    // as stored in the file
    std::int64_t data_declared = -1;     // the data chunk's length field; -1: data_bytes
    std::int64_t riff_length = -1;       // -1: the file's length less 8
    std::string chunk_before_data;       // a chunk id put between "fmt " and "data"
};

std::vector<std::uint8_t> make_wav(const WavSpec& s) {
    std::vector<std::uint8_t> out;
    auto put = [&](std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    auto tag = [&](const char* t) { out.insert(out.end(), t, t + 4); };
    tag("RIFF");
    put(0, 4);
    tag("WAVE");
    tag("fmt ");
    put(s.fmt_length, 4);
    const std::size_t fmt_at = out.size();
    const std::uint16_t align = s.block_align ? s.block_align : static_cast<std::uint16_t>(s.channels * s.bits / 8);
    put(s.tag, 2);
    put(s.channels, 2);
    put(s.rate, 4);
    put(static_cast<std::uint64_t>(s.rate) * align, 4);
    put(align, 2);
    put(s.bits, 2);
    out.resize(fmt_at + s.fmt_length + (s.fmt_length & 1), 0);
    if (!s.chunk_before_data.empty()) {
        tag(s.chunk_before_data.c_str());
        put(4, 4);
        put(0, 4);
    }
    tag("data");
    put(s.data_declared >= 0 ? static_cast<std::uint64_t>(s.data_declared) : s.data_bytes, 4);
    out.resize(out.size() + s.data_bytes, 0x11);
    const std::uint64_t riff = s.riff_length >= 0 ? static_cast<std::uint64_t>(s.riff_length) : out.size() - 8;
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
    return out;
}

// What SDL's loader makes of the file: its playing time, or -1 when it refuses it.
long long sdl_ms(const std::vector<std::uint8_t>& bytes) {
    const auto sound = handset::decode_wav(bytes, true);
    return sound ? sound->duration_ms : -1;
}

class HeaderTiming : public ::testing::TestWithParam<WavSpec> {};

TEST_P(HeaderTiming, AgreesWithSdl) {
    const auto bytes = make_wav(GetParam());
    const auto header = handset::plain_pcm_duration_ms(bytes);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(*header, sdl_ms(bytes));
    const auto timed = handset::decode_wav(bytes, false);
    ASSERT_TRUE(timed);
    EXPECT_EQ(timed->duration_ms, *header);
    EXPECT_EQ(timed->samples, nullptr);
}

WavSpec with(void (*change)(WavSpec&)) {
    WavSpec s;
    change(s);
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    PlainFiles, HeaderTiming,
    ::testing::Values(WavSpec{},  // the sound set's own format: 1000 ms
                      with([](WavSpec& s) { s.bits = 8; }), with([](WavSpec& s) { s.bits = 24; }),
                      with([](WavSpec& s) { s.bits = 32; }),
                      with([](WavSpec& s) {
                          s.tag = 3;  // IEEE float
                          s.bits = 32;
                      }),
                      with([](WavSpec& s) {
                          s.channels = 3;
                          s.rate = 44100;
                          s.data_bytes = 3 * 2 * 44100 / 3;
                      }),
                      // A trailing part frame is not played.
                      with([](WavSpec& s) {
                          s.channels = 2;
                          s.data_bytes = 4 * 1001 + 3;
                      }),
                      // Rounding to the nearest millisecond, both ways.
                      with([](WavSpec& s) {
                          s.rate = 11025;
                          s.data_bytes = 2 * 11031;
                      }),
                      with([](WavSpec& s) { s.data_bytes = 0; }),
                      with([](WavSpec& s) { s.fmt_length = 18; }),
                      with([](WavSpec& s) { s.fmt_length = 17; }),  // odd: a pad byte follows
                      // A RIFF length of 0 is unknown; one that ends inside the data does
                      // not shorten it.
                      with([](WavSpec& s) { s.riff_length = 0; }),
                      with([](WavSpec& s) { s.riff_length = 40; })));

TEST(HeaderTimingLeavesToSdl, FilesItCannotJudge) {
    struct Case {
        const char* what;
        WavSpec spec;
        bool sdl_plays;
    };
    const Case cases[] = {
        {"data chunk longer than the file", with([](WavSpec& s) { s.data_declared = 64000; }), true},
        {"chunk between fmt and data", with([](WavSpec& s) { s.chunk_before_data = "LIST"; }), true},
        {"RIFF length ends before the data chunk", with([](WavSpec& s) { s.riff_length = 28; }), false},
        {"block alignment that does not fit", with([](WavSpec& s) { s.block_align = 3; }), false},
        {"12-bit PCM", with([](WavSpec& s) { s.bits = 12; }), false},
        {"64-bit float", with([](WavSpec& s) {
             s.tag = 3;
             s.bits = 64;
         }),
         false},
        {"no sample rate", with([](WavSpec& s) { s.rate = 0; }), false},
        {"short fmt chunk", with([](WavSpec& s) { s.fmt_length = 14; }), false},
        {"mu-law", with([](WavSpec& s) {
             s.tag = 7;
             s.bits = 8;
         }),
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto bytes = make_wav(c.spec);
        EXPECT_FALSE(handset::plain_pcm_duration_ms(bytes).has_value());
        const long long sdl = sdl_ms(bytes);
        EXPECT_EQ(sdl >= 0, c.sdl_plays);
        // Without samples the time still comes, from SDL.
        const auto timed = handset::decode_wav(bytes, false);
        EXPECT_EQ(timed ? timed->duration_ms : -1, sdl);
    }
    // Not a WAV at all.
    EXPECT_FALSE(handset::plain_pcm_duration_ms(std::vector<std::uint8_t>(64, 'x')).has_value());
}

}  // namespace
