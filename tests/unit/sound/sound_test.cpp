#include "platform/sound/player.h"
#include "platform/sound/sound.h"
#include "tests/support/test_env.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sndfile.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kvr::sound {
namespace {

namespace fs = std::filesystem;

struct Wave {
    SF_INFO info{};
    std::vector<int> samples; // interleaved
};

std::optional<Wave> readWave(const fs::path& p) {
    Wave w;
    SNDFILE* sf = ::sf_open(p.c_str(), SFM_READ, &w.info);
    if (sf == nullptr) return std::nullopt;
    w.samples.resize(static_cast<size_t>(w.info.frames * w.info.channels));
    const sf_count_t n = ::sf_readf_int(sf, w.samples.data(), w.info.frames);
    ::sf_close(sf);
    if (n != w.info.frames) return std::nullopt;
    return w;
}

// Frequency from the first to the last rising zero crossing, each placed between its two
// samples by linear interpolation (counting alone would be too coarse for short beeps).
double measureHz(const Wave& w) {
    std::vector<double> rising;
    for (size_t i = 1; i < w.samples.size(); ++i) {
        const double a = w.samples[i - 1], b = w.samples[i];
        if (a < 0 && b > 0)
            rising.push_back(double(i - 1) + (-a) / (b - a));
        else if (a < 0 && b == 0)
            rising.push_back(double(i));
    }
    if (rising.size() < 2) return 0;
    return double(rising.size() - 1) * w.info.samplerate / (rising.back() - rising.front());
}

std::vector<fs::path> sinkFiles(const fs::path& dir) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string()[0] != '.') out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

class SoundSink : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = kvr::test::makeTempDir("sink");
        ::setenv("KVR_SOUND_SINK", dir_.c_str(), 1);
    }
    fs::path dir_;
};

struct ToneCase {
    uint32_t hz, ms;
};

class SinkTone : public SoundSink, public ::testing::WithParamInterface<ToneCase> {};

TEST_P(SinkTone, HasTheFrequencyAndLength) {
    const auto [hz, ms] = GetParam();
    ASSERT_TRUE(beep(hz, ms));
    const auto files = sinkFiles(dir_);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename().string(),
              "000001-beep-" + std::to_string(hz) + "Hz-" + std::to_string(ms) + "ms.wav");
    const auto w = readWave(files[0]);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->info.channels, 1);
    const double lengthMs = 1000.0 * double(w->info.frames) / w->info.samplerate;
    EXPECT_NEAR(lengthMs, ms, 5.0);
    EXPECT_NEAR(measureHz(*w), hz, hz * 0.01);
}

// The service's beeps (2000/1000 Hz, 20 ms), the slowest and fastest beeps, the stop beep.
INSTANTIATE_TEST_SUITE_P(Table, SinkTone,
                         ::testing::Values(ToneCase{2000, 20}, ToneCase{1000, 20},
                                           ToneCase{37, 200}, ToneCase{38, 1000},
                                           ToneCase{750, 200}, ToneCase{20000, 300},
                                           ToneCase{32767, 5}));

TEST_F(SoundSink, BeepRefusesFrequenciesOutsideTheSystemRange) {
    EXPECT_FALSE(beep(36, 20));
    EXPECT_FALSE(beep(32768, 20));
    EXPECT_FALSE(beep(0, 20));
    EXPECT_TRUE(sinkFiles(dir_).empty());
    EXPECT_TRUE(beep(37, 5));
    EXPECT_TRUE(beep(32767, 5));
    EXPECT_TRUE(beep(1000, 0)); // nothing to sound
    EXPECT_EQ(sinkFiles(dir_).size(), 2u);
}

TEST_F(SoundSink, BeepLastsItsLength) {
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(beep(1000, 120));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
}

TEST_F(SoundSink, NumbersStayUniqueAcrossThreadsAndProcesses) {
    constexpr int kThreads = 4, kProcesses = 3, kEach = 10;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0; i < kEach; ++i)
                beep(500 + p, 5);
            ::_exit(0);
        }
        children.push_back(pid);
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; ++i)
                beep(1000 + t, 5);
        });
    for (auto& t : threads)
        t.join();
    for (pid_t pid : children) {
        int st = 0;
        ASSERT_EQ(::waitpid(pid, &st, 0), pid);
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    }
    const auto files = sinkFiles(dir_);
    const size_t total = (kThreads + kProcesses) * kEach;
    ASSERT_EQ(files.size(), total);
    for (size_t i = 0; i < total; ++i) {
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "%06zu-", i + 1);
        EXPECT_EQ(files[i].filename().string().substr(0, 7), prefix);
    }
}

