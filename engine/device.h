#pragma once
// Per-controller and driver-wide state of the touch engine.
//
// The driver owns one ControlExtension, which holds the eight Rs232Device records; the driver
// wraps each record in its own structure for the platform side (read thread, serial port,
// stop / read-done events, COM port number, baud rate, started flag), none of which is here.
//
// Locks, outermost first:
//   1. Rs232Device::Lock      every field of the record except ResponseQueue. Held by the
//                             decode entry DecodeChunk() (which takes it itself) and by the
//                             control interface around every read or change of a setting,
//                             calibration value, capture field or event reference.
//   2. ControlExtension::Lock the touched-controller search, DisplayPartition, the manual
//                             right click, LastDownDevice / LastUpDevice and the driver-wide
//                             event references. The report path takes it inside 1.
//   3. PointerPortLink::Lock  held around each delivery to the pointer class callback.
//   ResponseQueue has its own lock, a leaf: nothing else is taken while it is held, and
//   readers take it alone.

#include "engine/interfaces.h"
#include "engine/response_queue.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace kvr::engine {

inline constexpr std::size_t kMaxDevices = 8;
inline constexpr std::size_t kReadBufferBytes = 255;
inline constexpr std::size_t kPacketBytes = 10; // room for the longer (E) packet
inline constexpr std::size_t kRawPointCount = 9;
inline constexpr std::size_t kDisplayPartitionCount = 9;
inline constexpr std::uint8_t kNoDevice = 0xFF;

// PacketFormat values: 2 selects E packets, every other value M packets.
inline constexpr std::uint8_t kPacketFormatM = 0;
inline constexpr std::uint8_t kPacketFormatE = 2;
inline constexpr std::uint8_t kPacketFormatMInvertY = 3;
inline constexpr std::uint8_t kPacketFormatMax = 4;

// ReportMode values; any value other than 1 and 3 reports as drawing mode.
inline constexpr std::uint8_t kReportModeDesktop = 1;
inline constexpr std::uint8_t kReportModeDrawing = 2;
inline constexpr std::uint8_t kReportModeButton = 3;

// ReplyMode values of the E decoder.
inline constexpr std::uint8_t kReplyModeNone = 0;
inline constexpr std::uint8_t kReplyModeCounted = 1; // began with 'U' + not 'T': 10 bytes
inline constexpr std::uint8_t kReplyModeFramed = 3;  // began with SOH: ends at CR or 10 bytes

// CaptureKind values: three-point capture, or multi-point with 3, 5 or 9 points.
inline constexpr std::uint8_t kCaptureKindThreePoint = 0x3A;

// Calibration defaults (raw 12-bit sensor positions of the targets and the base point).
inline constexpr std::int32_t kDefaultCP1X = 128, kDefaultCP1Y = 128;
inline constexpr std::int32_t kDefaultCP2X = 3968, kDefaultCP2Y = 3968;
inline constexpr std::int32_t kDefaultCP3X = 3968, kDefaultCP3Y = 128;
inline constexpr std::int32_t kDefaultBPX = 3968, kDefaultBPY = 128;

// Pointer space of one display partition entry.
inline constexpr std::int32_t kPointerSpan = 0xFFFF;

struct ScreenPoint { // a signed pair: CurPoint, OldPoint, calibrated output
    std::int32_t x = 0;
    std::int32_t y = 0;
};

struct RawPointEntry { // a captured raw point, read by the control interface as two DWORDs
    std::uint32_t x = 0;
    std::uint32_t y = 0;
};

// A rectangle of the pointer coordinate space into which a device's 0..4095 range is mapped.
struct DisplayPartitionEntry {
    std::int32_t originX = 0;
    std::int32_t originY = 0;
    std::int32_t extentX = kPointerSpan;
    std::int32_t extentY = kPointerSpan;
};

struct ControlExtension;

// One serial controller. Field names and widths are the controller driver's own vocabulary.
struct Rs232Device {
    Rs232Device() = default;
    Rs232Device(const Rs232Device&) = delete;
    Rs232Device& operator=(const Rs232Device&) = delete;

    ControlExtension* Extension = nullptr; // back reference, set by ControlExtension
    std::mutex Lock;                       // the device lock (see the top of this file)

    // Bytes of the latest read, for callers that read straight into the record
    // (DecodeReadBuffer); DecodeChunk takes any buffer instead.
    std::uint8_t ReadBuffer[kReadBufferBytes] = {};

    // --- decoding ---
    std::uint8_t Packet[kPacketBytes] = {}; // packet being assembled; [0] is the lead byte
    std::uint8_t PacketIndex = 0;           // bytes held; 0 = hunting for a packet start
    ResponseByteQueue ResponseQueue;        // reply bytes waiting for a reader (own lock)

    // --- calibration capture ---
    std::uint8_t CaptureKind = 0;  // kCaptureKindThreePoint, or 3 / 5 / 9
    std::uint8_t CaptureIndex = 0; // RawPoint entry being captured
    std::uint8_t SampleCount = 0;
    std::uint8_t PointReady = 0;
    std::uint8_t PenLifted = 0;
    std::uint8_t CaptureActive = 0; // 1 = packets go to the capture instead of the report
    RawPointEntry RawPoint[kRawPointCount] = {};

