#include "driver/control/dispatch.h"

#include "driver/control/registry_params.h"
#include "engine/calibration.h"
#include "engine/decode.h"
#include "engine/pipeline.h"
#include "platform/clock/clock.h"
#include "platform/common/log.h"
#include "platform/ipc/control_codes.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <exception>
#include <mutex>
#include <string_view>

namespace kvr::driver {

using namespace ::kvr::control; // the control interface the driver serves
namespace ntstatus = ::kvr::ipc::status;
static_assert(engine::kPacketFormatMax == kMaxPacketFormat,
              "the engine decodes every format a client may name");

namespace {

using engine::Rs232Device;
using ipc::Reply;

// ---- request access ----------------------------------------------------------------------------

// One request as the handlers see it. Every accessor is used only after the handler has
// checked the length that covers it.
struct Io {
    DriverContext& ctx;
    ipc::Request& req;

    [[nodiscard]] std::uint32_t in() const { return req.inLength; }
    [[nodiscard]] std::uint32_t out() const { return req.outLength; }
    [[nodiscard]] std::uint8_t byte(std::size_t at) const { return req.buffer[at]; }
    // Little-endian DWORD at any offset (the request's fields are unaligned).
    [[nodiscard]] std::uint32_t dword(std::size_t at) const {
        return static_cast<std::uint32_t>(req.buffer[at]) |
               static_cast<std::uint32_t>(req.buffer[at + 1]) << 8 |
               static_cast<std::uint32_t>(req.buffer[at + 2]) << 16 |
               static_cast<std::uint32_t>(req.buffer[at + 3]) << 24;
    }
    void putByte(std::size_t at, std::uint8_t v) { req.buffer[at] = v; }
    void putDword(std::size_t at, std::uint32_t v) {
        for (std::size_t i = 0; i < 4; ++i)
            req.buffer[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    [[nodiscard]] std::uint8_t index() const { return req.buffer[0]; }
    Rs232Device& dev() { return ctx.device(index()); }
    DeviceControl& control() { return ctx.control(index()); }
};

constexpr Reply done(std::uint32_t info = 0) {
    return Reply{ntstatus::kSuccess, info};
}
constexpr Reply fail(std::uint32_t status) {
    return Reply{status, 0};
}
constexpr Reply tooSmall() {
    return fail(ntstatus::kBufferTooSmall);
}

// Most setting codes answer one byte 1. Without room for it, ack-with-reply codes report the
// buffer as too small (the change is made all the same) and ack-optional codes succeed empty.
Reply ackWithReply(Io& io) {
    if (io.out() < 1) return tooSmall();
    io.putByte(0, 1);
    return done(1);
}
Reply ackOptional(Io& io) {
    if (io.out() < 1) return done(0);
    io.putByte(0, 1);
    return done(1);
}

// Runs `change` on the device record under the device lock, then writes the registry values
// after the lock is released; the settings lock around both keeps the registry in the order
// the changes were made.
template <typename Change, typename Write>
void changeSetting(Io& io, Change&& change, Write&& write) {
    std::lock_guard settings(io.control().SettingsLock);
    {
        std::lock_guard lock(io.dev().Lock);
        change(io.dev());
    }
    write();
}

template <typename Read> auto readDevice(Io& io, Read&& read) {
    std::lock_guard lock(io.dev().Lock);
    return read(io.dev());
}

void writeReg(Io& io, std::string_view name, std::uint32_t value) {
    UpdateRegistryValue(io.ctx, name, value, io.index());
}

// ---- per-device setting codes ------------------------------------------------------------------

Reply setRotation(Io& io) {
    if (io.in() < 2) return tooSmall();
    const std::uint8_t rotation = io.byte(1); // any value is stored; 1..3 rotate
    changeSetting(
        io, [&](Rs232Device& d) { d.Rotation = rotation; },
        [&] { writeReg(io, regval::kRotation, rotation); });
    return ackWithReply(io);
}

Reply disableReport(Io& io) {
    if (io.in() < 2) return tooSmall();
    const std::uint8_t v = io.byte(1);
    const std::uint8_t memory = (v == 1 || v == 2) ? 1 : 0;
    const std::uint32_t stored = v == 1   ? kDisableReportThisConnection
                                 : v == 2 ? kDisableReportAlways
                                          : 0;
    changeSetting(
        io, [&](Rs232Device& d) { d.DisableReport = memory; },
        [&] { writeReg(io, regval::kDisableReport, stored); });
    return ackWithReply(io);
}

Reply setFlag(Io& io, std::uint8_t Rs232Device::*field, std::string_view name) {
    if (io.in() < 2) return tooSmall();
    const std::uint8_t flag = io.byte(1) == 1 ? 1 : 0;
    changeSetting(
        io, [&](Rs232Device& d) { d.*field = flag; }, [&] { writeReg(io, name, flag); });
    return ackWithReply(io);
}

Reply setReportMode(Io& io) {
    if (io.in() < 2) return tooSmall();
    const std::uint8_t v = io.byte(1);
    const std::uint8_t mode = v == engine::kReportModeDesktop  ? engine::kReportModeDesktop
                              : v == engine::kReportModeButton ? engine::kReportModeButton
                                                               : engine::kReportModeDrawing;
    changeSetting(
        io, [&](Rs232Device& d) { d.ReportMode = mode; },
        [&] { writeReg(io, regval::kReportMode, mode); });
    return ackWithReply(io);
}

Reply setDoubleClick(Io& io) {
    if (io.in() < 2) return tooSmall();
    const std::uint8_t flag = io.byte(1) == 1 ? 1 : 0;
    DeviceControl& c = io.control();
    changeSetting(
        io, [&](Rs232Device&) { c.DoubleClick = flag; },
        [&] { writeReg(io, regval::kDoubleClick, flag); });
    return ackWithReply(io);
}

// A one-byte reply read under the device lock.
template <typename Read> Reply replyByte(Io& io, Read&& read) {
    if (io.out() < 1) return tooSmall();
    io.putByte(0, readDevice(io, read));
    return done(1);
}

Reply getSoundStatus(Io& io) {
    if (io.out() < 2) return tooSmall();
    const auto [down, up] = readDevice(io, [](Rs232Device& d) {
        return std::array<std::uint8_t, 2>{static_cast<std::uint8_t>(d.DownSound == 1),
                                           static_cast<std::uint8_t>(d.UpSound == 1)};
    });
    io.putByte(0, down);
    io.putByte(1, up);
    return done(2);
}

Reply getRightClick(Io& io) {
    if (io.out() < 5) return tooSmall();
    // The right-click time is the controller's; the driver always answers 400 here.
    constexpr std::uint32_t kReportedRightClickTime = 400;
    const std::uint8_t on = readDevice(io, [](Rs232Device& d) { return d.RightStatus == 1; });
    io.putDword(0, kReportedRightClickTime);
    io.putByte(4, on);
    return done(5);
}

// ---- events -------------------------------------------------------------------------------------

// Takes the driver's own reference to the event the client sent. Status of the reference.
std::uint32_t referenceEvent(Io& io, std::optional<ipc::Event>& event) {
    std::uint32_t status = ntstatus::kInvalidHandle;
    if (!io.req.passedFd.valid()) return ntstatus::kInvalidHandle;
    event = ipc::Event::adopt(std::move(io.req.passedFd), &status);
    if (!event) return status == ntstatus::kSuccess ? ntstatus::kInvalidHandle : status;
    return ntstatus::kSuccess;
}

// Codes 5 and 6: one registration per device while the control connection that made it stays
// open (KvrRs232Close frees the device again), so a service that is restarted can register
// anew; a second registration while the first registrant lives is refused.
Reply setDeviceEvent(Io& io, bool down) {
    if (io.in() < 5) return tooSmall();
    std::lock_guard settings(io.control().SettingsLock);
    Rs232Device& d = io.dev();
    const bool registered = readDevice(io, [&](Rs232Device& r) {
        return (down ? r.DownEventRegistered : r.UpEventRegistered) != 0;
    });
    if (registered) return fail(ntstatus::kUnsuccessful);
    std::optional<ipc::Event> event;
    if (const std::uint32_t s = referenceEvent(io, event); s != ntstatus::kSuccess) return fail(s);
    const engine::EventRef ref =
        down ? EventTable::downEvent(io.index()) : EventTable::upEvent(io.index());
    io.ctx.events().install(ref, std::move(*event), io.req.connection);
    std::lock_guard lock(d.Lock);
    if (down) {
        d.DownEvent = ref;
        d.DownEventRegistered = 1;
    } else {
        d.UpEvent = ref;
        d.UpEventRegistered = 1;
    }
    return done(0);
}

// Codes 41, 47, 48: a new event replaces (and releases) the one registered before.
Reply setGlobalEvent(Io& io, engine::EventRef engine::ControlExtension::*field,
                     engine::EventRef ref) {
    if (io.in() < 4) return tooSmall();
    std::optional<ipc::Event> event;
    if (const std::uint32_t s = referenceEvent(io, event); s != ntstatus::kSuccess) return fail(s);
    io.ctx.events().install(ref, std::move(*event));
    engine::ControlExtension& ext = io.ctx.extension();
    std::lock_guard lock(ext.Lock);
    ext.*field = ref;
    return done(0);
}

// ---- serial connection --------------------------------------------------------------------------

void connectIfIdle(Io& io) {
    SerialLink* link = io.ctx.serialLink();
    if (link != nullptr && !link->connected(io.index())) link->connect(io.index());
}

Reply changeComPort(Io& io) {
    if (io.in() < 9) return tooSmall();
    const std::uint32_t com = io.dword(1);
    const std::uint32_t baud = io.dword(5);
    if (com == 0 || com > kMaxComPort) return tooSmall();
    std::uint8_t format = engine::kPacketFormatM;
    if (io.in() >= 13 && io.byte(9) <= engine::kPacketFormatMax) format = io.byte(9);
    {
        std::lock_guard settings(io.control().SettingsLock);
        std::lock_guard lock(io.dev().Lock);
        io.control().ComPort = static_cast<std::uint8_t>(com);
        io.control().BaudRate = baud;
        io.dev().PacketFormat = format;
    }
    // A connected device keeps its port; the new values apply at its next connect.
    connectIfIdle(io);
    return ackWithReply(io);
}

Reply closeComPort(Io& io) {
    if (SerialLink* link = io.ctx.serialLink()) link->disconnect(io.index());
    return done(0);
}

Reply reopenComPort(Io& io) {
    connectIfIdle(io);
    return ackWithReply(io);
}

// Command frames are 3 to 10 bytes (SOH, text, CR), behind the index byte.
constexpr std::uint32_t kWriteMinIn = 4;
constexpr std::uint32_t kWriteMaxIn = 11;

Reply writeBuffer(Io& io) {
    if (io.in() < kWriteMinIn || io.in() > kWriteMaxIn) return tooSmall();
    SerialLink* link = io.ctx.serialLink();
    if (link == nullptr || !link->connected(io.index())) return tooSmall();
    link->write(io.index(), std::span<const std::uint8_t>(io.req.buffer.data() + 1, io.in() - 1));
    return done(0);
}

constexpr std::uint32_t kReadBufferMaxOut = 512;

Reply readBuffer(Io& io) {
    if (io.out() < 1 || io.out() > kReadBufferMaxOut) return tooSmall();
    const std::size_t taken = engine::ReadQueueData(io.dev(), io.req.buffer.data(), io.out());
    return done(static_cast<std::uint32_t>(taken));
}

Reply readLength(Io& io) {
    if (io.out() < 4) return tooSmall();
    io.putDword(0, engine::QueueDataLength(io.dev()));
    return done(4);
}

Reply flushReadBuffer(Io& io) {
    engine::FlushQueueData(io.dev());
    return done(0);
}

Reply readDisplayNumber(Io& io) {
    ReadDisplayNumber(io.ctx, io.index());
    return done(0);
}

// ---- calibration --------------------------------------------------------------------------------

engine::RawPointEntry capturedPoint(const Rs232Device& d) {
    return d.CaptureIndex < engine::kRawPointCount ? d.RawPoint[d.CaptureIndex]
                                                   : engine::RawPointEntry{};
}

Reply calPointReady(Io& io) {
    if (io.out() < 9) return tooSmall();
    const auto [ready, point] = readDevice(io, [](Rs232Device& d) {
        return std::pair<bool, engine::RawPointEntry>(d.PointReady == 1, capturedPoint(d));
    });
    if (ready) {
        io.putByte(0, 1);
        io.putDword(1, point.x);
        io.putDword(5, point.y);
    } else {
        std::fill_n(io.req.buffer.begin(), 9, std::uint8_t{0});
    }
    return done(9);
}

void stopCapture(Rs232Device& d, bool clearPenLifted) {
    d.CaptureKind = 0;
    d.CaptureIndex = 0;
    d.PointReady = 0;
    d.CaptureActive = 0;
    d.SampleCount = 0;
    if (clearPenLifted) d.PenLifted = 0;
}

Reply setCalPoint(Io& io) {
    if (io.in() < 3) return tooSmall();
    const std::uint8_t n = io.byte(1);
    const std::uint8_t k = io.byte(2);
    std::lock_guard settings(io.control().SettingsLock);
    std::lock_guard lock(io.dev().Lock);
    if (!engine::StartMultiPointCapture(io.dev(), n, k)) stopCapture(io.dev(), true);
    return done(0);
}

Reply isPenUp(Io& io) {
    return replyByte(io, [](Rs232Device& d) -> std::uint8_t { return d.PenLifted == 1; });
}

Reply set3PCalPoint(Io& io) {
    if (io.in() < 2) return tooSmall();
    const std::uint8_t k = io.byte(1);
    bool started = false;
    {
        std::lock_guard settings(io.control().SettingsLock);
        std::lock_guard lock(io.dev().Lock);
        started = engine::StartThreePointCapture(io.dev(), k);
        if (!started) {
            stopCapture(io.dev(), false); // PenLifted stays as the last capture left it
            io.dev().RawPoint[0] = engine::RawPointEntry{};
        }
    }
    if (!started || io.out() < 1) return done(0);
    io.putByte(0, 1);
    return done(1);
}

Reply get3PCalData(Io& io) {
    if (io.out() < 8) return tooSmall();
    const auto [ready, point] = readDevice(io, [](Rs232Device& d) {
        return std::pair<bool, engine::RawPointEntry>(d.PointReady == 1, capturedPoint(d));
    });
    if (!ready) return done(0);
    io.putDword(0, point.x);
    io.putDword(4, point.y);
    return done(8);
}

// Codes 39 and 42 store values the mapping divides by: a set the engine could not use (a
// value outside 0..4095, or targets on one line at the mapping's resolution) is refused with
// STATUS_INVALID_PARAMETER and changes nothing.
template <typename Modify, typename Write>
Reply storeCalibration(Io& io, Modify&& modify, Write&& write) {
    std::lock_guard settings(io.control().SettingsLock);
    {
        std::lock_guard lock(io.dev().Lock);
        engine::CalibrationSet set = engine::CalibrationOf(io.dev());
        modify(set);
        if (!engine::CalibrationUsable(set)) return fail(ntstatus::kInvalidParameter);
        engine::StoreCalibration(io.dev(), set);
    }
    write();
    return ackOptional(io);
}

std::int32_t asInt(std::uint32_t v) {
    return static_cast<std::int32_t>(v);
}

Reply saveCalData(Io& io) {
    if (io.in() < 25) return tooSmall();
    const std::array<std::uint32_t, 6> v{io.dword(1),  io.dword(5),  io.dword(9),
                                         io.dword(13), io.dword(17), io.dword(21)};
    return storeCalibration(
        io,
        [&](engine::CalibrationSet& s) {
            s.CP1X = asInt(v[0]);
            s.CP1Y = asInt(v[1]);
            s.CP2X = asInt(v[2]);
            s.CP2Y = asInt(v[3]);
            s.CP3X = asInt(v[4]);
            s.CP3Y = asInt(v[5]);
        },
        [&] {
            constexpr std::array<std::string_view, 6> names{regval::kCP1X, regval::kCP1Y,
                                                            regval::kCP2X, regval::kCP2Y,
                                                            regval::kCP3X, regval::kCP3Y};
            for (std::size_t i = 0; i < names.size(); ++i)
                writeReg(io, names[i], v[i]);
        });
}

Reply setBasePoint(Io& io) {
    if (io.in() < 9) return tooSmall();
    const std::uint32_t bpx = io.dword(1);
    const std::uint32_t bpy = io.dword(5);
    return storeCalibration(
        io,
        [&](engine::CalibrationSet& s) {
            s.BPX = asInt(bpx);
            s.BPY = asInt(bpy);
        },
        [&] {
            writeReg(io, regval::kBPX, bpx);
            writeReg(io, regval::kBPY, bpy);
        });
}

Reply getBasePoint(Io& io) {
    if (io.out() < 8) return tooSmall();
    const auto [x, y] = readDevice(io, [](Rs232Device& d) { return std::pair(d.BPX, d.BPY); });
    io.putDword(0, static_cast<std::uint32_t>(x));
    io.putDword(4, static_cast<std::uint32_t>(y));
    return done(8);
}

// ---- edge expansion -----------------------------------------------------------------------------

enum ExpandSide : std::uint8_t { kSideUp = 1, kSideDown = 2, kSideLeft = 3, kSideRight = 4 };

struct ExpandField {
    std::uint16_t Rs232Device::*field;
    std::string_view name;
};

std::optional<ExpandField> expandField(std::uint8_t side) {
    switch (side) {
    case kSideUp:
        return ExpandField{&Rs232Device::ExpandUp, regval::kExpandUp};
    case kSideDown:
        return ExpandField{&Rs232Device::ExpandDown, regval::kExpandDown};
    case kSideLeft:
        return ExpandField{&Rs232Device::ExpandLeft, regval::kExpandLeft};
    case kSideRight:
        return ExpandField{&Rs232Device::ExpandRight, regval::kExpandRight};
    default:
        return std::nullopt;
    }
}

Reply setExpand(Io& io) {
    if (io.in() < 6) return tooSmall();
    const auto side = expandField(io.byte(1));
    const std::uint32_t value = io.dword(2);
    if (side) {
        // Memory holds the low 16 bits; the registry gets the whole value (and the load
        // rules repair it at the next connect if it is not a 12-bit threshold).
        changeSetting(
            io, [&](Rs232Device& d) { d.*(side->field) = static_cast<std::uint16_t>(value); },
            [&] { writeReg(io, side->name, value); });
    }
    return ackOptional(io);
}

Reply getExpand(Io& io) {
    if (io.in() < 2 || io.out() < 4) return tooSmall();
    if (const auto side = expandField(io.byte(1))) {
        io.putDword(0, readDevice(io, [&](Rs232Device& d) { return d.*(side->field); }));
    }
    return done(4);
}

// ---- driver-wide codes --------------------------------------------------------------------------

Reply armTouchSearch(Io& io) {
    if (io.in() < 1) return tooSmall();
    const std::uint8_t v = io.byte(0);
    engine::ControlExtension& ext = io.ctx.extension();
    {
        std::lock_guard lock(ext.Lock);
        ext.TouchSearchDisplayIndex = v & 3;
        ext.TouchSearchArrangement = (v >> 2) & 3;
        ext.TouchSearchFound = 0;
        ext.TouchSearchDevice = engine::kNoDevice;
        ext.TouchSearchArmed = 1;
    }
    return ackWithReply(io);
}

Reply queryTouchSearch(Io& io) {
    if (io.out() < 4) return tooSmall();
    engine::ControlExtension& ext = io.ctx.extension();
    std::array<std::uint8_t, 4> reply{0, engine::kNoDevice, 0, 0};
    {
        std::lock_guard lock(ext.Lock);
        if (ext.TouchSearchFound == 1 && io.ctx.validDevice(ext.TouchSearchDevice)) {
            reply = {1, ext.TouchSearchDevice, ext.TouchSearchDisplayIndex,
                     ext.TouchSearchArrangement};
            ext.TouchSearchArmed = 0;
        }
    }
    std::copy(reply.begin(), reply.end(), io.req.buffer.begin());
    return done(4);
}

Reply setDisplayPartition(Io& io) {
    if (io.in() < 17) return tooSmall();
    const std::uint8_t number = io.byte(0);
    if (number < 1 || number > engine::kDisplayPartitionCount) {
        io.putByte(0, 0);
        return done(1);
    }
    const engine::DisplayPartitionEntry entry{asInt(io.dword(1)), asInt(io.dword(5)),
                                              asInt(io.dword(9)), asInt(io.dword(13))};
    engine::ControlExtension& ext = io.ctx.extension();
    {
        std::lock_guard lock(ext.Lock);
        ext.DisplayPartition[number - 1] = entry;
        io.ctx.displayEntrySet(static_cast<std::uint8_t>(number - 1), number == 1);
    }
    io.putByte(0, 1);
    return done(1);
}

Reply setManualRightClick(Io& io) {
    if (io.in() < 1) return tooSmall();
    engine::ControlExtension& ext = io.ctx.extension();
    {
        std::lock_guard lock(ext.Lock);
        ext.ManualRightClick = io.byte(0) == 1 ? 1 : 0;
    }
    return ackOptional(io);
}

Reply getLastDevice(Io& io, bool up) {
    if (io.out() < 1) return tooSmall();
    engine::ControlExtension& ext = io.ctx.extension();
    std::lock_guard lock(ext.Lock);
    if (!up) {
        io.putByte(0, ext.LastDownDevice);
    } else {
        io.putByte(0, ext.LastUpDevice);
        // Reading the up device empties both slots, which re-enables both notifications.
        ext.LastDownDevice = engine::kNoDevice;
        ext.LastUpDevice = engine::kNoDevice;
    }
    return done(1);
}

// ---- the dispatch -------------------------------------------------------------------------------

// Requests that only read: anyone who reached the socket may make them. Everything else
// changes the driver or a controller (taking bytes from a response queue, disarming the touch
// search and taking the last lift count too) and is for the socket's group only.
bool onlyReads(std::uint32_t code) {
    switch (code) {
    case IOCTL_RS232_GET_ROTATION:
    case IOCTL_RS232_GET_REPORT_STATUS:
    case IOCTL_RS232_READ_LENGTH:
    case IOCTL_RS232_CAL_POINT_READY:
    case IOCTL_RS232_IS_PEN_UP:
    case IOCTL_RS232_GET_SOUND_STATUS:
    case IOCTL_RS232_GET_REPORT_MODE:
    case IOCTL_RS232_GET_RIGHT_CLICK:
    case IOCTL_RS232_GET_DOUBLE_CLICK:
    case IOCTL_RS232_CURRENT_COM_PORT:
    case IOCTL_RS232_GET_3P_CAL_DATA:
    case IOCTL_RS232_GET_BASE_POINT:
    case IOCTL_RS232_GET_EXPAND:
    case IOCTL_RS232_GET_LAST_DOWN_DEVICE:
        return true;
    default:
        return false;
    }
}

// kvrctl watch: the socket passed with the request gets the unit's (or every unit's) raw
// chunks and pointer records until the client closes it or this connection.
Reply watch(Io& io) {
    if (io.in() < 1) return tooSmall();
    const std::uint8_t unit = io.byte(0);
    if (unit != kWatchEveryUnit && !io.ctx.validDevice(unit))
        return fail(ntstatus::kInvalidDeviceRequest);
    const std::uint32_t status =
        io.ctx.watchers().add(std::move(io.req.passedFd), unit, io.req.connection);
    return status == ntstatus::kSuccess ? done(0) : fail(status);
}

Reply dispatchGlobal(Io& io) {
    switch (io.req.code) {
    case IOCTL_RS232_ARM_TOUCH_SEARCH:
        return armTouchSearch(io);
    case IOCTL_RS232_QUERY_TOUCH_SEARCH:
        return queryTouchSearch(io);
    case IOCTL_RS232_SET_DISPLAY_PARTITION:
        return setDisplayPartition(io);
    case IOCTL_RS232_SET_MANUAL_RIGHT_CLICK:
        return setManualRightClick(io);
    case IOCTL_RS232_SET_MANUAL_RIGHT_EVENT:
        return setGlobalEvent(io, &engine::ControlExtension::ManualRightEvent,
                              EventTable::manualRightEvent());
    case IOCTL_RS232_GET_LAST_DOWN_DEVICE:
        return getLastDevice(io, false);
    case IOCTL_RS232_GET_LAST_UP_DEVICE:
        return getLastDevice(io, true);
    case IOCTL_RS232_SET_GLOBAL_DOWN_EVENT:
        return setGlobalEvent(io, &engine::ControlExtension::GlobalDownEvent,
                              EventTable::globalDownEvent());
    case IOCTL_RS232_SET_GLOBAL_UP_EVENT:
        return setGlobalEvent(io, &engine::ControlExtension::GlobalUpEvent,
                              EventTable::globalUpEvent());
    default:
        return fail(ntstatus::kInvalidParameter);
    }
}

Reply dispatchDevice(Io& io) {
    switch (io.req.code) {
    case IOCTL_RS232_SET_ROTATION:
        return setRotation(io);
    case IOCTL_RS232_DISABLE_REPORT:
        return disableReport(io);
    case IOCTL_RS232_SET_DOWN_EVENT:
        return setDeviceEvent(io, true);
    case IOCTL_RS232_SET_UP_EVENT:
        return setDeviceEvent(io, false);
    case IOCTL_RS232_GET_ROTATION:
        return replyByte(io, [](Rs232Device& d) { return d.Rotation; });
    case IOCTL_RS232_SET_UP_SOUND:
        return setFlag(io, &Rs232Device::UpSound, regval::kUpSound);
    case IOCTL_RS232_SET_DOWN_SOUND:
        return setFlag(io, &Rs232Device::DownSound, regval::kDownSound);
    case IOCTL_RS232_GET_REPORT_STATUS:
        return replyByte(io, [](Rs232Device& d) -> std::uint8_t { return d.DisableReport == 1; });
    case IOCTL_RS232_CHANGE_COM_PORT:
        return changeComPort(io);
    case IOCTL_RS232_CLOSE_COM_PORT:
        return closeComPort(io);
    case IOCTL_RS232_WRITE_BUFFER:
        return writeBuffer(io);
    case IOCTL_RS232_READ_BUFFER:
        return readBuffer(io);
    case IOCTL_RS232_READ_LENGTH:
        return readLength(io);
    case IOCTL_RS232_FLUSH_READ_BUFFER:
        return flushReadBuffer(io);
    case IOCTL_RS232_SET_REPORT_MODE:
        return setReportMode(io);
    case IOCTL_RS232_CAL_POINT_READY:
        return calPointReady(io);
    case IOCTL_RS232_SET_CAL_POINT:
        return setCalPoint(io);
    case IOCTL_RS232_IS_PEN_UP:
        return isPenUp(io);
    case IOCTL_RS232_REOPEN_COM_PORT:
        return reopenComPort(io);
    case IOCTL_RS232_GET_SOUND_STATUS:
        return getSoundStatus(io);
    case IOCTL_RS232_GET_REPORT_MODE:
        return replyByte(io, [](Rs232Device& d) { return d.ReportMode; });
    case IOCTL_RS232_SET_RIGHT_CLICK:
        return setFlag(io, &Rs232Device::RightStatus, regval::kRightStatus);
    case IOCTL_RS232_GET_RIGHT_CLICK:
        return getRightClick(io);
    case IOCTL_RS232_SET_DOUBLE_CLICK:
        if (!io.ctx.role().servesDoubleClick) break;
        return setDoubleClick(io);
    case IOCTL_RS232_GET_DOUBLE_CLICK:
        if (!io.ctx.role().servesDoubleClick) break;
        if (io.out() < 1) return tooSmall();
        io.putByte(0, io.ctx.doubleClick(io.index()));
        return done(1);
    case IOCTL_RS232_CURRENT_COM_PORT:
        if (io.out() < 1) return tooSmall();
        io.putByte(0, io.ctx.comPort(io.index()));
        return done(1);
    case IOCTL_RS232_READ_DISPLAY_NUMBER:
        return readDisplayNumber(io);
    case IOCTL_RS232_SET_3P_CAL_POINT:
        return set3PCalPoint(io);
    case IOCTL_RS232_GET_3P_CAL_DATA:
        return get3PCalData(io);
    case IOCTL_RS232_SAVE_CAL_DATA:
        return saveCalData(io);
    case IOCTL_RS232_SET_BASE_POINT:
        return setBasePoint(io);
    case IOCTL_RS232_GET_BASE_POINT:
        return getBasePoint(io);
    case IOCTL_RS232_SET_EXPAND:
        return setExpand(io);
    case IOCTL_RS232_GET_EXPAND:
        return getExpand(io);
    default:
        break;
    }
    return fail(ntstatus::kInvalidParameter);
}

Reply dispatch(DriverContext& ctx, DeviceObject target, ipc::Request& req) {
    // 1. Control requests belong to the control device only.
    if (target != DeviceObject::Control) return fail(ntstatus::kInvalidDeviceRequest);
    // The system buffer must hold both lengths; the control server guarantees it, a direct
    // caller that does not gets the request refused before a byte is read.
    if (req.buffer.size() < std::max(req.inLength, req.outLength)) {
        return fail(ntstatus::kInvalidParameter);
    }
    if (req.peer == ipc::PeerTrust::Other && !onlyReads(req.code)) {
        KVR_LOG_WARN("request 0x%X refused: the peer is not in the control device's group",
                     req.code);
        return fail(ntstatus::kAccessDenied);
    }
    Io io{ctx, req};
    if (req.code == IOCTL_KVR_WATCH) return watch(io);
    if (IsGlobalCode(req.code)) return dispatchGlobal(io);
    // 2. Every other code (also one this driver does not serve) names a device first.
    if (req.inLength < 1 || req.buffer.empty() || !ctx.validDevice(req.buffer[0])) {
        return fail(ntstatus::kInvalidDeviceRequest);
    }
    // 3. and 4. Each code checks its own lengths; unknown codes are invalid parameters.
    return dispatchDevice(io);
}

} // namespace

ipc::Reply KvrRs232_DispatchIoctl(DriverContext& ctx, DeviceObject target,
                                  ipc::Request& request) noexcept {
    try {
        return dispatch(ctx, target, request);
    } catch (const std::exception& e) {
        KVR_LOG_ERROR("control request 0x%X failed: %s", request.code, e.what());
    } catch (...) {
        KVR_LOG_ERROR("control request 0x%X failed", request.code);
    }
    return fail(ntstatus::kUnsuccessful);
}

ipc::Dispatch ControlDispatch(DriverContext& ctx) {
    return [&ctx](ipc::Request& request) {
        return KvrRs232_DispatchIoctl(ctx, DeviceObject::Control, request);
    };
}

ipc::ConnectionClosed ControlClose(DriverContext& ctx) {
    return
        [&ctx](std::uint64_t connection) { KvrRs232Close(ctx, DeviceObject::Control, connection); };
}

std::uint32_t KvrRs232_InternIoCtl(DriverContext& ctx, DeviceObject target, std::uint32_t code,
                                   const void* input, std::size_t inLength) noexcept {
    switch (code) {
    case IOCTL_INTERNAL_MOUSE_CONNECT: {
        if (target != DeviceObject::PointerPort) return ntstatus::kNotImplemented;
        if (ctx.pointerPort().connected()) return ntstatus::kSharingViolation;
        if (input == nullptr || inLength < sizeof(PointerConnectData))
            return ntstatus::kInvalidParameter;
        PointerConnectData data;
        std::memcpy(&data, input, sizeof data);
        if (data.ClassService == nullptr) return ntstatus::kInvalidParameter;
        // Two connects racing: the pointer-port lock lets one win, the other sees it stored.
        return ctx.pointerPort().connect(data) ? ntstatus::kSuccess : ntstatus::kSharingViolation;
    }
    case IOCTL_INTERNAL_MOUSE_DISCONNECT:
        return ntstatus::kNotImplemented;
    default:
        return ntstatus::kSuccess;
    }
}

ipc::Reply KvrRs232Open(DriverContext&, DeviceObject) noexcept {
    return done(0);
}
ipc::Reply KvrRs232Close(DriverContext& ctx, DeviceObject target,
                         std::uint64_t connection) noexcept {
    if (target != DeviceObject::Control || connection == 0) return done(0);
    try {
        ctx.watchers().releaseOwnedBy(connection);
        for (std::uint8_t n = 0; n < ctx.deviceCount(); ++n) {
            Rs232Device& d = ctx.device(n);
            // The settings lock orders this against a registration arriving for the device.
            std::lock_guard settings(ctx.control(n).SettingsLock);
            if (ctx.events().releaseOwnedBy(EventTable::downEvent(n), connection)) {
                std::lock_guard lock(d.Lock);
                d.DownEventRegistered = 0;
            }
            if (ctx.events().releaseOwnedBy(EventTable::upEvent(n), connection)) {
                std::lock_guard lock(d.Lock);
                d.UpEventRegistered = 0;
            }
        }
    } catch (const std::exception& e) {
        KVR_LOG_ERROR("releasing connection %llu failed: %s",
                      static_cast<unsigned long long>(connection), e.what());
    }
    return done(0);
}

void ReadDisplayNumber(DriverContext& ctx, std::uint8_t device) {
    if (!ctx.validDevice(device)) return;
    static constexpr std::array<std::uint8_t, 3> kReset{0x01, 'R', 0x0D};
    static constexpr std::array<std::uint8_t, 6> kGetDisplay{0x01, 'G', 'P', '9', 'E', 0x0D};
    // The controller needs this long to answer; a silent one leaves the queue empty.
    constexpr std::chrono::milliseconds kReplyWait{100};
    constexpr std::size_t kReplyBytes = 6;

    Rs232Device& d = ctx.device(device);
    SerialLink* link = ctx.serialLink();
    if (link != nullptr) link->write(device, kReset);
    clock::sleepFor(kReplyWait);
    engine::FlushQueueData(d);
    if (link != nullptr) link->write(device, kGetDisplay);
    clock::sleepFor(kReplyWait);
    std::array<std::uint8_t, kReplyBytes> reply{};
    const std::size_t taken = engine::ReadQueueData(d, reply.data(), reply.size());
    std::lock_guard lock(d.Lock);
    engine::SetDisplayLayoutFromReply(d, reply.data(), taken);
}

} // namespace kvr::driver
