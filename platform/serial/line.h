#pragma once
// Line settings of a serial port and how they map to termios: the serial driver's
// set-baud-rate and set-line-control requests become termios speed and c_cflag bits.

#include <cstdint>
#include <string>

struct termios;

namespace kvr::serial {

// The serial driver's line control record: stop bits, parity, word length (in that order).
enum class StopBits : std::uint8_t { One = 0, OnePointFive = 1, Two = 2 };
enum class Parity : std::uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
struct LineControl {
    StopBits stopBits = StopBits::One;
    Parity parity = Parity::None;
    std::uint8_t wordLength = 8; // 5..8
};

// What kind of trouble kept a port from being opened and set up.
enum class OpenFailure : std::uint8_t {
    None,
    PermissionDenied, // the user may not open the tty (not in its group)
    Busy,             // another program holds it (an exclusive tty, or locked with flock)
    Gone,             // no such device (a link to nothing, an adapter unplugged)
    NotSerial,        // it opens, but it is no serial port
    Failed,           // anything else (`code` says what)
};

// Why an open or a setting failed: the errno value, its kind and a text for a person.
struct Error {
    int code = 0;
    std::string text;
    OpenFailure kind = OpenFailure::Failed;
};

// Speed: any rate termios knows (50 .. 4000000); others fail with EINVAL.
bool applyBaudRate(::termios& t, std::uint32_t baudRate, Error* error = nullptr);
// Word length 5..8 -> CS5..CS8; parity none/odd/even/mark/space -> PARENB, PARODD, CMSPAR;
// stop bits 1 -> none, 1.5 and 2 -> CSTOPB (a UART sends 1.5 for 5-bit words). Anything
// else fails with EINVAL and leaves `t` as it was.
bool applyLineControl(::termios& t, const LineControl& line, Error* error = nullptr);
// Raw 8-bit I/O: no echo, no line editing, no signals, no CR/LF translation, no software or
// hardware flow control, modem lines ignored; VMIN 1, VTIME 0.
void makeRaw(::termios& t);

} // namespace kvr::serial
