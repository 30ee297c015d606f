// Sound playback timed on the virtual clock, the default sound, the vibration motor,
// and the sound set built into the emulator; the cache of the device's sound files.
#include <fcntl.h>

#include <fstream>
#include <iterator>

#include "common/build_paths.h"
#include "common/temp_dir.h"
#include "device_fixture.h"
#include "platform/handset/core/host_io.h"
#include "platform/handset/devices/sound_files.h"
#include "platform/handset/devices/sound_set.h"
#include "platform/handset/devices/wav.h"
#include "res/program_facts.h"

namespace {

class SoundTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        // 12000 frames at 16 kHz: 750 ms; 22050 stereo frames at 44.1 kHz: 500 ms.
        write_host_file(root_ / "device" / "fs" / "Sounds" / "short.wav", pcm_wav(16000, 1, 12000));
        write_host_file(root_ / "device" / "fs" / "Sounds" / "stereo.wav", pcm_wav(44100, 2, 22050));
        write_host_file(root_ / "device" / "fs" / "Sounds" / "long.wav", pcm_wav(8000, 1, 16000));
        write_host_file(root_ / "device" / "fs" / "Sounds" / "junk.wav", std::vector<char>(300, 'x'));
        handset::set_idle_timeout(std::nullopt);
    }
};

TEST_F(SoundTest, SynchronousPlayTakesExactlyTheSoundsLength) {
    const long long start = now();
    EXPECT_TRUE(sndPlaySound(u"\\Sounds\\short.wav", SND_SYNC | SND_FILENAME));
    EXPECT_EQ(now(), start + 750);
    EXPECT_TRUE(sndPlaySound(u"\\sounds\\STEREO.WAV", SND_SYNC));
    EXPECT_EQ(now(), start + 1250) << "any format, any case of the path";

    const auto sounds = events("sound");
    ASSERT_EQ(sounds.size(), 2u);
    EXPECT_EQ(sounds[0]["t"], start);
    EXPECT_EQ(sounds[0]["file"], "\\Sounds\\short.wav");
    EXPECT_EQ(sounds[0]["mode"], "sync");
    EXPECT_EQ(sounds[0]["ms"], 750);
    EXPECT_EQ(sounds[0]["missing"], false);
    EXPECT_EQ(sounds[1]["ms"], 500);
    EXPECT_FALSE(handset::sound_playing());
}

TEST_F(SoundTest, AsynchronousPlayReturnsAtOnceAndTheNextSoundCutsIt) {
    const long long start = now();
    EXPECT_TRUE(sndPlaySound(u"\\Sounds\\long.wav", SND_ASYNC | SND_FILENAME));
    EXPECT_EQ(now(), start);
    sleep(300);
    EXPECT_EQ(handset::sound_playing(), u"\\Sounds\\long.wav");
    EXPECT_TRUE(sndPlaySound(u"\\Sounds\\short.wav", SND_ASYNC));
    EXPECT_EQ(handset::sound_playing(), u"\\Sounds\\short.wav");
    sleep(750);
    EXPECT_FALSE(handset::sound_playing()) << "the short sound has ended and the long one was cut";
    EXPECT_EQ(events("sound")[0]["mode"], "async");
}

TEST_F(SoundTest, NewSoundEndsAWaitingSynchronousPlay) {
    struct Played {
        long long returned_at = -1;
    } played;
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            sndPlaySound(u"\\Sounds\\long.wav", SND_SYNC);  // 2000 ms
            static_cast<Played*>(p)->returned_at = handset::clock().now_ms();
            return 0;
        },
        &played, 0, nullptr);
    const long long start = now();
    sleep(400);
    sndPlaySound(u"\\Sounds\\short.wav", SND_ASYNC);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(played.returned_at, start + 400);
    CloseHandle(thread);

    // Stopping with no file works the same way.
    sndPlaySound(u"\\Sounds\\long.wav", SND_ASYNC);
    EXPECT_TRUE(sndPlaySound(nullptr, 0));
    EXPECT_FALSE(handset::sound_playing());
}

