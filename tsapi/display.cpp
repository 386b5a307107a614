// Display enumeration and multi-monitor mapping exports.
//
// The library keeps a display table per process: the monitors in the order the system lists
// them, then the extra parts of a partitioned display. Every GetExistDisplays rebuilds it and
// hands it to each driver that serves a listed controller, one request per entry, in the
// drivers' pointer space (0..65535 spans the display at the desktop origin):
//
//   0x220090 request (17 bytes)
//     0        1          5          9          13         17
//     +--------+----------+----------+----------+----------+
//     | entry  | origin X | origin Y | extent X | extent Y |   32-bit little-endian
//     +--------+----------+----------+----------+----------+
//
// A controller reports into the entry its parameter word 9E names: the high byte holds the
// display index in bits 0-1 and the arrangement in bits 2-3. Touch-to-assign arms the drivers'
// search for the first controller touched, then writes the chosen display into that
// controller's word 9E and has the driver read it back.

#include "platform/display/display.h"

#include "platform/registry/registry.h"
#include "protocol/replies.h"
#include "tsapi/internal.h"
#include "tsapi/tsapi.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace kvr::tsapi {
namespace {

constexpr std::size_t kDisplayEntries = 9;
constexpr std::size_t kDisplayNameBytes = 20; // name and terminator, zero-padded

constexpr std::int64_t kPointerSpan = 65535;
constexpr std::uint32_t kFullExtent = 65535;

// Partition settings in the application key and the ranges that take effect.
constexpr const char* kPartitionDisplayValue = "PartitionDisplay";
constexpr const char* kPartitionsValue = "Partitions";
constexpr const char* kPartitionTypeValue = "PartitionType";
constexpr const char* kDisplayChangeValue = "DisplayChange";
constexpr std::uint32_t kMaxPartitionedDisplay = 4;
constexpr std::uint32_t kMaxParts = 4;
enum PartitionType : std::uint32_t { kColumns = 1, kRows = 2, kQuarters = 3 };

constexpr std::uint8_t kMaxAssignDisplay = 7;
constexpr std::uint8_t kSearchUnitsSerial = 8; // QueryDisplayBeTouched accepts units below 8
constexpr std::uint8_t kSearchUnitsLayout = 4; // QueryMultiMonitorSetOK below 4
constexpr std::uint32_t kSearchReplyBytes = 4; // found flag, unit, display index, arrangement

constexpr std::uint8_t kIndexMask = 0x03; // display index in the 9E high byte
constexpr unsigned kArrangementShift = 2; // arrangement in bits 2-3
constexpr int kAssignAttempts = 4;
constexpr std::size_t kAssignReplyBuffer = 128;
constexpr std::uint32_t kDisplayNumberReadBytes = 10;
constexpr std::chrono::milliseconds kLayoutPreambleWait{50};

struct Rect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct DisplayTable {
    std::uint8_t count = 0;
    std::array<std::array<char, kDisplayNameBytes>, kDisplayEntries> names{};
    std::array<Rect, kDisplayEntries> rects{};
};

DisplayTable& table() noexcept {
    static DisplayTable t;
    return t;
}

// Stores a name in a fixed field; a name too long for the field is cut so the terminator
// always stays inside it.
void setName(std::array<char, kDisplayNameBytes>& field, std::string_view name) {
    field.fill(0);
    std::memcpy(field.data(), name.data(), std::min(name.size(), kDisplayNameBytes - 1));
}

// The system name without its '\' and '.' characters ("\\.\DISPLAY1" -> "DISPLAY1").
std::string plainName(std::string_view systemName) {
    std::string out;
    for (char c : systemName)
        if (c != '\\' && c != '.') out.push_back(c);
    return out;
}

std::int32_t part(std::int32_t from, std::int32_t to, std::int64_t numerator, std::int64_t parts) {
    return static_cast<std::int32_t>(from +
                                     (static_cast<std::int64_t>(to) - from) * numerator / parts);
}

// Divides display `d` (1-based) into `n` parts when the stored settings ask for it.
void applyPartition(DisplayTable& t) {
    std::uint32_t d = 0, n = 0, type = 0;
    if (reg::queryDword(kAppKey, kPartitionDisplayValue, d) != reg::Status::Ok ||
        reg::queryDword(kAppKey, kPartitionsValue, n) != reg::Status::Ok ||
        reg::queryDword(kAppKey, kPartitionTypeValue, type) != reg::Status::Ok)
        return;
    if (d < 1 || d > kMaxPartitionedDisplay || n < 1 || n > kMaxParts || type < kColumns ||
        type > kQuarters || d > t.count || t.count + n > kDisplayEntries)
        return;
    const Rect whole = t.rects[d - 1];
    const auto [L, T0, R, B] = whole;
    const std::int32_t midX = static_cast<std::int32_t>((static_cast<std::int64_t>(L) + R) / 2);
    const std::int32_t midY = static_cast<std::int32_t>((static_cast<std::int64_t>(T0) + B) / 2);
    for (std::uint32_t j = 2; j <= n; ++j) {
        Rect r = whole;
        switch (type) {
        case kColumns:
            r.left = part(L, R, j - 1, n);
            r.right = part(L, R, j, n);
            break;
        case kRows:
            r.top = part(T0, B, j - 1, n);
            r.bottom = part(T0, B, j, n);
            break;
        default: // quarters: 2 top-right, 3 bottom-left, 4 bottom-right
            r.left = (j == 3) ? L : midX;
            r.right = (j == 3) ? midX : R;
            r.top = (j == 2) ? T0 : midY;
            r.bottom = (j == 2) ? midY : B;
            break;
        }
        const std::size_t entry = t.count + j - 2; // 0-based slot of entry count + j - 1
        t.rects[entry] = r;
        char name[kDisplayNameBytes];
        std::snprintf(name, sizeof name, "Display%u-%u", d, j);
        setName(t.names[entry], name);
    }
    if (n >= 2) {
        Rect& first = t.rects[d - 1];
        if (type == kColumns)
            first.right = part(L, R, 1, n);
        else if (type == kRows)
            first.bottom = part(T0, B, 1, n);
        else {
            first.right = part(L, R, 1, 2);
            first.bottom = part(T0, B, 1, 2);
        }
        char name[kDisplayNameBytes];
        std::snprintf(name, sizeof name, "Display%u-1", d);
        setName(t.names[d - 1], name);
    }
    t.count = static_cast<std::uint8_t>(t.count + n - 1);
}

// Which driver kinds serve a listed controller. Judged by the names, not the count: the count
// outlives an enumeration that found no controller key.
struct ListedKinds {
    bool serial = false;
    bool usb = false;
    [[nodiscard]] bool any() const { return serial || usb; }
};

ListedKinds listedKinds() {
    const ControllerTable& controllers = controllerTable();
    ListedKinds kinds;
    for (const auto& field : controllers.names) {
        const std::string_view name(field.data(), strnlen(field.data(), field.size()));
        if (name.starts_with(kSerialPrefix)) kinds.serial = true;
        if (name.starts_with(kUsbPrefix)) kinds.usb = true;
    }
    return kinds;
}

// The control devices of the driver kinds that serve a listed controller, serial first, each
// once. A driver that cannot be reached (a marker left behind by a driver that is gone) is
// left out.
std::vector<ipc::ControlDevice> openListedDevices() {
    const ListedKinds kinds = listedKinds();
    std::vector<ipc::ControlDevice> devices;
    if (kinds.serial)
        if (auto dev = openControlDevice(DriverKind::Serial)) devices.push_back(std::move(*dev));
    if (kinds.usb)
        if (auto dev = openControlDevice(DriverKind::Usb)) devices.push_back(std::move(*dev));
    return devices;
}

// A driver-wide request with a one-byte reply that must be 1.
bool acknowledged(ipc::ControlDevice& device, std::uint32_t code,
                  const std::vector<std::uint8_t>& request) {
    std::uint8_t reply = 0;
    std::uint32_t returned = 0;
    deviceIoControl(device, code, request.data(), static_cast<std::uint32_t>(request.size()),
                    &reply, 1, &returned);
    return returned == 1 && reply == 1;
}

std::vector<std::uint8_t> areaRequest(std::uint8_t entry, std::uint32_t originX,
                                      std::uint32_t originY, std::uint32_t extentX,
                                      std::uint32_t extentY) {
    std::vector<std::uint8_t> request{entry};
    appendDword(request, originX);
    appendDword(request, originY);
    appendDword(request, extentX);
    appendDword(request, extentY);
    return request;
}

// Desktop pixels to pointer units against the span `size`; 64-bit so that monitors far from
// the origin do not overflow.
std::uint32_t toPointer(std::int64_t px, std::int32_t size) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(px * kPointerSpan / size));
}

