#pragma once
// The driver-wide context of a KvrRs232 daemon: the engine's ControlExtension with its device
// records, the events clients registered, the pointer-port device the pointer class driver
// connects to, and the per-device serial settings that the control interface stores and the
// serial connection uses.
//
// The daemon creates one DriverContext at load, attaches its SerialLink (the serial connection
// and read loop) and hands KvrRs232_DispatchIoctl to the control-device server. Destroying the
// context releases every event reference; the daemon disconnects its devices first.
//
// Locks, outermost first (the engine's three locks keep their order inside):
//   DeviceControl::SettingsLock  per device, control requests only: serialises a setting's
//                                change with its registry write, so the registry always ends
//                                with the value that is in memory. Never taken by a read path.
//   Rs232Device::Lock            the device lock (also guards ComPort / BaudRate / DoubleClick)
//   ControlExtension::Lock       the driver-wide lock
//   PointerPortLink::Lock        the pointer-port lock
//   EventTable's lock            a leaf, taken inside any of the above to set an event
// No lock is held while a request waits (connect, disconnect, timed waits, registry I/O).

#include "driver/control/watch.h"
#include "engine/device.h"
#include "engine/interfaces.h"
#include "platform/ipc/control_codes.h"
#include "platform/ipc/event.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kvr::driver {

// ---- role -------------------------------------------------------------------------------------

// One daemon serves either serial controllers (\\.\KvrRs232D, eight devices) or, started with
// --usb, stands in for the USB touch driver (\\.\KvrUsbMgr, four units). The control codes and
// registry rules are the same; these are the differences.
struct DriverRole {
    std::uint8_t deviceCount;           // valid device indexes are 0 .. deviceCount-1
    std::string_view controlDeviceName; // control-device socket name
    std::string_view typeKeyName;       // container key under ...\Control\Kvr
    std::string_view markerPrefix;      // connect marker value name prefix
    bool servesDoubleClick;             // codes 29 / 30 (the per-unit DoubleClick switch)
};

inline constexpr DriverRole kSerialRole{8, "KvrRs232D", "RS232", "RS232_DEVICE", false};
inline constexpr DriverRole kUsbRole{4, "KvrUsbMgr", "USB", "USB_DEVICE", true};
static_assert(kSerialRole.deviceCount <= engine::kMaxDevices);
static_assert(kUsbRole.deviceCount <= engine::kMaxDevices);

inline constexpr std::uint32_t kDefaultBaudRate = 9600;
using ::kvr::control::kMaxComPort; // the highest COM number CHANGE_COM_PORT takes

// ---- the serial connection, as the control interface sees it ----------------------------------

// Implemented by the driver core (serial connection and read loop); tests use a fake. Every
// operation is called from a control request's thread with no lock of this context held, and
// may be called for the same device from several threads at once: the implementation
// serialises its own connect / disconnect / write per device.
class SerialLink {
public:
    virtual ~SerialLink() = default;
    // StartReadPacket: connects the device with the COM port number and baud rate stored in the
    // context (DriverContext::comPort / baudRate) unless it is already connected or has no COM
    // port. Long (port set-up, identification and display queries). A failure leaves the
    // device unconnected; the NT status is for logs only.
    virtual std::uint32_t connect(std::uint8_t device) = 0;
    // DisConnectCOMMPortObject: stops the read thread and releases the port (if any).
    virtual void disconnect(std::uint8_t device) = 0;
    // RS232_VendorCommand / SerialPortWriteBuff: sends the bytes unchanged, one writer per
    // device at a time. NT status of the write (callers ignore it).
    virtual std::uint32_t write(std::uint8_t device, std::span<const std::uint8_t> bytes) = 0;
    // True while the device holds its serial port (it has a serial reference), also after a
    // serial error stopped its read thread.
    virtual bool connected(std::uint8_t device) const = 0;
};

// ---- events -----------------------------------------------------------------------------------