TEST_F(SoundTest, MissingOrUnreadableFilePlaysTheDefaultSound) {
    const long long start = now();
    EXPECT_TRUE(sndPlaySound(u"\\Sounds\\none.wav", SND_SYNC));
    const long long beep = now() - start;
    EXPECT_GT(beep, 0);
    EXPECT_LT(beep, 1000) << "a short beep";
    EXPECT_TRUE(sndPlaySound(u"\\Sounds\\junk.wav", SND_ASYNC));
    EXPECT_TRUE(sndPlaySound(u"relative.wav", SND_ASYNC));

    const auto sounds = events("sound");
    ASSERT_EQ(sounds.size(), 3u);
    for (const auto& s : sounds) {
        EXPECT_EQ(s["missing"], true);
        EXPECT_EQ(s["ms"], beep);
    }
    EXPECT_EQ(sounds[0]["file"], "\\Sounds\\none.wav");

    // With SND_NODEFAULT there is no sound at all.
    const long long before = now();
    EXPECT_FALSE(sndPlaySound(u"\\Sounds\\none.wav", SND_SYNC | SND_NODEFAULT));
    EXPECT_EQ(now(), before);
    EXPECT_EQ(events("sound").size(), 3u);
    EXPECT_FALSE(sndPlaySound(u"\\Sounds\\short.wav", 0x8 /* SND_LOOP */));
}

TEST_F(SoundTest, FactorySoundSetMatchesTheFilesAndPlaysForItsLength) {
    const std::filesystem::path source = std::filesystem::path(qtest::kSourceDir) / "res" / "sound";
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(source)) {
        const auto installed = host(u"\\Program Files\\Quillon\\Sound\\" + handset::to_utf16(entry.path().filename().string()));
        std::ifstream a(entry.path(), std::ios::binary), b(installed, std::ios::binary);
        ASSERT_TRUE(b) << installed;
        EXPECT_TRUE(std::equal(std::istreambuf_iterator<char>(a), {}, std::istreambuf_iterator<char>(b), {}))
            << entry.path().filename();
        ++count;
    }
    EXPECT_EQ(count, 16);

    // alert1.wav: its data chunk's length gives the time the call takes.
    std::ifstream in(source / "alert1.wav", std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    const auto wav = handset::decode_wav(bytes, true);
    ASSERT_TRUE(wav);
    ASSERT_TRUE(wav->samples);
    EXPECT_EQ(wav->duration_ms, (static_cast<long long>(wav->samples->size()) * 1000 + 8000) / 16000);
    const long long start = now();
    sndPlaySound(u"\\Program Files\\Quillon\\Sound\\alert1.wav", SND_SYNC);
    EXPECT_EQ(now() - start, wav->duration_ms);
    EXPECT_EQ(events("sound")[0]["missing"], false);
}

TEST_F(SoundTest, InstallSoundSetWritesEveryFile) {
    const auto folder = root_ / "elsewhere" / "Sound";
    handset::install_sound_set(folder);
    for (const char* name : {"missedCall.wav", "unreadSms.wav", "missedCallSms.wav", "alert1.wav", "alert10.wav",
                             "alertOver.wav", "enable3Gsvc.wav", "disable3Gsvc.wav"})
        EXPECT_GT(std::filesystem::file_size(folder / name), 44u) << name;
}

// Every sound the program plays is built into the emulator under the name the program
// asks for, in the same case.
TEST(SoundSetTest, HoldsEverySoundTheProgramNames) {
    std::vector<std::u16string> named{kMissedCallSound, kUnreadSmsSound, kMissedCallSmsSound,
                                      kCountOverSound,  k3GAllowedSound, k3GBlockedSound};
    for (LONG count = 1; count <= kLargestCountSound; ++count)
        named.push_back(kCountSoundPrefix + handset::to_utf16(std::to_string(count)) + kCountSoundSuffix);
    std::vector<std::string> built_in;
    for (const handset::SoundFile& file : handset::sound_set()) built_in.emplace_back(file.name);
    for (const std::u16string& name : named)
        EXPECT_NE(std::find(built_in.begin(), built_in.end(), handset::to_utf8(name)), built_in.end())
            << handset::to_utf8(name);
    EXPECT_EQ(built_in.size(), named.size());
}

