#include "platform/sound/player.h"

#include "platform/common/log.h"
#include "platform/sound/alsa_output.h"
#include "platform/sound/sound.h"
#include "platform/sound/tone.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>
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
    Player() : creator_(::getpid()), thread_([this] { run(); }) {}
    ~Player() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
            generation_.fetch_add(1);
        }
        wake_.notify_all();
        thread_.join();
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

    bool idle() {
        std::lock_guard lock(mutex_);
        return !pending_ && !busy_;
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
                busy_ = true;
            }
            play(job, gen);
            job = PlayJob{}; // closes the file before going idle
            std::lock_guard lock(mutex_);
            busy_ = false;
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
    bool busy_ = false;                   // a job is being played
    std::atomic<uint64_t> generation_{0}; // bumped by every submit/stop: the playing sound yields
    const pid_t creator_;
    std::thread thread_; // last member: starts after the others exist
};

std::atomic<bool> g_started{false};

// Built on first use (a process that never plays starts no thread) and stopped at exit.
// A forked child of a process that had started it has a copy of the object but not the
// thread: it stays silent, and at its exit the copy is left alone (joining a thread of
// another process, or destroying a condition variable that thread waited on, would hang).
struct PlayerHolder {
    Player* player = new Player;
    ~PlayerHolder() {
        if (player->ownedByThisProcess()) delete player;
    }
};

Player* player() {
    static PlayerHolder holder;
    g_started.store(true);
    return holder.player->ownedByThisProcess() ? holder.player : nullptr;
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

bool backgroundIdle() {
    if (!g_started.load()) return true;
    try {
        Player* p = player();
        return p == nullptr || p->idle();
    } catch (const std::exception&) {
        return true;
    }
}

} // namespace kvr::sound::detail
