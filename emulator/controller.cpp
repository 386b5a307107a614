#include "emulator/controller.h"

#include <algorithm>
#include <cstdio>

namespace kvr::emu {
namespace {

using namespace std::chrono_literals;

constexpr uint8_t kGarbleMask =
    0x40; // keeps every byte 7-bit: read as reply bytes, never as a packet start
constexpr uint8_t kSensitivityWord = 0x9C;
constexpr char kMaxSensitivity = '4';

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Value of `digits` hex characters at text[pos]; -1 when any is no hex digit.
int32_t hexField(std::string_view text, size_t pos, size_t digits) {
    int32_t v = 0;
    for (size_t i = 0; i < digits; ++i) {
        const int d = hexDigit(text[pos + i]);
        if (d < 0) return -1;
        v = v * 16 + d;
    }
    return v;
}

std::vector<uint8_t> framed(std::string_view payload) {
    std::vector<uint8_t> r;
    r.reserve(payload.size() + 2);
    r.push_back(frame::kSoh);
    r.insert(r.end(), payload.begin(), payload.end());
    r.push_back(frame::kCr);
    return r;
}

std::vector<uint8_t> acknowledge(bool done) {
    return {frame::kSoh, done ? frame::kDone : frame::kRefused, frame::kCr};
}

SimTime periodFor(uint32_t hz) {
    return SimTime(1'000'000 / std::max<uint32_t>(hz, 1));
}

} // namespace

Controller::Controller(ControllerProfile profile)
    : profile_(std::move(profile)), words_(profile_.defaults), mode_(profile_.powerOnMode),
      period_(periodFor(profile_.sampleRateHz)) {}

Controller::Controller() : Controller(*profileByName("nvlt3000")) {}

// ---- receiving ----------------------------------------------------------------------------

void Controller::receive(std::span<const uint8_t> bytes, SimTime now) {
    run(now); // what was due before these bytes arrived goes out under the old state
    now = lastRun_;
    for (const uint8_t b : bytes) {
        switch (rx_) {
        case RxState::Hunting:
            if (b == frame::kSoh) {
                flushStray(now);
                frame_.assign(1, b);
                rx_ = RxState::InFrame;
            } else {
                stray_.push_back(b);
                if (stray_.size() >= 256) flushStray(now);
            }
            break;
        case RxState::InFrame:
            if (b == frame::kSoh) {
                // A new start inside a frame: the partial frame was noise.
                stray_.insert(stray_.end(), frame_.begin(), frame_.end());
                flushStray(now);
                frame_.assign(1, b);
            } else if (b == frame::kCr) {
                frame_.push_back(b);
                const std::string text(frame_.begin() + 1, frame_.end() - 1);
                record(std::move(frame_), false, now);
                frame_.clear();
                rx_ = RxState::Hunting;
                handleFrame(text, now);
            } else {
                frame_.push_back(b);
                if (frame_.size() > frame::kMaxText + 1) {
                    stray_.insert(stray_.end(), frame_.begin(), frame_.end());
                    frame_.clear();
                    rx_ = RxState::Overflow;
                }
            }
            break;
        case RxState::Overflow:
            if (b == frame::kSoh) {
                flushStray(now);
                frame_.assign(1, b);
                rx_ = RxState::InFrame;
            } else {
                stray_.push_back(b);
                if (b == frame::kCr) {
                    flushStray(now);
                    rx_ = RxState::Hunting;
                } else if (stray_.size() >= 256) {
                    flushStray(now);
                }
            }
            break;
        }
    }
    flushStray(now);
}

void Controller::record(std::vector<uint8_t> bytes, bool stray, SimTime now) {
    FrameRecord r{now, std::move(bytes), stray};
    if (observer_) observer_(r);
    if (frames_.size() < kMaxKeptRecords) frames_.push_back(std::move(r));
}

void Controller::flushStray(SimTime now) {
    if (stray_.empty()) return;
    record(std::move(stray_), true, now);
    stray_.clear();
}

bool Controller::takeFault(FaultKind kind, uint32_t* arg) {
    auto& f = fault(kind);
    if (!f) return false;
    if (arg != nullptr) *arg = f->arg;
    if (f->count > 0 && --f->count == 0) f.reset();
    return true;
}

void Controller::handleFrame(std::string_view text, SimTime now) {
    if (profile_.mute) return;
    if (takeFault(FaultKind::Silence)) return;
    bool restart = false;
    std::vector<uint8_t> reply =
        takeFault(FaultKind::Nak) ? acknowledge(false) : execute(text, &restart);
    if (takeFault(FaultKind::Garble))
        for (auto& b : reply)
            b ^= kGarbleMask;
    uint32_t keep = 0;
    if (takeFault(FaultKind::Cut, &keep) && reply.size() > keep) reply.resize(keep);
    uint32_t lateMs = 0;
    takeFault(FaultKind::Late, &lateMs);
    const SimTime due = now + std::chrono::milliseconds(lateMs);
    if (!reply.empty()) schedule(due, ChunkKind::Bytes, std::move(reply));
    if (restart) {
        // A second reset while one is under way starts the restart time again.
        std::erase_if(out_, [](const Chunk& c) { return c.kind == ChunkKind::Restart; });
        schedule(due + std::chrono::milliseconds(profile_.restartDelayMs), ChunkKind::Restart);
    }
}

std::vector<uint8_t> Controller::execute(std::string_view text, bool* restart) {
    if (text == "Z" || text == "CR" || text == "PL" || text == "iH1") return acknowledge(true);
    if (text == "MI" || text == "MS" || text == "MP") {
        mode_ = text == "MI"   ? ReportMode::Off
                : text == "MS" ? ReportMode::Stream
                               : ReportMode::Point;
        return acknowledge(true);
    }
    if (text == "R" || text == "RD") {
        if (text == "RD") {
            const auto kept = words_;
            words_ = profile_.defaults;
            for (const uint8_t a : profile_.keptByRestoreDefaults)
                words_[a] = kept[a];
        }
        *restart = true;
        return acknowledge(true);
    }
    if (text == "UT") return framed(profile_.unitType);
    if (text == "OI") return framed(profile_.identityText);
    if (text == "ii") {
        if (!profile_.extensionLevel) return acknowledge(false);
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04u",
                      static_cast<unsigned>(std::min<uint16_t>(*profile_.extensionLevel, 9999)));
        return framed(digits);
    }
    if (text == "Uu") {
        const std::string id = profile_.identification();
        return {id.begin(), id.end()};
    }
    if (text.size() == 3 && text.substr(0, 2) == "SE") {
        if (text[2] < '0' || text[2] > kMaxSensitivity) return acknowledge(false);
        const auto level = static_cast<uint16_t>(text[2] - '0');
        words_[kSensitivityWord] =
            static_cast<uint16_t>((level << 8) | (words_[kSensitivityWord] & 0xFF));
        return acknowledge(true);
    }
    if (text.size() == 4 && text.substr(0, 2) == "GP") {
        const int32_t address = hexField(text, 2, 2);
        if (address < 0) return acknowledge(false);
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(words_[address]));
        return framed(digits);
    }
    if (text.size() == 8 && text.substr(0, 2) == "SP") {
        const int32_t address = hexField(text, 2, 2);
        const int32_t value = hexField(text, 4, 4);
        if (address < 0 || value < 0) return acknowledge(false);
        words_[address] = static_cast<uint16_t>(value);
        return acknowledge(true);
    }
    return acknowledge(false);
}