// ---- exchanges with a unit on a device opened here ---------------------------------------------
// The touch-to-assign exports reach the touched controller through the control device they
// opened themselves (the program need not have opened the controller), so they carry their
// own small versions of the raw channel.

class UnitChannel {
public:
    UnitChannel(ipc::ControlDevice& device, std::uint8_t unit) : device_(device), unit_(unit) {}

    bool request(std::uint32_t code, std::span<const std::uint8_t> payload, void* out,
                 std::uint32_t outLength, std::uint32_t* returned) {
        std::vector<std::uint8_t> in{unit_};
        in.insert(in.end(), payload.begin(), payload.end());
        return deviceIoControl(device_, code, in.data(), static_cast<std::uint32_t>(in.size()), out,
                               outLength, returned);
    }
    void write(std::span<const std::uint8_t> frame) {
        request(IOCTL_RS232_WRITE_BUFFER, frame, nullptr, 0, nullptr);
    }
    // Up to `attempts` of: flush, write, sleep 50 ms, pending length, read into a cleared
    // buffer; the reply as read when it passes `test`.
    std::optional<std::vector<std::uint8_t>> exchange(const std::vector<std::uint8_t>& frame,
                                                      ReplyTest test) {
        for (int attempt = 0; attempt < kAssignAttempts; ++attempt) {
            request(IOCTL_RS232_FLUSH_READ_BUFFER, {}, nullptr, 0, nullptr);
            write(frame);
            sleepFor(kReplyWait);
            std::uint8_t lengthBytes[4] = {};
            std::uint32_t returned = 0;
            request(IOCTL_RS232_READ_LENGTH, {}, lengthBytes, 4, &returned);
            const std::uint32_t pending = returned == 4 ? dwordAt(lengthBytes, 0) : 0;
            std::vector<std::uint8_t> buffer(kAssignReplyBuffer, 0);
            const auto ask =
                static_cast<std::uint32_t>(std::min<std::size_t>(pending, buffer.size()));
            std::uint32_t got = 0;
            if (ask > 0 && !request(IOCTL_RS232_READ_BUFFER, {}, buffer.data(), ask, &got)) got = 0;
            buffer.resize(std::min(got, ask));
            if (replyPasses(test, buffer)) return buffer;
        }
        return std::nullopt;
    }

private:
    ipc::ControlDevice& device_;
    std::uint8_t unit_;
};