    // --- pointer report modes ---
    std::uint8_t RightPressed = 0;
    std::uint8_t LeftPressed = 0;
    std::uint8_t DownSamples = 0;
    ScreenPoint LastPointer; // pointer position of the latest record delivered for the device

    std::uint8_t ReportMode = kReportModeDrawing;
    std::uint8_t Rotation = 0;      // 1, 2, 3 rotate; other values act as 0
    std::uint8_t DisableReport = 0; // 1 = packets go to ResponseQueue instead of the pointer

    EventRef DownEvent = kNoEvent;
    std::uint8_t DownEventRegistered = 0;
    std::uint8_t DownSound = 0; // 1 = set DownEvent on presses (loaded at connect)
    EventRef UpEvent = kNoEvent;
    std::uint8_t UpEventRegistered = 0;
    std::uint8_t UpSound = 0; // 1 = set UpEvent on releases

    std::uint8_t RightStatus = 0; // 1 = the side button gives right clicks
    std::uint8_t PacketFormat = kPacketFormatM;
    std::uint8_t ReplyMode = kReplyModeNone;

    std::uint8_t DisplayArrangement = 0; // 0 not set, 1 side by side, 2 stacked, 3 two by two
    std::uint8_t DisplayIndex = 0;       // DisplayPartition entry the device reports into

    // Calibration set: raw 12-bit positions measured at the three targets, and the base
    // point (screen position of target 3, 12-bit).
    std::int32_t CP3X = kDefaultCP3X;
    std::int32_t CP3Y = kDefaultCP3Y;
    std::int32_t CP1X = kDefaultCP1X;
    std::int32_t CP1Y = kDefaultCP1Y;
    std::int32_t CP2X = kDefaultCP2X;
    std::int32_t CP2Y = kDefaultCP2Y;
    std::int32_t BPX = kDefaultBPX;
    std::int32_t BPY = kDefaultBPY;

    std::uint8_t ReplyWatcher = 0; // progress through the restart announcement SOH 'i' 'T' CR

    std::uint16_t ExpandUp = 0; // edge snap thresholds, calibrated 12-bit units
    std::uint16_t ExpandDown = 4095;
    std::uint16_t ExpandLeft = 0;
    std::uint16_t ExpandRight = 4095;

    std::uint8_t DeviceIndex = 0; // 0..7, set by ControlExtension (and again at connect)

    std::uint8_t MBytes = 0;   // E decoder: bytes of the current reply so far
    std::uint8_t CheckSum = 0; // E decoder: running sum over the packet (not enforced)
    ScreenPoint CurPoint;      // three-point capture: latest raw sample
    ScreenPoint OldPoint;      // three-point capture: previous raw sample

    // Set by the decoder (through EventSignaller) when the controller announces a restart;
    // the driver's read loop then re-sends the report-mode command. kNoEvent = not wanted.
    EventRef ReinitEvent = kNoEvent;
};

// The pointer-port device as the engine sees it: its lock and the connected callback.
struct PointerPortLink {
    std::mutex Lock;             // the pointer-port lock (see the top of this file)
    PointerPort* Port = nullptr; // nullptr = the pointer-port device does not exist
};

// Driver-wide state.
struct ControlExtension {
    ControlExtension();
    ControlExtension(const ControlExtension&) = delete;
    ControlExtension& operator=(const ControlExtension&) = delete;

    std::mutex Lock; // the driver-wide lock (see the top of this file)

    // Touched-controller search.
    std::uint8_t TouchSearchArmed = 0;
    std::uint8_t TouchSearchFound = 0;
    std::uint8_t TouchSearchDevice = kNoDevice;
    std::uint8_t TouchSearchDisplayIndex = 0; // v AND 3 of the arming request
    std::uint8_t TouchSearchArrangement = 0;  // (v shift right 2) AND 3 of the arming request

    // Entry k is addressed as number k + 1 by the control interface, as DisplayIndex k here.
    std::array<DisplayPartitionEntry, kDisplayPartitionCount> DisplayPartition{};

    std::array<Rs232Device, kMaxDevices> Devices;

    // Pointer report notifications.
    std::uint8_t ManualRightClick = 0; // 1 = the next press of any device is a right press
    EventRef ManualRightEvent = kNoEvent;
    EventRef GlobalDownEvent = kNoEvent;
    EventRef GlobalUpEvent = kNoEvent;
    std::uint8_t LastDownDevice = kNoDevice;
    std::uint8_t LastUpDevice = kNoDevice;

    // Filled in by the driver before any device runs, never changed afterwards.
    PointerPortLink Pointer;
    EventSignaller* Signaller = nullptr; // nullptr = events are not set
};

// Sets an event through the driver's signaller; kNoEvent or no signaller does nothing.
void SetEngineEvent(const ControlExtension& ext, EventRef event);

} // namespace kvr::engine
