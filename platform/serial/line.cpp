#include "platform/serial/line.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>
#include <termios.h>

namespace kvr::serial {

namespace {

bool fail(Error* error, int code, std::string text) {
    if (error != nullptr) {
        error->code = code;
        error->text = std::move(text);
    }
    return false;
}

struct BaudEntry {
    std::uint32_t rate;
    speed_t speed;
};

constexpr std::array<BaudEntry, 30> kBaudRates{{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

} // namespace

bool applyBaudRate(::termios& t, std::uint32_t baudRate, Error* error) {
    auto it = std::find_if(kBaudRates.begin(), kBaudRates.end(),
                           [&](const BaudEntry& e) { return e.rate == baudRate; });
    if (it == kBaudRates.end()) {
        return fail(error, EINVAL, "unsupported baud rate " + std::to_string(baudRate));
    }
    ::cfsetispeed(&t, it->speed);
    ::cfsetospeed(&t, it->speed);
    return true;
}

bool applyLineControl(::termios& t, const LineControl& line, Error* error) {
    tcflag_t size = 0;
    switch (line.wordLength) {
    case 5:
        size = CS5;
        break;
    case 6:
        size = CS6;
        break;
    case 7:
        size = CS7;
        break;
    case 8:
        size = CS8;
        break;
    default:
        return fail(error, EINVAL,
                    "unsupported word length " + std::to_string(unsigned{line.wordLength}));
    }
    tcflag_t parity = 0;
    switch (line.parity) {
    case Parity::None:
        break;
    case Parity::Odd:
        parity = PARENB | PARODD;
        break;
    case Parity::Even:
        parity = PARENB;
        break;
    case Parity::Mark:
        parity = PARENB | CMSPAR | PARODD;
        break;
    case Parity::Space:
        parity = PARENB | CMSPAR;
        break;
    default:
        return fail(error, EINVAL, "unsupported parity");
    }
    tcflag_t stop = 0;
    switch (line.stopBits) {
    case StopBits::One:
        break;
    // termios has no 1.5; a UART sends 1.5 stop bits for 5-bit words when asked for two.
    case StopBits::OnePointFive:
    case StopBits::Two:
        stop = CSTOPB;
        break;
    default:
        return fail(error, EINVAL, "unsupported stop bits");
    }
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    t.c_cflag |= size | parity | stop;
    return true;
}

// VMIN 1 with O_NONBLOCK makes read() say EAGAIN when nothing is there and 0 only after a
// hang-up, so the two can be told apart.
void makeRaw(::termios& t) {
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~CRTSCTS;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

} // namespace kvr::serial
