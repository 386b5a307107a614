#pragma once
// Shared pieces of the control-interface tests: a fake serial connection and a helper that
// sends one buffered request straight into the dispatch.

#include "driver/control/context.h"
#include "driver/control/dispatch.h"
#include "driver/control/registry_params.h"
#include "platform/ipc/control_codes.h"

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace kvr::driver::test {

using namespace ::kvr::control;
namespace ntstatus = ::kvr::ipc::status;

// Serial connection stand-in: connects when a COM port is stored (running the registry part of
// a connect as the core does), records every write, and lets a test answer writes by queueing
// reply bytes.
class FakeLink final : public SerialLink {
public:
    explicit FakeLink(DriverContext& ctx) : ctx_(ctx) {}

    std::uint32_t connect(std::uint8_t device) override {
        {
            std::lock_guard g(lock_);
            ++connects_[device];
        }
        const std::uint8_t com = ctx_.comPort(device);
        if (com < 1 || com > kMaxComPort) return ntstatus::kUnsuccessful;
        RegistryAtConnect(ctx_, device);
        std::lock_guard g(lock_);
        connected_[device] = true;
        return ntstatus::kSuccess;
    }
    void disconnect(std::uint8_t device) override {
        std::lock_guard g(lock_);
        ++disconnects_[device];
        connected_[device] = false;
    }
    std::uint32_t write(std::uint8_t device, std::span<const std::uint8_t> bytes) override {
        std::function<void(std::uint8_t, const std::vector<std::uint8_t>&)> responder;
        std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
        {
            std::lock_guard g(lock_);
            writes_[device].push_back(copy);
            responder = responder_;
        }
        if (responder) responder(device, copy);
        return ntstatus::kSuccess;
    }
    bool connected(std::uint8_t device) const override {
        std::lock_guard g(lock_);
        return connected_[device];
    }

    void setConnected(std::uint8_t device, bool on) {
        std::lock_guard g(lock_);
        connected_[device] = on;
    }
    void onWrite(std::function<void(std::uint8_t, const std::vector<std::uint8_t>&)> f) {
        std::lock_guard g(lock_);
        responder_ = std::move(f);
    }
    int connects(std::uint8_t device) const {
        std::lock_guard g(lock_);
        return connects_[device];
    }
    int disconnects(std::uint8_t device) const {
        std::lock_guard g(lock_);
        return disconnects_[device];
    }
    std::vector<std::vector<std::uint8_t>> writes(std::uint8_t device) const {
        std::lock_guard g(lock_);
        return writes_[device];
    }

private:
    DriverContext& ctx_;
    mutable std::mutex lock_;
    std::array<bool, engine::kMaxDevices> connected_{};
    std::array<int, engine::kMaxDevices> connects_{};
    std::array<int, engine::kMaxDevices> disconnects_{};
    std::array<std::vector<std::vector<std::uint8_t>>, engine::kMaxDevices> writes_;
    std::function<void(std::uint8_t, const std::vector<std::uint8_t>&)> responder_;
};

struct Result {
    std::uint32_t status = 0;
    std::uint32_t info = 0;
    std::vector<std::uint8_t> buffer; // the whole system buffer after the request
};

// One request as the control server would pass it: a buffer of max(in, out) bytes holding the
// input then zeros. `in` may be shorter than `input` (the rest is not sent). `fd` (if >= 0)
// is duplicated and attached.
inline Result send(DriverContext& ctx, std::uint32_t code, std::vector<std::uint8_t> input,
                   std::uint32_t out, int fd = -1, DeviceObject target = DeviceObject::Control,
                   std::optional<std::uint32_t> inLength = std::nullopt,
                   ipc::PeerTrust peer = ipc::PeerTrust::Owner) {
    const std::uint32_t in = inLength.value_or(static_cast<std::uint32_t>(input.size()));
    std::vector<std::uint8_t> buffer(std::max(in, out), 0);
    std::copy_n(input.begin(), std::min<std::size_t>(in, input.size()), buffer.begin());
    ipc::Request req;
    req.code = code;
    req.inLength = in;
    req.outLength = out;
    req.buffer = buffer;
    req.peer = peer;
    if (fd >= 0) req.passedFd = UniqueFd(::dup(fd));
    const ipc::Reply reply = KvrRs232_DispatchIoctl(ctx, target, req);
    return Result{reply.status, reply.information, buffer};
}

inline void putDword(std::vector<std::uint8_t>& v, std::uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
}
inline std::uint32_t dwordAt(const std::vector<std::uint8_t>& v, std::size_t at) {
    return static_cast<std::uint32_t>(v[at]) | static_cast<std::uint32_t>(v[at + 1]) << 8 |
           static_cast<std::uint32_t>(v[at + 2]) << 16 |
           static_cast<std::uint32_t>(v[at + 3]) << 24;
}

} // namespace kvr::driver::test