// The events the driver sets, each the driver's own duplicate of a client's eventfd, known to
// the engine by an opaque EventRef. Each reference names a fixed slot, so an engine field that
// holds a reference stays valid when a client replaces the event behind it.
class EventTable final : public engine::EventSignaller {
public:
    static engine::EventRef downEvent(std::uint8_t device); // code 5
    static engine::EventRef upEvent(std::uint8_t device);   // code 6
    static engine::EventRef globalDownEvent();              // code 47
    static engine::EventRef globalUpEvent();                // code 48
    static engine::EventRef manualRightEvent();             // code 41
    // The restart announcement of a device (Rs232Device::ReinitEvent); the core installs an
    // event its read loop waits on.
    static engine::EventRef reinitEvent(std::uint8_t device);

    EventTable() = default;
    EventTable(const EventTable&) = delete;
    EventTable& operator=(const EventTable&) = delete;

    // Stores `event` for the slot of `ref`, releasing the event held there before. `owner` is
    // the control connection the registration came on (0: none, kept until replaced or
    // unload). False (and `event` released) for a reference that names no slot.
    bool install(engine::EventRef ref, ipc::Event event, std::uint64_t owner = 0);
    // True when the slot of `ref` holds an event.
    [[nodiscard]] bool holds(engine::EventRef ref) const;
    // Releases the event of the slot of `ref` when connection `owner` (not 0) registered it.
    // True when it did.
    bool releaseOwnedBy(engine::EventRef ref, std::uint64_t owner);
    // Releases every event (unload).
    void releaseAll();
    // Number of events held (diagnostics, tests).
    [[nodiscard]] std::size_t size() const;

    // engine::EventSignaller: sets the event of the slot; nothing for an empty slot or an
    // unknown reference. Never blocks.
    void setEvent(engine::EventRef ref) override;

private:
    static constexpr std::size_t kSlotCount = 3 * engine::kMaxDevices + 3;
    static std::optional<std::size_t> slotOf(engine::EventRef ref);

    mutable std::mutex lock_;
    std::array<std::optional<ipc::Event>, kSlotCount> slots_;
    std::array<std::uint64_t, kSlotCount> owners_{}; // connection of each registration, 0 none
};

// ---- pointer-port device ----------------------------------------------------------------------

// The desktop in pointer units: the area around the displays of the table the library last
// sent (right and bottom exclusive); the primary display alone until then.
struct PointerDesktop {
    std::int32_t left = 0, top = 0, right = engine::kPointerSpan + 1,
                 bottom = engine::kPointerSpan + 1;
    bool operator==(const PointerDesktop&) const = default;
};

// The desktop of the entries of `table` whose bits are set in `entries` (bit k: entry k). The
// library sends each extent one display pixel short of the display's far edge (it counts the
// last pixel's start); the entry at the origin spans 65535 units, so what it lacks of 65536
// is one pixel in pointer units, added to every far edge.
PointerDesktop DesktopOfDisplayTable(
    const std::array<engine::DisplayPartitionEntry, engine::kDisplayPartitionCount>& table,
    std::uint16_t entries);

// The pointer class driver's service callback: receives every pointer record (called with the
// pointer-port lock held, on a device's read path; must not block for long).
class PointerClassService {
public:
    virtual ~PointerClassService() = default;
    virtual void deliver(const engine::MouseInputData& record) = 0;
    // The desktop changed (pointer-port lock held); a class service whose device spans the
    // desktop maps pointer units onto it.
    virtual void setDesktop(const PointerDesktop&) {}
};

// Input of the internal connect request (IOCTL_INTERNAL_MOUSE_CONNECT): the class driver's
// device object (opaque, only stored) and its service callback.
struct PointerConnectData {
    void* ClassDeviceObject = nullptr;
    PointerClassService* ClassService = nullptr;
};

// The pointer-port device as the engine sees it. Accepts one connect for its lifetime.
class PointerPortDevice final : public engine::PointerPort {
public:
    PointerPortDevice(engine::PointerPortLink& link, WatchList& watchers)
        : link_(link), watchers_(watchers) {}
    bool connected() const override { return connected_.load(std::memory_order_acquire); }
    void deliver(const engine::MouseInputData& record) override;

