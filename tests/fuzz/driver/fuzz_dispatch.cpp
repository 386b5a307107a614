// Random control requests into the driver's dispatch: codes, lengths, request bytes, attached
// descriptors (none, an eventfd, a pipe), requests on the pointer-port device, pointer connects,
// and controller bytes decoded between requests. After every request the reply must fit its
// buffer, an error must carry no reply bytes, and every device must still hold settings the
// engine can use (a calibration set it can divide by, a COM port 0..16, a known format).

#include "driver/control/context.h"
#include "driver/control/dispatch.h"
#include "driver/control/registry_params.h"
#include "engine/calibration.h"
#include "engine/decode.h"
#include "platform/ipc/control_codes.h"
#include "platform/ipc/event.h"
#include "platform/registry/registry.h"
#include "tests/unit/driver_control/control_test_support.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace kvr;
using namespace kvr::driver;
using namespace kvr::control;

// Reads the fuzz input front to back; past the end everything reads as 0.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    [[nodiscard]] bool empty() const { return pos_ >= size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint32_t dword() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<std::uint32_t>(byte()) << (8 * i);
        return v;
    }
    void bytes(std::uint8_t* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            out[i] = byte();
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

class NullService final : public PointerClassService {
public:
    void deliver(const engine::MouseInputData&) override {}
};

[[noreturn]] void fail(const char* what, std::uint32_t code) {
    std::fprintf(stderr, "fuzz_dispatch: %s (code 0x%X)\n", what, code);
    std::abort();
}

void checkDevices(DriverContext& ctx, std::uint32_t code) {
    for (std::uint8_t n = 0; n < ctx.deviceCount(); ++n) {
        engine::Rs232Device& d = ctx.device(n);
        std::lock_guard lock(d.Lock);
        if (!engine::CalibrationUsable(engine::CalibrationOf(d)))
            fail("unusable calibration stored", code);
        if (ctx.control(n).ComPort > kMaxComPort) fail("COM port out of range", code);
        if (d.PacketFormat > engine::kPacketFormatMax) fail("packet format out of range", code);
        if (d.ReportMode < 1 || d.ReportMode > 3) fail("report mode out of range", code);
        if (d.CaptureIndex >= engine::kRawPointCount) fail("capture index out of range", code);
    }
}

} // namespace

std::string& stateDir() {
    static std::string dir;
    return dir;
}

void removeStateDir() {
    kvr::reg::closeStore();
    std::error_code ec;
    std::filesystem::remove_all(stateDir(), ec);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The dispatch writes the registry store: keep it in a private folder, removed at exit.
    char dir[] = "/tmp/kvr-fuzz-dispatch-XXXXXX";
    if (::mkdtemp(dir) == nullptr) std::abort();
    stateDir() = dir;
    ::setenv("KVR_STATE_DIR", dir, 1);
    ::setenv("KVR_RUNTIME_DIR", dir, 1);
    std::atexit(removeStateDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const bool usb = (in.byte() & 1) != 0;
    DriverContext ctx(usb ? kUsbRole : kSerialRole);
    kvr::driver::test::FakeLink link(ctx);
    ctx.attachSerialLink(&link);
    // Replies from the "controller" land in the queue, so the read codes have bytes to take.
    link.onWrite([&ctx](std::uint8_t n, const std::vector<std::uint8_t>& bytes) {
        for (std::uint8_t b : bytes)
            engine::QueueResponseData(b, ctx.device(n));
    });
    NullService service;
    reg::deleteKey(ctx.productKeyPath());

    for (int steps = 0; steps < 64 && !in.empty(); ++steps) {
        const std::uint8_t op = in.byte();
        if ((op & 7) == 7) {
            // Controller bytes on a device's read path.
            const std::uint8_t n = in.byte() % ctx.deviceCount();
            std::uint8_t chunk[32];
            const std::size_t count = in.byte() % sizeof chunk;
            in.bytes(chunk, count);
            engine::DecodeChunk(ctx.device(n), chunk, count);
            continue;
        }
        if ((op & 7) == 6) {
            // The pointer class driver's internal requests (only well-formed callbacks: the
            // input is the core's, not a client's).
            const std::uint32_t code = (in.byte() & 1) ? IOCTL_INTERNAL_MOUSE_CONNECT : in.dword();
            const std::size_t length = in.byte() % (sizeof(PointerConnectData) + 4);
            PointerConnectData connect{nullptr, (op & 0x10) ? &service : nullptr};
            const DeviceObject target =
                (op & 0x20) ? DeviceObject::PointerPort : DeviceObject::Control;
            KvrRs232_InternIoCtl(ctx, target, code, (op & 0x40) ? &connect : nullptr, length);
            continue;
        }

        const std::uint8_t sel = in.byte();
        std::uint32_t code = sel < 0xF0 ? Rs232ControlCode(sel % 56) : in.dword();
        // The display query waits 200 ms for the controller; it is covered by the unit tests.
        if (code == IOCTL_RS232_READ_DISPLAY_NUMBER) code = IOCTL_RS232_FLUSH_READ_BUFFER;
        const std::uint32_t inLength = in.byte() % 40;
        std::uint32_t outLength = in.byte();
        if (outLength & 0x80) outLength = (outLength & 0x7F) * 8; // up to 1016: past 512 too
        std::vector<std::uint8_t> buffer(std::max(inLength, outLength), 0);
        in.bytes(buffer.data(), inLength);

        ipc::Request req;
        req.code = code;
        req.inLength = inLength;
        req.outLength = outLength;
        req.buffer = buffer;
        switch ((op >> 3) & 3) {
        case 1:
            if (auto e = ipc::Event::create()) req.passedFd = UniqueFd(::dup(e->fd()));
            break;
        case 2: {
            int fds[2];
            if (::pipe(fds) == 0) {
                ::close(fds[1]);
                req.passedFd = UniqueFd(fds[0]);
            }
            break;
        }
        default:
            break;
        }
        const DeviceObject target = (op & 0x80) ? DeviceObject::PointerPort : DeviceObject::Control;
        const ipc::Reply reply = KvrRs232_DispatchIoctl(ctx, target, req);
        if (reply.information > buffer.size()) fail("reply larger than the buffer", code);
        if (ipc::isError(reply.status) && reply.information != 0)
            fail("error with reply bytes", code);
        checkDevices(ctx, code);
    }
    ctx.attachSerialLink(nullptr);
    return 0;
}