fs::path makeWave(const fs::path& path, int rate, int channels, int frames) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* sf = ::sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(sf, nullptr);
    std::vector<short> data(static_cast<size_t>(frames * channels));
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<short>((i * 7919) % 65536 - 32768);
    ::sf_writef_short(sf, data.data(), frames);
    ::sf_close(sf);
    return path;
}

TEST_F(SoundSink, WavePlaybackCopiesTheData) {
    const auto src = makeWave(kvr::test::makeTempDir("wav") / "DownSound.wav", 22050, 2, 5000);
    ASSERT_TRUE(playWave(src));
    const auto files = sinkFiles(dir_);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename().string(), "000001-wave-DownSound.wav");
    const auto in = readWave(src), out = readWave(files[0]);
    ASSERT_TRUE(in && out);
    EXPECT_EQ(out->info.samplerate, 22050);
    EXPECT_EQ(out->info.channels, 2);
    EXPECT_EQ(out->info.format, in->info.format);
    EXPECT_EQ(out->samples, in->samples);
}

TEST_F(SoundSink, UnreadableWaveFailsAndWritesNothing) {
    const auto dir = kvr::test::makeTempDir("wav");
    EXPECT_FALSE(playWave(dir / "missing.wav"));
    std::ofstream(dir / "junk.wav") << "RIFF this is not a wave file";
    EXPECT_FALSE(playWave(dir / "junk.wav"));
    EXPECT_TRUE(sinkFiles(dir_).empty());
}

TEST_F(SoundSink, MessageBeepWritesItsTone) {
    EXPECT_TRUE(messageBeep(kMessageBeepAsterisk));
    EXPECT_TRUE(messageBeep(kMessageBeepOk));
    EXPECT_TRUE(messageBeep(0x41)); // MB_OKCANCEL | MB_ICONASTERISK: the icon chooses
    const auto files = sinkFiles(dir_);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].filename().string(), "000001-message-1320Hz-100ms.wav");
    EXPECT_EQ(files[1].filename().string(), "000002-message-880Hz-100ms.wav");
    EXPECT_EQ(files[2].filename().string(), "000003-message-1320Hz-100ms.wav");
}

// Without a sound device (an empty ALSA configuration knows none) every call succeeds.
TEST(SoundSilent, NothingFailsWithoutACard) {
    const auto dir = kvr::test::makeTempDir("alsa");
    std::ofstream(dir / "asound.conf") << "\n";
    ::setenv("ALSA_CONFIG_PATH", (dir / "asound.conf").c_str(), 1);
    ::unsetenv("KVR_SOUND_SINK");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(beep(1000, 50));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    const auto wav = makeWave(dir / "UpSound.wav", 8000, 1, 800);
    EXPECT_TRUE(playWave(wav));
    EXPECT_TRUE(messageBeep(kMessageBeepOk));
    stopPlayback();
    EXPECT_FALSE(playWave(dir / "none.wav"));
}

// A child forked after the playback thread started has no such thread: it stays silent and
// still ends normally (its copy of the player is not joined).
TEST(SoundSilent, AForkedChildEndsNormally) {
    const auto dir = kvr::test::makeTempDir("alsa");
    std::ofstream(dir / "asound.conf") << "\n";
    ::setenv("ALSA_CONFIG_PATH", (dir / "asound.conf").c_str(), 1);
    ::unsetenv("KVR_SOUND_SINK");
    const auto wav = makeWave(dir / "DownSound.wav", 8000, 1, 800);
    ASSERT_TRUE(playWave(wav)); // starts the thread
    // Fork only once the thread is idle: a fork while it is inside the sound libraries would
    // leave their locks taken in the child, which no program of ours does (children exec).
    ASSERT_TRUE(kvr::test::waitUntil([] { return detail::backgroundIdle(); }));
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const bool ok = playWave(wav) && messageBeep(kMessageBeepOk);
        stopPlayback();
        std::exit(ok ? 0 : 1); // runs the static destructors
    }
    int st = 0;
    ASSERT_EQ(::waitpid(pid, &st, 0), pid);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
}

} // namespace
} // namespace kvr::sound