enum class AssignKind { Display, Layout };

// The second half of touch-to-assign: which controller was touched, and its new word 9E.
bool assignTouchedController(AssignKind kind) {
    for (auto& device : openListedDevices()) {
        std::uint8_t found[kSearchReplyBytes] = {};
        std::uint32_t returned = 0;
        deviceIoControl(device, IOCTL_RS232_QUERY_TOUCH_SEARCH, nullptr, 0, found,
                        kSearchReplyBytes, &returned);
        const std::uint8_t unitLimit =
            kind == AssignKind::Display ? kSearchUnitsSerial : kSearchUnitsLayout;
        if (returned != kSearchReplyBytes || found[0] != 1 || found[1] >= unitLimit) continue;
        const std::uint8_t displayIndex = found[2];
        const std::uint8_t arrangement = found[3];
        UnitChannel unit(device, found[1]);
        if (kind == AssignKind::Layout) {
            unit.write(commandFrame("Z"));
            sleepFor(kPreambleWait);
        }
        const auto current = unit.exchange(commandFrame("GP9E"), ReplyTest::Value);
        if (!current) continue;
        // The low byte (the sensor wiring code) goes back exactly as the controller sent it.
        const std::size_t n = current->size();
        const char low[3] = {static_cast<char>((*current)[n - 3]),
                             static_cast<char>((*current)[n - 2]), 0};
        const unsigned high =
            kind == AssignKind::Display
                ? displayIndex
                : static_cast<unsigned>((arrangement << kArrangementShift) | displayIndex);
        char text[16];
        std::snprintf(text, sizeof text, "SP9E%02X%s", high & 0xFFu, low);
        if (!unit.exchange(commandFrame(text), ReplyTest::Acknowledgement)) continue;
        // The driver reads the new assignment from the controller now, not at its next connect.
        unit.request(IOCTL_RS232_READ_DISPLAY_NUMBER, {}, nullptr, 0, nullptr);
        return true;
    }
    return false;
}

