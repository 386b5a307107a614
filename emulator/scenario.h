#pragma once
// The scenario language: what a finger, the side button and the line do, one statement per
// line. Scenarios come from a file (kvrsim --scenario), from the command line (--run) or, one
// line at a time, from the control socket. The full grammar is in kvrsim --help and
// emulator/README.md; in short:
//
//   rate HZ                sample rate for the following samples (1..1000)
//   touch X Y [N]          pen down at (X,Y) for N samples (default 1)
//   hold [N]               N more pen-down samples where the pen is
//   move X Y [N]           pen down, moving from where the pen is to (X,Y) in N samples
//   drag X1 Y1 X2 Y2 [N]   pen down from (X1,Y1) to (X2,Y2) in N samples (both ends included)
//   lift                   one pen-up sample where the pen is
//   tap X Y [N]            touch X Y N, then lift
//   button down|up         side button pressed / released in the following samples
//   wait MS                nothing for MS milliseconds
//   raw HEX...             these bytes on the line as they are ("raw 01 30 0D", "raw 01300D")
//   restart                restart as after "R": announce SOH 'i' 'T' CR
//   fault KIND [ARG] [N]   inject a fault (kinds below); "fault clear" ends them all
//   hangup                 hang up the line
//   reconnect              a fresh line after a hang-up (kvrsim: a new pty, same link)
//
// Coordinates are raw packet units (M 0..16383, E 0..4095) or a percentage of that range
// ("50%"); commas may separate numbers ("touch 100,200 5"). '#' starts a comment.
// Fault kinds: silence [N]: the next N commands are neither carried out nor answered;
// late MS [N]: the next N replies come MS ms late; garble [N]: the next N replies have every
// byte XORed with 0x40; cut BYTES [N]: the next N replies stop after BYTES bytes;
// nak [N]: the next N commands are refused with SOH '1' CR; drop EVERY [N]: every EVERY-th
// byte sent is lost, N bytes in all. N left out: until "fault clear".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::emu {

struct Coordinate {
    uint32_t value = 0;
    bool percent = false; // value is 0..100 % of the packet format's range
};

struct Point {
    Coordinate x, y;
};

enum class FaultKind : uint8_t { Silence, Late, Garble, Cut, Nak, Drop };

struct FaultSetting {
    FaultKind kind = FaultKind::Silence;
    uint32_t arg = 0;   // late: ms; cut: bytes kept; drop: every n-th byte
    int64_t count = -1; // commands / replies / bytes affected; -1 = until cleared
};

enum class Op : uint8_t {
    Rate,
    Touch,
    Hold,
    Move,
    Drag,
    Lift,
    Tap,
    Button,
    Wait,
    Raw,
    Restart,
    Fault,
    ClearFaults,
    HangUp,
    Reconnect,
};

struct Statement {
    Op op = Op::Lift;
    Point from, to;             // touch/tap/move: `to`; drag: from -> to
    uint32_t number = 1;        // samples (touch, hold, move, drag, tap), ms (wait), Hz (rate)
    bool on = false;            // button down
    std::vector<uint8_t> bytes; // raw
    FaultSetting fault;
};

// Parses one line. A blank or comment-only line gives true and an empty `out`. On a syntax
// error gives false and a message in `error`.
bool parseStatement(std::string_view line, std::optional<Statement>* out, std::string* error);

// Parses a whole scenario; on the first bad line gives false and "line N: message".
bool parseScenario(std::string_view text, std::vector<Statement>* out, std::string* error);

} // namespace kvr::emu
