// Controller discovery and access: the controller table from the registry markers, opening
// and closing the control devices, the raw channel, pen and report state, the touch-up event,
// the COM port of serial controllers and the driver's version and port.

#include "platform/desktop/version_note.h"
#include "platform/registry/registry.h"
#include "tsapi/internal.h"
#include "tsapi/tsapi.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <string>
#include <system_error>

namespace kvr::tsapi {
namespace {

namespace fs = std::filesystem;

// ---- open bookkeeping ------------------------------------------------------------------------

// Opens not yet closed, per handle value. A close is taken only from a handle that has an open
// outstanding, so closing one controller too often can never close the device under another
// controller's open. Opens of names whose number lies outside the handle ranges (which no
// close accepts) are kept in `unclosable`; they hold the device until the process ends.
struct OpenBook {
    std::array<std::uint32_t, kSerialUnits> serial{};
    std::array<std::uint32_t, kUsbUnits> usb{};
    std::array<std::uint32_t, 2> unclosable{}; // per kind
};

OpenBook& openBook() {
    static OpenBook book;
    return book;
}

std::uint32_t* openSlot(std::int32_t handle, DriverKind kind) {
    OpenBook& book = openBook();
    // A serial name can number a handle of the USB range ("RS232_DEVICE100" -> 200); such an
    // open is not the USB controller's and no close takes it.
    if (const auto c = resolveHandle(handle); c && c->kind == kind) {
        return c->kind == DriverKind::Serial ? &book.serial[c->unit] : &book.usb[c->unit];
    }
    return &book.unclosable[kind == DriverKind::Serial ? 0 : 1];
}

void forgetOpens(DriverKind kind) {
    OpenBook& book = openBook();
    if (kind == DriverKind::Serial)
        book.serial.fill(0);
    else
        book.usb.fill(0);
    book.unclosable[kind == DriverKind::Serial ? 0 : 1] = 0;
}

// ---- names -----------------------------------------------------------------------------------

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The stored name of a table field, up to its first zero.
std::string_view fieldName(const std::array<char, kNameFieldBytes>& field) {
    const auto end = std::find(field.begin(), field.end(), '\0');
    return {field.data(), static_cast<std::size_t>(end - field.begin())};
}

// The number after the prefix, read like atol: its leading decimal digits, 0 when none.
std::int64_t unitNumber(std::string_view rest) {
    std::int64_t n = 0;
    for (const char c : rest) {
        if (c < '0' || c > '9') break;
        n = n * 10 + (c - '0');
        if (n > 1'000'000'000) break; // a name field holds at most 9 digits anyway
    }
    return n;
}

// ---- driver executable -----------------------------------------------------------------------

// The installed driver executable. The USB touch driver is served by the same daemon in its
// USB role, so both kinds carry the daemon's version. Looked for beside the library first
// (an installed tree or the build tree: <prefix>/lib/libtsapi.so and <prefix>/bin/KvrRs232),
// then in the install folder, then beside the calling program.
constexpr const char* kDriverExecutable = "KvrRs232";

fs::path libraryFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&GetDriverVersion), &info) == 0 || !info.dli_fname)
        return {};
    std::error_code ec;
    const fs::path lib = fs::canonical(info.dli_fname, ec);
    return ec ? fs::path{} : lib.parent_path();
}

std::optional<fs::path> findDriverExecutable() {
    std::vector<fs::path> folders;
    if (const fs::path lib = libraryFolder(); !lib.empty()) {
        folders.push_back(lib.parent_path() / "bin");
        folders.push_back(lib.parent_path() / "sbin");
        folders.push_back(lib);
    }
#ifdef KVR_INSTALL_BINDIR
    folders.emplace_back(KVR_INSTALL_BINDIR);
#endif
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) folders.push_back(self.parent_path());
    for (const auto& folder : folders) {
        const fs::path candidate = folder / kDriverExecutable;
        if (fs::is_regular_file(candidate, ec)) return candidate;
    }
    return std::nullopt;
}

// "a.b.c.d" of the note, formatted again as "%d.%d.%d.%d"; nothing when it is not four numbers.
std::optional<std::string> driverVersionText() {
    const auto path = findDriverExecutable();
    if (!path) return std::nullopt;
    const auto note = desktop::readFileVersion(*path);
    if (!note) return std::nullopt;
    unsigned part[4] = {};
    char tail = 0;
    if (std::sscanf(note->c_str(), "%u.%u.%u.%u%c", &part[0], &part[1], &part[2], &part[3],
                    &tail) != 4)
        return std::nullopt;
    for (const unsigned p : part)
        if (p > 0xFFFF) return std::nullopt;
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(part[0]),
                  static_cast<int>(part[1]), static_cast<int>(part[2]), static_cast<int>(part[3]));
    return std::string(text);
}

std::optional<Controller> serialController(std::int32_t handle) {
    const auto c = resolveHandle(handle);
    if (!c || c->kind != DriverKind::Serial) return std::nullopt;
    return c;
}

inline constexpr int kCloseAttempts = 3;

} // namespace
} // namespace kvr::tsapi