// Display entry j (1-based) as one cell of a multi-monitor arrangement, in pointer units:
// 1 side by side, 2 stacked, 3 two by two (odd entries on the left, entries from 3 on in the
// lower row). Each cell is one full pointer span, so a touch anywhere on the controller stays
// within its own display.
struct ArrangementCell {
    std::uint32_t originX = 0;
    std::uint32_t originY = 0;
};
ArrangementCell arrangementCell(std::uint8_t arrangement, std::uint8_t j) {
    const auto step = static_cast<std::uint32_t>(j - 1) * kFullExtent;
    switch (arrangement) {
    case 1:
        return {step, 0};
    case 2:
        return {0, step};
    case 3:
        return {(j % 2 == 1) ? 0 : kFullExtent, j >= 3 ? kFullExtent : 0};
    default:
        return {};
    }
}

// Arms every listed driver's search for the first controller touched with `value`.
// No controller listed: nothing to arm, and nothing fails.
bool armTouchSearch(std::uint8_t value, bool withLayout, std::uint8_t arrangement) {
    if (!listedKinds().any()) return true;
    auto devices = openListedDevices();
    if (devices.empty()) return false;
    const DisplayTable& t = table();
    for (auto& device : devices) {
        if (withLayout && arrangement >= 1 && arrangement <= 3) {
            // Every entry laid out as one cell of the arrangement, as the driver lays out a
            // controller's entry at connect; GetExistDisplays sends the authoritative table
            // again at its next call.
            for (std::uint8_t j = 1; j <= t.count; ++j) {
                const ArrangementCell cell = arrangementCell(arrangement, j);
                const auto request =
                    areaRequest(j, cell.originX, cell.originY, kFullExtent, kFullExtent);
                acknowledged(device, IOCTL_RS232_SET_DISPLAY_PARTITION, request);
            }
        }
        if (!acknowledged(device, IOCTL_RS232_ARM_TOUCH_SEARCH, {value})) return false;
    }
    return true;
}

std::uint8_t appByte(const char* value) {
    std::uint32_t v = 0;
    if (reg::queryDword(kAppKey, value, v) != reg::Status::Ok) return 0;
    return static_cast<std::uint8_t>(v);
}

