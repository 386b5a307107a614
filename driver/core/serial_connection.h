#pragma once
// The serial connection of each device and its read loop: opening the controller's port,
// the read thread that feeds every chunk to the decoders, the greeting at connect
// (identification, display setting, partition entry), re-initialisation after a controller
// restart, the byte writer and the disconnect.
//
// Per device the "serial reference" is a shared Port: the read thread holds its own share,
// so a disconnect that gives up waiting for the thread can release its share without pulling
// the descriptor from under a read in progress.
//
// Locks: ConnectLock (per device, connect / disconnect / hot-plug only; held across the
// connect's waits but never while another lock is taken) -> StateLock (a leaf: guards the
// port and thread handles for a moment). The device lock of the engine record is taken by
// the decoder inside the read thread and by the connect for a few field changes; neither of
// the two locks here is ever held while it is.

#include "driver/control/context.h"
#include "platform/ipc/event.h"
#include "platform/serial/port.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace kvr::driver {

// Commands the driver itself sends (SOH text CR).
namespace command {
inline constexpr std::uint8_t kSoh = 0x01;
inline constexpr std::uint8_t kCr = 0x0D;
inline constexpr std::array<std::uint8_t, 3> kZ{kSoh, 'Z', kCr};
inline constexpr std::array<std::uint8_t, 4> kIdentify{kSoh, 'U', 'u', kCr};
inline constexpr std::array<std::uint8_t, 6> kGetDisplay{kSoh, 'G', 'P', '9', 'E', kCr};
// Report-mode command: 'P' (first sample of each touch) in button mode, else 'S' (stream).
std::array<std::uint8_t, 4> reportModeCommand(std::uint8_t reportMode);
} // namespace command

// The tag this family of controllers sends at the start of its identification reply.
inline constexpr char kVendorTag[] = "Lumarcon";
inline constexpr std::size_t kIdentificationBytes = 10;
inline constexpr std::size_t kDisplayReplyBytes = 6;

// Waits of the connect and the re-initialisation.
inline constexpr std::chrono::milliseconds kAfterZ{50};
inline constexpr std::chrono::milliseconds kIdentifyWait{200};
inline constexpr std::chrono::milliseconds kDisplayWait{200};
inline constexpr std::chrono::milliseconds kReinitGap{50};
// Disconnect: how long to wait for the read thread before the port is released regardless.
inline constexpr std::chrono::milliseconds kStopWait{2000};

// Judges an identification reply as taken from the response queue and returns the packet
// format it selects: exactly ten bytes whose bytes 0, 4, 5 and 7 match the vendor tag; then
// byte 8 '0' and byte 9 '0'..'3' select that format, anything else keeps `current`. Any
// other reply selects format 0.
std::uint8_t PacketFormatFromIdentification(const std::uint8_t* reply, std::size_t taken,
                                            std::uint8_t current);

// Sleeps (never spins) for the given time on the steady clock.
void Delay(std::chrono::milliseconds duration);

class SerialConnection final : public SerialLink {
public:
    explicit SerialConnection(DriverContext& context);
    ~SerialConnection() override;
    SerialConnection(const SerialConnection&) = delete;
    SerialConnection& operator=(const SerialConnection&) = delete;

    // SerialLink
    std::uint32_t connect(std::uint8_t device) override; // StartReadPacket
    void disconnect(std::uint8_t device) override;       // DisConnectCOMMPortObject
    std::uint32_t write(std::uint8_t device, std::span<const std::uint8_t> bytes) override;
    bool connected(std::uint8_t device) const override;

    // True while the device's read thread runs (the started flag).
    [[nodiscard]] bool started(std::uint8_t device) const;
    // Disconnects every device (unload).
    void disconnectAll();
    // USB role: a unit whose line hung up is released, and a unit whose tty link is present
    // and that holds no port is connected. Called at start and once a second.
    void scanHotplug();

private:
    // One run of a read thread: its own events and flags, shared with the thread, so a
    // thread that was given up on can never be confused with the one started after it.
    struct Session {
        std::shared_ptr<serial::Port> Port;
        ipc::Event Stop;                  // manual reset
        ipc::Event StartSignal;           // manual reset; set once the thread runs
        ipc::Event Ended;                 // manual reset; set as the thread ends
        std::atomic<bool> Running{true};  // the record's thread reference
        std::atomic<bool> Started{false}; // the started flag
        std::atomic<bool> HungUp{false};  // the read ended on a hang-up
        // A disconnect that gave up waiting for the thread (held up in a pointer sink that
        // blocks, with the device lock) leaves the touch to the thread, which releases it as
        // it leaves; each side sets its flag before it reads the other's, so at least one
        // releases (a second release does nothing).
        std::atomic<bool> ReleaseOnEnd{false};
        std::atomic<bool> Leaving{false};
        // Set for the identification exchange at connect: the reply is plain ASCII, which
        // only the M decoder queues, so the line is decoded with it whatever the format.
        std::atomic<bool> DecodeAsM{false};
    };
    struct Line {
        std::mutex ConnectLock;
        mutable std::mutex StateLock;        // guards Port, Current and Thread
        std::shared_ptr<serial::Port> Port;  // the serial reference
        std::shared_ptr<Session> Current;    // the latest read thread's session
        std::thread Thread;                  // the read thread
        std::optional<ipc::Event> Reinit;    // auto reset; the engine sets its twin
        std::vector<std::thread> Stragglers; // threads given up on, joined at the end
        // Why the port last failed to open (under ConnectLock): the same failure again, as
        // when the USB role looks for its unit every second, is not logged again.
        std::string LastOpenFailure;
    };

    std::shared_ptr<Session> sessionOf(std::uint8_t device) const;
    bool InitSerialPort(std::uint8_t device);
    bool ConnectCOMMPortObject(std::uint8_t device);
    void ReadThreadRoutine(std::uint8_t device, std::shared_ptr<Session> session);
    void ReadLoop(std::uint8_t device, Session& session);
    void Greet(std::uint8_t device, Session& session);
    void DisconnectLocked(std::uint8_t device);
    // The line is gone: a touch in progress is ended (its buttons released) so that no button
    // stays pressed and the next connection starts afresh.
    void ReleaseTouch(std::uint8_t device);
    // Writes the bytes unchanged; the port lets one writer at a time through, so commands
    // from control requests and from the read thread never interleave on the line.
    std::uint32_t SerialPortWriteBuff(std::uint8_t device, std::span<const std::uint8_t> bytes);
    // Judges one completed read: decodes what came, or ends the thread on a stop or hang-up
    // (false).
    bool ReadPacketCompletion(std::uint8_t device, Session& session, const serial::IoResult& r,
                              const std::uint8_t* buffer);
    std::shared_ptr<serial::Port> portOf(std::uint8_t device) const;

    DriverContext& context_;
    std::array<Line, engine::kMaxDevices> lines_;
};

} // namespace kvr::driver
