#pragma once
// The controller model: bytes in, bytes out, on a clock the caller drives. No I/O and no
// threads here, so unit tests run it directly; kvrsim's pty shell (pty_emulator.h) feeds it
// what arrives on the line and writes what poll() hands back.
//
// Commands (SOH text CR in; replies as the controllers of the family give them):
//   "GP"aa       SOH + the word at aa as four upper-case hex digits + CR
//   "SP"aahhll   store the word, SOH '0' CR
//   "R"          SOH '0' CR, then after the restart time the announcement SOH 'i' 'T' CR
//   "RD"         as "R", with the settings memory back at its defaults (kept words aside)
//   "MI" "MS" "MP"  touch reports off / every sample / first sample of each touch; SOH '0' CR
//   "Z" "CR" "PL" "iH1"  SOH '0' CR
//   "SE"n        n = 0..4: sensitivity level into the first byte of word 9C; SOH '0' CR
//   "UT"         SOH + unit type + CR          "OI"  SOH + identity text + CR
//   "ii"         SOH + extension level as four decimal digits + CR
//   "Uu"         the identification: vendor tag, '0', packet format digit (10 bytes, unframed)
// A frame that is no command of the set, or a command with bad arguments, is refused with
// SOH '1' CR, which every caller judges as a failure. Bytes outside a frame are line noise
// and get no answer; a frame longer than 64 text bytes is dropped unanswered (the receive
// buffer of the controller overflowed) and reception starts again at the next SOH.

#include "emulator/packets.h"
#include "emulator/profile.h"
#include "emulator/scenario.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::emu {

// The controller's clock: time since the model started. Callers pass a clock that never
// goes backwards (the pty shell: the steady clock; tests: whatever they like).
using SimTime = std::chrono::microseconds;

namespace frame {
constexpr uint8_t kSoh = 0x01;
constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kDone = '0';
constexpr uint8_t kRefused = '1';
constexpr size_t kMaxText = 64;
} // namespace frame

// One entry of the receive log: a complete frame (SOH ... CR), or bytes that were no frame.
struct FrameRecord {
    SimTime time{0};
    std::vector<uint8_t> bytes;
    bool stray = false;
};

// What the line gets from one poll: bytes, and possibly a change of the line itself after
// them.
enum class LineEvent : uint8_t { None, HangUp, Reconnect };
struct Emission {
    std::vector<uint8_t> bytes;
    LineEvent event = LineEvent::None;
};

class Controller {
public:
    explicit Controller(ControllerProfile profile);
    Controller();

    [[nodiscard]] const ControllerProfile& profile() const { return profile_; }

    // Bytes from the host, arrived at `now`.
    void receive(std::span<const uint8_t> bytes, SimTime now);
    // Everything the controller sends up to `now`, in order. Stops after a line event, so
    // the caller can act on it before polling again.
    Emission poll(SimTime now);
    // When poll() will next have something to do; nothing when all is quiet.
    [[nodiscard]] std::optional<SimTime> nextDue() const;
    // No scenario statement and no output pending.
    [[nodiscard]] bool idle() const;

    // Scenario statements run in order on the controller's clock, starting at `now` when
    // nothing else is playing.
    void enqueue(Statement statement, SimTime now);
    bool enqueueLine(std::string_view line, SimTime now, std::string* error);
    bool enqueueScenario(std::string_view text, SimTime now, std::string* error);

    // Faults can also be set directly (kvrsim --fault).
    void addFault(const FaultSetting& fault);
    void clearFaults();

    [[nodiscard]] uint16_t word(uint8_t address) const { return words_[address]; }
    void setWord(uint8_t address, uint16_t value) { words_[address] = value; }
    [[nodiscard]] ReportMode reportMode() const { return mode_; }
    [[nodiscard]] uint32_t restarts() const { return restarts_; }
    [[nodiscard]] uint64_t bytesDropped() const { return bytesDropped_; }

    // Every frame received so far (kept up to kMaxKeptRecords; the observer sees them all).
    [[nodiscard]] const std::vector<FrameRecord>& frames() const { return frames_; }
    void setFrameObserver(std::function<void(const FrameRecord&)> observer) {
        observer_ = std::move(observer);
    }
    static constexpr size_t kMaxKeptRecords = 100'000;

private:
    enum class ChunkKind : uint8_t { Bytes, Restart };
    struct Chunk {
        SimTime due;
        ChunkKind kind;
        std::vector<uint8_t> bytes;
    };
    enum class RxState : uint8_t { Hunting, InFrame, Overflow };

    void run(SimTime now);
    bool runStep(); // one action of the front statement at playTime_; false: line event hit
    void schedule(SimTime due, ChunkKind kind, std::vector<uint8_t> bytes = {});
    void emit(std::span<const uint8_t> bytes);
    void sample(uint16_t x, uint16_t y, bool penDown);
    void restartNow();
    void record(std::vector<uint8_t> bytes, bool stray, SimTime now);
    void flushStray(SimTime now);
    void handleFrame(std::string_view text, SimTime now);
    std::vector<uint8_t> execute(std::string_view text, bool* restart);
    std::optional<FaultSetting>& fault(FaultKind kind) {
        return faults_[static_cast<size_t>(kind)];
    }
    bool takeFault(FaultKind kind, uint32_t* arg = nullptr);
    uint16_t resolve(const Coordinate& c) const;

    ControllerProfile profile_;
    std::array<uint16_t, kSettingsWords> words_;
    ReportMode mode_;

    // Receiver.
    RxState rx_ = RxState::Hunting;
    std::vector<uint8_t> frame_;
    std::vector<uint8_t> stray_;
    std::vector<FrameRecord> frames_;
    std::function<void(const FrameRecord&)> observer_;

    // Transmitter: chunks waiting for their time, and what the next poll returns.
    std::deque<Chunk> out_;
    Emission ready_;
    SimTime lastRun_{0};

    // Scenario player.
    std::deque<Statement> steps_;
    uint32_t stepDone_ = 0; // actions of the front statement already done
    bool waitArmed_ = false;
    SimTime playTime_{0};
    SimTime period_;
    uint16_t penX_ = 0, penY_ = 0;
    uint16_t stepStartX_ = 0, stepStartY_ = 0;
    bool penDown_ = false;
    bool button_ = false;

    std::array<std::optional<FaultSetting>, 6> faults_{};
    uint64_t bytesSent_ = 0;
    uint64_t bytesDropped_ = 0;
    uint32_t restarts_ = 0;
};

} // namespace kvr::emu