// Word 9E's high byte as GetDisplayNumber reads it: one attempt, exactly the 6-byte reply.
std::optional<std::uint8_t> readDisplayByte(const Controller& controller) {
    sendPreamble(controller);
    flushReadBuffer(controller);
    if (!writeBuffer(controller, commandFrame("GP9E"))) return std::nullopt;
    sleepFor(kReplyWait);
    std::array<std::uint8_t, kDisplayNumberReadBytes> reply{};
    readBuffer(controller, reply);
    if (reply[0] != 0x01 || reply[5] != 0x0D) return std::nullopt;
    return protocol::libraryHexByte(reply[1], reply[2]);
}

} // namespace
} // namespace kvr::tsapi

using namespace kvr::tsapi;

extern "C" {

uint8_t GetExistDisplays(void) {
    return guarded<uint8_t>(0, []() -> uint8_t {
        DisplayTable& t = table();
        t.count = 0;
        GetExistControllers();
        const auto list = kvr::display::enumerate();
        if (list.displays.empty()) return 0;
        for (const auto& d : list.displays) {
            if (t.count == kDisplayEntries) break;
            t.rects[t.count] = {d.leftPx, d.topPx, d.rightPx, d.bottomPx};
            setName(t.names[t.count], plainName(d.name));
            ++t.count;
        }
        // The display at the desktop origin spans the pointer space. A layout with no monitor
        // there (possible on X) is measured against the first monitor instead of dividing by 0.
        std::int32_t width = t.rects[0].right - t.rects[0].left;
        std::int32_t height = t.rects[0].bottom - t.rects[0].top;
        for (std::size_t i = 0; i < t.count; ++i) {
            if (t.rects[i].left == 0 && t.rects[i].top == 0) {
                width = t.rects[i].right;
                height = t.rects[i].bottom;
                break;
            }
        }
        if (width <= 0 || height <= 0) return 0;

        applyPartition(t);

        for (auto& device : openListedDevices()) {
            for (std::uint8_t e = 1; e <= t.count; ++e) {
                const Rect& r = t.rects[e - 1];
                const auto request =
                    areaRequest(e, toPointer(r.left, width), toPointer(r.top, height),
                                toPointer(static_cast<std::int64_t>(r.right) - r.left - 1, width),
                                toPointer(static_cast<std::int64_t>(r.bottom) - r.top - 1, height));
                if (!acknowledged(device, IOCTL_RS232_SET_DISPLAY_PARTITION, request)) return 0;
            }
        }
        return t.count;
    });
}

int32_t GetDisplayName(uint8_t number, char* buffer, uint8_t length) {
    return guarded<int32_t>(0, [&]() -> int32_t {
        const DisplayTable& t = table();
        // Display numbers are 1-based: 0 names no entry.
        if (number == 0 || number > t.count || number > kDisplayEntries || !buffer) return 0;
        const auto& field = t.names[number - 1];
        const std::size_t size = strnlen(field.data(), field.size());
        if (size >= length) return 0;
        std::memcpy(buffer, field.data(), size);
        buffer[size] = 0;
        return 1;
    });
}

int32_t GetDisplayArea(const char* name, int32_t* rect) {
    return guarded<int32_t>(0, [&]() -> int32_t {
        if (!name || !rect) return 0;
        const DisplayTable& t = table();
        for (std::size_t i = 0; i < t.count && i < kDisplayEntries; ++i) {
            if (std::strncmp(name, t.names[i].data(), kDisplayNameBytes) != 0) continue;
            rect[0] = t.rects[i].left;
            rect[1] = t.rects[i].top;
            rect[2] = t.rects[i].right;
            rect[3] = t.rects[i].bottom;
            return 1;
        }
        return 0;
    });
}

int32_t PartitionDisplay(uint8_t number, uint8_t type, uint8_t parts) {
    return guarded<int32_t>(0, [&]() -> int32_t {
        if (type > kQuarters || parts > kMaxParts) return 0;
        if (number > GetExistDisplays()) return 0;
        if (kvr::reg::keyExists(kAppKey) != kvr::reg::Status::Ok) return 0;
        // Display 0, type 0 or one part are stored as given and switch partitioning off.
        if (kvr::reg::setDword(kAppKey, kPartitionDisplayValue, number) != kvr::reg::Status::Ok ||
            kvr::reg::setDword(kAppKey, kPartitionsValue, parts) != kvr::reg::Status::Ok ||
            kvr::reg::setDword(kAppKey, kPartitionTypeValue, type) != kvr::reg::Status::Ok)
            return 0;
        GetExistDisplays(); // the table and the drivers follow at once
        return 1;
    });
}

uint8_t GetPartitioned_Display(void) {
    return guarded<uint8_t>(0, [] { return appByte(kPartitionDisplayValue); });
}

uint8_t GetPartition_Mode(void) {
    return guarded<uint8_t>(0, [] { return appByte(kPartitionTypeValue); });
}

uint8_t GetPartition_Parts(void) {
    return guarded<uint8_t>(0, []() -> uint8_t {
        std::uint32_t v = 0;
        if (kvr::reg::queryDword(kAppKey, kPartitionsValue, v) != kvr::reg::Status::Ok) return 0;
        return v <= kMaxParts ? static_cast<uint8_t>(v) : 0;
    });
}

int32_t AskToSetDisplayNumber(uint8_t displayIndex) {
    return guarded<int32_t>(0, [&]() -> int32_t {
        if (displayIndex > kMaxAssignDisplay) return 0;
        // Arrangement 0: only the display index changes.
        return armTouchSearch(static_cast<std::uint8_t>(displayIndex & kIndexMask), false, 0) ? 1
                                                                                              : 0;
    });
}

int32_t QueryDisplayBeTouched(void) {
    return guarded<int32_t>(0, [] { return assignTouchedController(AssignKind::Display) ? 1 : 0; });
}

int32_t AskToSetMultiMonitor(uint8_t arrangement, uint8_t displayIndex) {
    return guarded<int32_t>(0, [&]() -> int32_t {
        GetExistDisplays();
        const auto value =
            static_cast<std::uint8_t>((arrangement << kArrangementShift) | displayIndex);
        return armTouchSearch(value, true, arrangement) ? 1 : 0;
    });
}

int32_t QueryMultiMonitorSetOK(void) {
    return guarded<int32_t>(0, [] { return assignTouchedController(AssignKind::Layout) ? 1 : 0; });
}

uint8_t GetDisplayNumber(int32_t handle) {
    return guarded<uint8_t>(0, [&]() -> uint8_t {
        const auto controller = resolveHandle(handle);
        if (!controller) return 0;
        const auto high = readDisplayByte(*controller);
        return high ? static_cast<uint8_t>(*high & kIndexMask) : 0;
    });
}

uint8_t GetMultiMonitorNumber(int32_t handle) __attribute__((alias("GetDisplayNumber")));

uint8_t GetMultiMonitorLayout(int32_t handle) {
    return guarded<uint8_t>(0, [&]() -> uint8_t {
        const auto controller = resolveHandle(handle);
        if (!controller) return 0;
        writeBuffer(*controller, commandFrame("Z"));
        sleepFor(kLayoutPreambleWait);
        const auto high = readDisplayByte(*controller);
        return high ? static_cast<uint8_t>((*high >> kArrangementShift) & kIndexMask) : 0;
    });
}

int32_t SetDisplayChange(int32_t flag) {
    return guarded<int32_t>(0, [&]() -> int32_t {
        if (kvr::reg::createKey(kAppKey) != kvr::reg::Status::Ok) return 0;
        const std::uint32_t value = flag == 1 ? 1 : 0;
        return kvr::reg::setDword(kAppKey, kDisplayChangeValue, value) == kvr::reg::Status::Ok ? 1
                                                                                               : 0;
    });
}

int32_t GetDisplayChange(void) {
    return guarded<int32_t>(0, []() -> int32_t {
        std::uint32_t v = 0;
        return kvr::reg::queryDword(kAppKey, kDisplayChangeValue, v) == kvr::reg::Status::Ok &&
                       v == 1
                   ? 1
                   : 0;
    });
}

} // extern "C"