    // Stores the callback (pointer-port lock held) and marks the device connected. False when
    // a callback is already stored or none is given.
    bool connect(const PointerConnectData& data);
    [[nodiscard]] void* classDeviceObject() const;
    // Hands the desktop to the class service (under the pointer-port lock).
    void setDesktop(const PointerDesktop& desktop);

private:
    engine::PointerPortLink& link_;
    WatchList& watchers_;
    void* classDevice_ = nullptr;            // pointer-port lock
    PointerClassService* service_ = nullptr; // pointer-port lock
    std::atomic<bool> connected_{false};
};

// ---- per-device control state -----------------------------------------------------------------

// What the driver keeps per device beside the engine record.
struct DeviceControl {
    std::mutex SettingsLock;                   // see the lock order at the top
    std::uint8_t ComPort = 0;                  // device lock; 0 = none set, else 1..16
    std::uint32_t BaudRate = kDefaultBaudRate; // device lock
    std::uint8_t DoubleClick = 0;              // device lock; USB role: codes 29 / 30
};

// ---- the context ------------------------------------------------------------------------------

class DriverContext {
public:
    explicit DriverContext(const DriverRole& role = kSerialRole);
    ~DriverContext();
    DriverContext(const DriverContext&) = delete;
    DriverContext& operator=(const DriverContext&) = delete;

    [[nodiscard]] const DriverRole& role() const { return role_; }
    [[nodiscard]] std::uint8_t deviceCount() const { return role_.deviceCount; }
    // True for 0 .. deviceCount()-1.
    [[nodiscard]] bool validDevice(std::uint32_t index) const { return index < role_.deviceCount; }

    engine::ControlExtension& extension() { return ext_; }
    const engine::ControlExtension& extension() const { return ext_; }
    // The engine record and the control state of a valid device index.
    engine::Rs232Device& device(std::uint8_t index) { return ext_.Devices[index]; }
    DeviceControl& control(std::uint8_t index) { return controls_[index]; }

    EventTable& events() { return events_; }
    PointerPortDevice& pointerPort() { return pointer_; }
    // Live watchers of the raw reports and pointer records (kvrctl watch).
    WatchList& watchers() { return watchers_; }

    // The serial connection; set once by the daemon before it serves requests. Requests that
    // need it before then behave as with an unconnected device.
    void attachSerialLink(SerialLink* link) { link_.store(link, std::memory_order_release); }
    [[nodiscard]] SerialLink* serialLink() const { return link_.load(std::memory_order_acquire); }

    // The stored COM port number (0 = none) and baud rate of a valid device, read under its
    // device lock: what the next connect uses.
    [[nodiscard]] std::uint8_t comPort(std::uint8_t index);
    [[nodiscard]] std::uint32_t baudRate(std::uint8_t index);
    // Stores both (code 11; tests; the USB role's hot-plug sets the unit's port here).
    void setComSettings(std::uint8_t index, std::uint8_t comPort, std::uint32_t baudRate);
    [[nodiscard]] std::uint8_t doubleClick(std::uint8_t index);

    // Registry paths of this role, kernel form:
    //   \REGISTRY\Machine\SYSTEM\CurrentControlSet\Control\Kvr          productKeyPath()
    //   ...\Kvr\RS232 (or \USB)                                         typeKeyPath()
    //   ...\Kvr\RS232\Device<n>                                         deviceKeyPath(n)
    // and the connect marker name RS232_DEVICE<n> (or USB_DEVICE<n>).
    [[nodiscard]] std::string productKeyPath() const;
    [[nodiscard]] std::string typeKeyPath() const;
    [[nodiscard]] std::string deviceKeyPath(std::uint8_t index) const;
    [[nodiscard]] std::string markerName(std::uint8_t index) const;

    // A DisplayPartition entry was set (driver-wide lock held): entry 0 from the control
    // interface starts a new display table (the library sends each table from its first
    // entry on, so entries kept from a longer table before drop out); the desktop of the
    // entries since then goes to the pointer port.
    void displayEntrySet(std::uint8_t index, bool startsTable);

private:
    DriverRole role_;
    engine::ControlExtension ext_;
    std::array<DeviceControl, engine::kMaxDevices> controls_;
    EventTable events_;
    WatchList watchers_;
    PointerPortDevice pointer_;
    std::atomic<SerialLink*> link_{nullptr};
    std::uint16_t tableEntries_ = 0; // driver-wide lock: entries of the current display table
};

} // namespace kvr::driver
