#include "platform/sound/player.h"

#include "platform/common/log.h"
#include "platform/sound/alsa_output.h"
#include "platform/sound/sound.h"
#include "platform/sound/tone.h"

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace kvr::sound::detail {
namespace {

// Frames per write (10 ms of a tone, 20 ms of a 48 kHz wave): a new sound or a stop takes
// effect between chunks.
constexpr std::size_t kChunkFrames = 960;
// Wave files with more channels than this are mixed by nobody: refuse them.
constexpr int kMaxChannels = 8;

class Player {
public:
    Player() : creator_(::getpid()), thread_(std::make_unique<std::thread>([this] { run(); })) {}
    ~Player() {
        if (!ownedByThisProcess()) {
            // A forked child has a copy of this object but not the thread: there is nothing
            // to stop, and joining a thread of another process is not possible.
            (void)thread_.release();
            return;
        }
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
            generation_.fetch_add(1);
        }
        wake_.notify_all();
        thread_->join();
    }

    bool ownedByThisProcess() const { return ::getpid() == creator_; }

    void submit(PlayJob job) {
        {
            std::lock_guard lock(mutex_);
            pending_ = std::move(job); // an older job not yet started is dropped
            generation_.fetch_add(1);
        }
        wake_.notify_all();
    }

    void stop() {
        std::lock_guard lock(mutex_);
        pending_.reset();
        generation_.fetch_add(1);
    }

private:
    void run() {
        for (;;) {
            PlayJob job;
            uint64_t gen = 0;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return quit_ || pending_.has_value(); });
                if (quit_) return;
                job = std::move(*pending_);
                pending_.reset();
                gen = generation_.load();
            }
            play(job, gen);
        }
    }

    bool current(uint64_t gen) const { return generation_.load() == gen; }

    void play(PlayJob& job, uint64_t gen) {
        if (!job.file) {
            ToneGenerator tone(job.toneHz, job.toneMs, kToneSampleRateHz);
            auto out = AlsaOutput::open(kToneSampleRateHz, 1);
            if (!out) return;
            int16_t buf[kChunkFrames];
            while (!tone.done()) {
                if (!current(gen)) return out->drop();
                const std::size_t n = tone.fill(buf, kChunkFrames);
                if (!out->write(buf, n)) return;
            }
            out->drain();
            return;
        }
        const int channels = job.info.channels;
        if (channels < 1 || channels > kMaxChannels || job.info.samplerate <= 0) return;
        auto out = AlsaOutput::open(static_cast<uint32_t>(job.info.samplerate),
                                    static_cast<uint32_t>(channels));
        if (!out) return;
        std::vector<int16_t> buf(kChunkFrames * static_cast<std::size_t>(channels));
        for (;;) {
            if (!current(gen)) return out->drop();
            const sf_count_t n = ::sf_readf_short(job.file.get(), buf.data(), kChunkFrames);
            if (n <= 0) break;
            if (!out->write(buf.data(), static_cast<std::size_t>(n))) return;
        }
        out->drain();
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<PlayJob> pending_;
    bool quit_ = false;
    std::atomic<uint64_t> generation_{0}; // bumped by every submit/stop: the playing sound yields
    const pid_t creator_;
    std::unique_ptr<std::thread> thread_; // last member: starts after the others exist
};

std::atomic<bool> g_started{false};

// Built on first use (a process that never plays starts no thread), joined at exit.
// Nothing in a forked child of a process that had started it: the child stays silent.
Player* player() {
    static Player instance;
    g_started.store(true);
    return instance.ownedByThisProcess() ? &instance : nullptr;
}

} // namespace

bool playInBackground(PlayJob job) {
    try {
        Player* p = player();
        if (p == nullptr) return false;
        p->submit(std::move(job));
        return true;
    } catch (const std::exception& e) { // the worker thread could not be started
        KVR_LOG_WARN("sound: cannot start the playback thread: %s", e.what());
        return false;
    }
}

void stopBackground() {
    if (!g_started.load()) return;
    try {
        if (Player* p = player()) p->stop();
    } catch (const std::exception&) {
    }
}

} // namespace kvr::sound::detail