// A file is kept once its last change lies further back than the file system's clock
// could blur: 100 ms for times with fractions of a second, 3 s for whole seconds.
TEST(SoundFileCacheTest, AFileIsKeptOnlyOnceItsLastChangeHasSettled) {
    const timespec now{1000, 500'000'000};
    const struct {
        const char* what;
        timespec changed;
        bool settled;
    } cases[] = {
        {"50 ms before", {1000, 450'000'000}, false},
        {"200 ms before", {1000, 300'000'000}, true},
        {"whole seconds, 2.5 s before", {998, 0}, false},
        {"whole seconds, 3.5 s before", {997, 0}, true},
        {"stamped after now: the host's clock was set back", {1001, 1}, false},
    };
    for (const auto& c : cases) {
        struct stat st {};
        st.st_mtim = st.st_ctim = c.changed;
        EXPECT_EQ(handset::settled_file(st, now), c.settled) << c.what;
    }
}

// A settled file is read once; a file still settling, or one changed or replaced since
// (even by one of the same size), is read again and gives what it now holds.
TEST(SoundFileCacheTest, ASettledFileIsReadOnceAndAChangedOneAgain) {
    namespace fs = std::filesystem;
    const struct {
        const char* what;
        long long settle_ns;  // how long after the file's last change each load runs
        void (*change)(const fs::path& file);
        int reads;
        long long ms;  // what the second load gives
    } cases[] = {
        {"unchanged", 1'000'000'000, [](const fs::path&) {}, 1, 750},
        {"unchanged, still settling", 10'000'000, [](const fs::path&) {}, 2, 750},
        {"rewritten longer in place", 1'000'000'000,
         [](const fs::path& f) { write_host_file(f, pcm_wav(16000, 1, 24000)); }, 2, 1500},
        {"replaced by a file of the same size",
         1'000'000'000,
         [](const fs::path& f) {
             write_host_file(f.string() + ".new", pcm_wav(8000, 1, 12000));
             fs::rename(f.string() + ".new", f);
         },
         2, 1500},
    };
    for (const auto& c : cases) {
        qtest::TempDir dir("sound-files");
        const fs::path file = dir.path() / "short.wav";
        write_host_file(file, pcm_wav(16000, 1, 12000));
        handset::SoundFileCache cache;
        auto load = [&] {
            const handset::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
            struct stat st {};
            ::fstat(fd.get(), &st);
            const long long at = st.st_ctim.tv_sec * 1'000'000'000LL + st.st_ctim.tv_nsec + c.settle_ns;
            return cache.load(fd.get(), false, {at / 1'000'000'000, at % 1'000'000'000});
        };
        ASSERT_EQ(load()->duration_ms, 750) << c.what;
        c.change(file);
        const auto again = load();
        ASSERT_TRUE(again) << c.what;
        EXPECT_EQ(again->duration_ms, c.ms) << c.what;
        EXPECT_EQ(cache.files_read(), static_cast<std::uint64_t>(c.reads)) << c.what;
    }
}

using VibrationTest = DeviceTest;

TEST_F(VibrationTest, PulseIsReportedWhenItStopsWithItsStartTime) {
    sleep(100);
    EXPECT_EQ(Vibrate(0, nullptr, TRUE, INFINITE), 0);
    EXPECT_TRUE(handset::vibrating());
    sleep(50);
    EXPECT_TRUE(events("vibrate").empty()) << "reported only when it stops";
    EXPECT_EQ(Vibrate(0, nullptr, TRUE, INFINITE), 0) << "a start while running continues the pulse";
    sleep(50);
    EXPECT_EQ(VibrateStop(), 0);
    EXPECT_FALSE(handset::vibrating());
    EXPECT_EQ(VibrateStop(), 0);

    const auto pulses = events("vibrate");
    ASSERT_EQ(pulses.size(), 1u);
    EXPECT_EQ(pulses[0]["t"], 100);
    EXPECT_EQ(pulses[0]["ms"], 100);
    EXPECT_NE(Vibrate(0, nullptr, TRUE, 500), 0) << "timed vibrations are not built in";
    EXPECT_FALSE(handset::vibrating());
}

}  // namespace