// ---- sending ------------------------------------------------------------------------------

void Controller::schedule(SimTime due, ChunkKind kind, std::vector<uint8_t> bytes) {
    // Stable: after every chunk due at the same time, so replies keep the order of commands.
    const auto at = std::upper_bound(out_.begin(), out_.end(), due,
                                     [](SimTime t, const Chunk& c) { return t < c.due; });
    out_.insert(at, Chunk{due, kind, std::move(bytes)});
}

void Controller::emit(std::span<const uint8_t> bytes) {
    for (const uint8_t b : bytes) {
        ++bytesSent_;
        if (auto& drop = fault(FaultKind::Drop); drop && bytesSent_ % drop->arg == 0) {
            ++bytesDropped_;
            if (drop->count > 0 && --drop->count == 0) drop.reset();
            continue;
        }
        ready_.bytes.push_back(b);
    }
}

void Controller::restartNow() {
    mode_ = profile_.powerOnMode;
    ++restarts_;
    const uint8_t announce[] = {frame::kSoh, 'i', 'T', frame::kCr};
    emit(announce);
}

void Controller::addFault(const FaultSetting& f) {
    fault(f.kind) = f;
    if (f.kind == FaultKind::Drop) bytesSent_ = 0; // count the interval from here
}

void Controller::clearFaults() {
    for (auto& f : faults_)
        f.reset();
}

// ---- scenario player ----------------------------------------------------------------------

uint16_t Controller::resolve(const Coordinate& c) const {
    const uint32_t max = profile_.maxRaw();
    if (c.percent) return static_cast<uint16_t>(std::min<uint32_t>(c.value, 100) * max / 100);
    return static_cast<uint16_t>(std::min(c.value, max));
}

void Controller::sample(uint16_t x, uint16_t y, bool penDown) {
    const bool send =
        mode_ == ReportMode::Stream || (mode_ == ReportMode::Point && penDown && !penDown_);
    penDown_ = penDown;
    penX_ = x;
    penY_ = y;
    if (!send) return;
    std::vector<uint8_t> packet;
    appendPacket(packet, TouchSample{x, y, penDown, button_}, profile_.packets);
    emit(packet);
}