using namespace kvr::tsapi;

extern "C" {

// ---- discovery, names, open and close --------------------------------------------------------

uint8_t GetExistControllers(void) {
    return guarded<uint8_t>(0, [] {
        ControllerTable& table = controllerTable();
        for (auto& field : table.names)
            field.fill('\0');
        std::vector<kvr::reg::Value> values;
        if (kvr::reg::enumValues(kControllerKey, values) != kvr::reg::Status::Ok) return 0;
        std::size_t stored = 0;
        std::uint32_t matches = 0;
        for (const auto& value : values) {
            // The name and its terminator must fit the 20-byte field; a longer one is skipped.
            if (value.name.size() >= kNameFieldBytes) continue;
            if (!startsWith(value.name, kUsbPrefix) && !startsWith(value.name, kSerialPrefix))
                continue;
            if (stored < kTableEntries) {
                std::memcpy(table.names[stored].data(), value.name.data(), value.name.size());
                ++stored;
            }
            ++matches;
        }
        table.count = static_cast<std::uint8_t>(std::min<std::uint32_t>(matches, kTableEntries));
        return static_cast<int>(table.count);
    });
}

int32_t GetControllerName(uint8_t index, char* buffer, uint8_t length) {
    return guarded<int32_t>(0, [&] {
        // Index 0 or above the table names no field (never read outside the table).
        if (index == 0 || index > kTableEntries || !buffer) return 0;
        const std::string_view name = fieldName(controllerTable().names[index - 1]);
        if (name.size() >= length) return 0;
        std::memcpy(buffer, name.data(), name.size());
        buffer[name.size()] = '\0';
        return 1;
    });
}

int32_t OpenController(const char* name) {
    return guarded<int32_t>(kInvalidHandle, [&]() -> int32_t {
        if (!name) return kInvalidHandle;
        const ControllerTable& table = controllerTable();
        const std::string_view wanted(name);
        const std::size_t count = std::min<std::size_t>(table.count, kTableEntries);
        for (std::size_t i = 0; i < count; ++i) {
            const std::string_view stored = fieldName(table.names[i]);
            if (stored != wanted) continue;
            DriverKind kind;
            std::int64_t number;
            if (startsWith(stored, kSerialPrefix)) {
                kind = DriverKind::Serial;
                number = kSerialHandleBase + unitNumber(stored.substr(kSerialPrefix.size()));
            } else if (startsWith(stored, kUsbPrefix)) {
                kind = DriverKind::Usb;
                number = kUsbHandleBase + unitNumber(stored.substr(kUsbPrefix.size()));
            } else {
                return kInvalidHandle; // a cleared field: no controller
            }
            const auto handle = static_cast<std::int32_t>(number);
            DeviceState& state = deviceState(kind);
            if (!state.device || !state.device->isOpen()) {
                state.device = openControlDevice(kind);
                if (!state.device) {
                    state.openCount = 0;
                    forgetOpens(kind);
                    return kInvalidHandle;
                }
                state.openCount = 1;
                forgetOpens(kind);
            } else {
                ++state.openCount;
            }
            ++*openSlot(handle, kind);
            return handle;
        }
        return kInvalidHandle;
    });
}

int32_t CloseController(int32_t handle) {
    return guarded<int32_t>(0, [&] {
        const auto c = resolveHandle(handle);
        if (!c) return 0;
        std::uint32_t* opens = openSlot(handle, c->kind);
        // A close without an open of this controller outstanding changes nothing.
        if (*opens == 0) return 1;
        --*opens;
        DeviceState& state = deviceState(c->kind);
        if (state.openCount > 0) --state.openCount;
        if (state.openCount == 0 && state.device) state.device.reset();
        return 1;
    });
}

// ---- raw channel and state -------------------------------------------------------------------

int32_t WriteBuffer(int32_t handle, const uint8_t* bytes, uint32_t length) {
    return guarded<int32_t>(0, [&] {
        const auto c = resolveHandle(handle);
        if (!c || length == 0 || !bytes) return false;
        return writeBuffer(*c, std::span(bytes, length));
    });
}

uint32_t ReadBuffer(int32_t handle, uint8_t* buffer, uint32_t length) {
    return guarded<uint32_t>(0, [&]() -> uint32_t {
        const auto c = resolveHandle(handle);
        if (!c || !buffer || length == 0) return 0;
        return readBuffer(*c, std::span(buffer, length));
    });
}

uint32_t ReadLength(int32_t handle) {
    return guarded<uint32_t>(0, [&]() -> uint32_t {
        const auto c = resolveHandle(handle);
        return c ? readLength(*c) : 0;
    });
}

int32_t FlushReadBuffer(int32_t handle) {
    return guarded<int32_t>(0, [&] {
        const auto c = resolveHandle(handle);
        return c && flushReadBuffer(*c);
    });
}

int32_t IsPenUp(int32_t handle) {
    return guarded<int32_t>(0, [&] {
        const auto c = resolveHandle(handle);
        return c && acknowledgedRequest(*c, IOCTL_RS232_IS_PEN_UP);
    });
}

int32_t DisableTouchReport(int32_t handle, uint8_t mode) {
    return guarded<int32_t>(0, [&] {
        const auto c = resolveHandle(handle);
        const std::uint8_t request[] = {mode};
        return c && acknowledgedRequest(*c, IOCTL_RS232_DISABLE_REPORT, request);
    });
}

int32_t GetReportStatus(int32_t handle) {
    return guarded<int32_t>(0, [&] {
        const auto c = resolveHandle(handle);
        return c && acknowledgedRequest(*c, IOCTL_RS232_GET_REPORT_STATUS);
    });
}

// ---- COM port of a serial controller ---------------------------------------------------------

uint8_t CurrentCOMPort(int32_t handle) {
    return guarded<uint8_t>(0, [&]() -> int {
        const auto c = serialController(handle);
        if (!c) return 0;
        const auto reply = replyRequest(*c, IOCTL_RS232_CURRENT_COM_PORT, {}, 1);
        return reply.size() == 1 ? reply[0] : 0;
    });
}

int32_t ChangeCOMPort(int32_t handle, uint32_t comPort, uint32_t baudRate) {
    return guarded<int32_t>(0, [&] {
        const auto c = serialController(handle);
        if (!c) return false;
        std::vector<std::uint8_t> request;
        appendDword(request, comPort);
        appendDword(request, baudRate);
        return acknowledgedRequest(*c, IOCTL_RS232_CHANGE_COM_PORT, request);
    });
}

int32_t CloseCOMPort(int32_t handle) {
    return guarded<int32_t>(0, [&] {
        const auto c = serialController(handle);
        if (!c) return 0;
        // Silence the controller first ("MI"), so that no touch is half-sent when the port
        // goes; only a controller that acknowledged is let go.
        const auto silence = commandFrame("MI");
        for (int attempt = 0; attempt < kCloseAttempts; ++attempt) {
            flushReadBuffer(*c);
            writeBuffer(*c, silence);
            sleepFor(kReplyWait);
            std::array<std::uint8_t, 3> reply{};
            if (readBuffer(*c, reply) == reply.size() && reply[1] == '0') {
                controllerRequest(*c, IOCTL_RS232_CLOSE_COM_PORT, {}, nullptr, 0, nullptr);
                return 1;
            }
        }
        return 0;
    });
}

int32_t ReopenCOMPort(int32_t handle) {
    return guarded<int32_t>(0, [&] {
        const auto c = serialController(handle);
        if (!c) return false;
        // The port first: a report mode sent while it is still closed would go nowhere and
        // leave the controller silenced by the "MI" of CloseCOMPort.
        const bool reopened = acknowledgedRequest(*c, IOCTL_RS232_REOPEN_COM_PORT);
        // The controller forgot its report mode while the port was closed: send it again.
        const std::uint8_t mode = GetReportMode(handle);
        if (mode >= 1 && mode <= 3) SetReportMode(handle, mode);
        return reopened;
    });
}

// ---- driver information ----------------------------------------------------------------------

int32_t GetDriverInterface(int32_t handle) {
    return guarded<int32_t>(0, [&] {
        const auto c = resolveHandle(handle);
        if (!c) return 0;
        return c->kind == DriverKind::Serial ? 1 : 2;
    });
}

int32_t GetDriverVersion(int32_t handle, char* buffer, uint8_t length) {
    return guarded<int32_t>(0, [&] {
        if (!resolveHandle(handle) || !buffer) return 0;
        const auto text = driverVersionText();
        return text ? copyTextCharacters(*text, buffer, length) : 0;
    });
}

int32_t GetDriverPort(int32_t handle, char* buffer, uint8_t length) {
    return guarded<int32_t>(0, [&] {
        if (!serialController(handle) || !buffer) return 0;
        const std::uint8_t port = CurrentCOMPort(handle);
        if (port == 0 || port == 255) return 0; // no port
        char text[16];
        std::snprintf(text, sizeof text, "COM%d", static_cast<int>(port));
        return copyTextCharacters(text, buffer, length);
    });
}

} // extern "C"

uint8_t SetUpEventHandle(void* handle, void* eventHandle) {
    return guarded<uint8_t>(0, [&]() -> int {
        const auto c = resolveHandle(handleFromPointer(handle));
        if (!c) return 0;
        const int fd = descriptorFromPointer(eventHandle);
        // The request carries the handle value as the driver's layout has it; the descriptor
        // itself travels beside it.
        std::vector<std::uint8_t> request;
        appendDword(request,
                    static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(eventHandle)));
        std::uint8_t reply = 0;
        std::uint32_t returned = 0;
        if (!controllerRequest(*c, IOCTL_RS232_SET_UP_EVENT, request, &reply, 1, &returned, fd))
            return 0;
        // A driver that answers with a byte says yes or no in it; the serial driver completes
        // a taken registration with no reply bytes at all, which is a success, not a 0.
        return returned == 1 ? reply : 1;
    });
}
