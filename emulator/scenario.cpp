#include "emulator/scenario.h"

#include <charconv>
#include <cstdio>

namespace kvr::emu {
namespace {

constexpr uint32_t kMaxSamples = 1'000'000;
constexpr uint32_t kMaxWaitMs = 24u * 3600u * 1000u;
constexpr uint32_t kMaxRateHz = 1000;
constexpr uint32_t kMaxCoordinate = 65535;
constexpr size_t kMaxRawBytes = 4096;

std::vector<std::string_view> tokenize(std::string_view line) {
    if (const auto hash = line.find('#'); hash != std::string_view::npos)
        line = line.substr(0, hash);
    std::vector<std::string_view> tokens;
    size_t i = 0;
    const auto isSep = [](char c) {
        return c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n';
    };
    while (i < line.size()) {
        while (i < line.size() && isSep(line[i]))
            ++i;
        const size_t start = i;
        while (i < line.size() && !isSep(line[i]))
            ++i;
        if (i > start) tokens.push_back(line.substr(start, i - start));
    }
    return tokens;
}

bool parseUnsigned(std::string_view text, uint32_t max, uint32_t* out) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty()) return false;
    uint64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (ec != std::errc() || end != text.data() + text.size() || v > max) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class Parser {
public:
    Parser(std::vector<std::string_view> tokens, std::string* error)
        : t_(std::move(tokens)), error_(error) {}

    bool fail(const std::string& message) {
        *error_ = message;
        return false;
    }
    [[nodiscard]] size_t count() const { return t_.size(); }
    bool number(size_t i, uint32_t max, const char* what, uint32_t* out) {
        if (i >= t_.size()) return fail(std::string("missing ") + what);
        if (!parseUnsigned(t_[i], max, out))
            return fail(std::string("bad ") + what + " '" + std::string(t_[i]) + "'");
        return true;
    }
    bool optionalNumber(size_t i, uint32_t max, const char* what, uint32_t* out) {
        if (i >= t_.size()) return true;
        return number(i, max, what, out);
    }
    bool coordinate(size_t i, Coordinate* out) {
        if (i >= t_.size()) return fail("missing coordinate");
        std::string_view text = t_[i];
        out->percent = !text.empty() && text.back() == '%';
        if (out->percent) text.remove_suffix(1);
        if (!parseUnsigned(text, out->percent ? 100 : kMaxCoordinate, &out->value))
            return fail("bad coordinate '" + std::string(t_[i]) + "'");
        return true;
    }
    bool point(size_t i, Point* out) {
        return coordinate(i, &out->x) && coordinate(i + 1, &out->y);
    }
    bool noMoreThan(size_t n) {
        if (t_.size() > n) return fail("unexpected '" + std::string(t_[n]) + "'");
        return true;
    }
    bool samples(size_t i, uint32_t* out) {
        *out = 1;
        if (!optionalNumber(i, kMaxSamples, "sample count", out)) return false;
        if (*out == 0) return fail("sample count must be at least 1");
        return true;
    }
    bool rawBytes(size_t from, std::vector<uint8_t>* out) {
        std::string digits;
        for (size_t i = from; i < t_.size(); ++i)
            digits += t_[i];
        if (digits.empty()) return fail("raw needs hex bytes");
        if (digits.size() % 2 != 0) return fail("raw needs whole bytes (two hex digits each)");
        if (digits.size() / 2 > kMaxRawBytes) return fail("raw: too many bytes");
        for (size_t i = 0; i < digits.size(); i += 2) {
            const int hi = hexValue(digits[i]), lo = hexValue(digits[i + 1]);
            if (hi < 0 || lo < 0) return fail("raw: bad hex '" + digits.substr(i, 2) + "'");
            out->push_back(static_cast<uint8_t>(hi * 16 + lo));
        }
        return true;
    }
    bool faultCount(size_t i, int64_t* out) {
        *out = -1;
        if (i >= t_.size()) return true;
        uint32_t n = 0;
        if (!number(i, 1'000'000'000, "fault count", &n)) return false;
        *out = n;
        return noMoreThan(i + 1);
    }
    bool fault(Statement* s) {
        if (t_.size() < 2) return fail("fault needs a kind");
        const std::string_view kind = t_[1];
        FaultSetting& f = s->fault;
        s->op = Op::Fault;
        if (kind == "clear" || kind == "none") {
            s->op = Op::ClearFaults;
            return noMoreThan(2);
        }
        if (kind == "silence" || kind == "garble" || kind == "nak") {
            f.kind = kind == "silence"  ? FaultKind::Silence
                     : kind == "garble" ? FaultKind::Garble
                                        : FaultKind::Nak;
            return faultCount(2, &f.count);
        }
        if (kind == "late") {
            f.kind = FaultKind::Late;
            return number(2, kMaxWaitMs, "delay", &f.arg) && faultCount(3, &f.count);
        }
        if (kind == "cut") {
            f.kind = FaultKind::Cut;
            return number(2, 1'000'000, "byte count", &f.arg) && faultCount(3, &f.count);
        }
        if (kind == "drop") {
            f.kind = FaultKind::Drop;
            if (!number(2, 1'000'000, "interval", &f.arg)) return false;
            if (f.arg == 0) return fail("drop interval must be at least 1");
            return faultCount(3, &f.count);
        }
        return fail("unknown fault '" + std::string(kind) + "'");
    }

    bool statement(Statement* s) {
        const std::string_view word = t_[0];
        if (word == "rate") {
            s->op = Op::Rate;
            if (!number(1, kMaxRateHz, "rate", &s->number)) return false;
            if (s->number == 0) return fail("rate must be at least 1 Hz");
            return noMoreThan(2);
        }
        if (word == "touch" || word == "tap" || word == "move") {
            s->op = word == "touch" ? Op::Touch : word == "tap" ? Op::Tap : Op::Move;
            return point(1, &s->to) && samples(3, &s->number) && noMoreThan(4);
        }
        if (word == "drag") {
            s->op = Op::Drag;
            return point(1, &s->from) && point(3, &s->to) && samples(5, &s->number) &&
                   noMoreThan(6);
        }
        if (word == "hold") {
            s->op = Op::Hold;
            return samples(1, &s->number) && noMoreThan(2);
        }
        if (word == "lift") {
            s->op = Op::Lift;
            return noMoreThan(1);
        }
        if (word == "button") {
            s->op = Op::Button;
            if (t_.size() < 2) return fail("button needs down or up");
            if (t_[1] == "down" || t_[1] == "on")
                s->on = true;
            else if (t_[1] == "up" || t_[1] == "off")
                s->on = false;
            else
                return fail("button needs down or up");
            return noMoreThan(2);
        }
        if (word == "wait") {
            s->op = Op::Wait;
            return number(1, kMaxWaitMs, "wait", &s->number) && noMoreThan(2);
        }
        if (word == "raw") {
            s->op = Op::Raw;
            return rawBytes(1, &s->bytes);
        }
        if (word == "restart") {
            s->op = Op::Restart;
            return noMoreThan(1);
        }
        if (word == "fault") return fault(s);
        if (word == "hangup") {
            s->op = Op::HangUp;
            return noMoreThan(1);
        }
        if (word == "reconnect") {
            s->op = Op::Reconnect;
            return noMoreThan(1);
        }
        return fail("unknown statement '" + std::string(word) + "'");
    }

private:
    std::vector<std::string_view> t_;
    std::string* error_;
};

} // namespace

bool parseStatement(std::string_view line, std::optional<Statement>* out, std::string* error) {
    out->reset();
    auto tokens = tokenize(line);
    if (tokens.empty()) return true;
    Parser parser(std::move(tokens), error);
    Statement s;
    if (!parser.statement(&s)) return false;
    *out = std::move(s);
    return true;
}

bool parseScenario(std::string_view text, std::vector<Statement>* out, std::string* error) {
    size_t lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        const size_t nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        std::optional<Statement> s;
        std::string message;
        if (!parseStatement(line, &s, &message)) {
            *error = "line " + std::to_string(lineNo) + ": " + message;
            return false;
        }
        if (s) out->push_back(std::move(*s));
    }
    return true;
}

} // namespace kvr::emu