void Controller::enqueue(Statement statement, SimTime now) {
    if (now < lastRun_) now = lastRun_;
    if (steps_.empty()) playTime_ = std::max(playTime_, now);
    steps_.push_back(std::move(statement));
}

bool Controller::enqueueLine(std::string_view line, SimTime now, std::string* error) {
    std::optional<Statement> s;
    if (!parseStatement(line, &s, error)) return false;
    if (s) enqueue(std::move(*s), now);
    return true;
}

bool Controller::enqueueScenario(std::string_view text, SimTime now, std::string* error) {
    std::vector<Statement> all;
    if (!parseScenario(text, &all, error)) return false;
    for (auto& s : all)
        enqueue(std::move(s), now);
    return true;
}

bool Controller::runStep() {
    Statement& s = steps_.front();
    bool done = true;
    const auto interpolate = [](int64_t a, int64_t b, int64_t i, int64_t n) {
        return static_cast<uint16_t>(a + (b - a) * i / n);
    };
    switch (s.op) {
    case Op::Rate:
        period_ = periodFor(s.number);
        break;
    case Op::Touch:
    case Op::Hold:
    case Op::Move:
    case Op::Drag:
    case Op::Tap: {
        uint16_t x = penX_, y = penY_;
        bool down = true;
        if (s.op == Op::Touch) {
            x = resolve(s.to.x);
            y = resolve(s.to.y);
        } else if (s.op == Op::Move) {
            if (stepDone_ == 0) {
                stepStartX_ = penX_;
                stepStartY_ = penY_;
            }
            x = interpolate(stepStartX_, resolve(s.to.x), stepDone_ + 1, s.number);
            y = interpolate(stepStartY_, resolve(s.to.y), stepDone_ + 1, s.number);
        } else if (s.op == Op::Drag) {
            const uint16_t x1 = resolve(s.from.x), y1 = resolve(s.from.y);
            const uint16_t x2 = resolve(s.to.x), y2 = resolve(s.to.y);
            x = s.number == 1 ? x2 : interpolate(x1, x2, stepDone_, s.number - 1);
            y = s.number == 1 ? y2 : interpolate(y1, y2, stepDone_, s.number - 1);
        } else if (s.op == Op::Tap) {
            if (stepDone_ < s.number) {
                x = resolve(s.to.x);
                y = resolve(s.to.y);
            } else {
                down = false; // the lift that ends the tap
            }
        }
        sample(x, y, down);
        playTime_ += period_;
        ++stepDone_;
        done = stepDone_ >= s.number + (s.op == Op::Tap ? 1u : 0u);
        break;
    }
    case Op::Lift:
        sample(penX_, penY_, false);
        playTime_ += period_;
        break;
    case Op::Button:
        button_ = s.on;
        break;
    case Op::Wait:
        if (!waitArmed_) {
            playTime_ += std::chrono::milliseconds(s.number);
            waitArmed_ = true;
            done = false;
        } else {
            waitArmed_ = false;
        }
        break;
    case Op::Raw:
        emit(s.bytes);
        break;
    case Op::Restart:
        restartNow();
        break;
    case Op::Fault:
        addFault(s.fault);
        break;
    case Op::ClearFaults:
        clearFaults();
        break;
    case Op::HangUp:
        ready_.event = LineEvent::HangUp;
        break;
    case Op::Reconnect:
        ready_.event = LineEvent::Reconnect;
        break;
    }
    if (done) {
        steps_.pop_front();
        stepDone_ = 0;
    }
    return ready_.event == LineEvent::None;
}

void Controller::run(SimTime now) {
    if (now < lastRun_) now = lastRun_;
    lastRun_ = now;
    while (ready_.event == LineEvent::None) {
        const bool stepDue = !steps_.empty() && playTime_ <= now;
        const bool chunkDue = !out_.empty() && out_.front().due <= now;
        if (!stepDue && !chunkDue) break;
        if (chunkDue && (!stepDue || out_.front().due <= playTime_)) {
            Chunk c = std::move(out_.front());
            out_.pop_front();
            if (c.kind == ChunkKind::Restart)
                restartNow();
            else
                emit(c.bytes);
            continue;
        }
        runStep();
    }
}

Emission Controller::poll(SimTime now) {
    run(now);
    Emission e = std::move(ready_);
    ready_ = Emission{};
    return e;
}

std::optional<SimTime> Controller::nextDue() const {
    if (!ready_.bytes.empty() || ready_.event != LineEvent::None) return lastRun_;
    std::optional<SimTime> next;
    if (!out_.empty()) next = out_.front().due;
    if (!steps_.empty() && (!next || playTime_ < *next)) next = playTime_;
    return next;
}

bool Controller::idle() const {
    return steps_.empty() && out_.empty() && ready_.bytes.empty() &&
           ready_.event == LineEvent::None;
}

} // namespace kvr::emu
