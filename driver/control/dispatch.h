#pragma once
// The driver's request entry points: the control device's buffered control requests, the
// pointer class driver's internal requests, and create / close.
//
// KvrRs232_DispatchIoctl is a plain function on the context and one request: it validates
// every length, index, code and descriptor before it uses a byte of the request, and never
// throws. ControlDispatch() wraps it for the control-device server.

#include "driver/control/context.h"
#include "platform/ipc/control_device.h"

#include <cstddef>
#include <cstdint>

namespace kvr::driver {

// The device object a request arrived on.
enum class DeviceObject {
    Control,     // \Device\KvrRs232D (or KvrUsbMgr): every control request
    PointerPort, // \Device\PointerPort<N>: the pointer class driver's internal requests
};

// One buffered control request: request.buffer holds max(inLength, outLength) bytes (the
// input, zeros after it) and receives the reply; request.passedFd is the descriptor sent with
// an event registration. Returns the completion status and the number of reply bytes.
ipc::Reply KvrRs232_DispatchIoctl(DriverContext& ctx, DeviceObject target,
                                  ipc::Request& request) noexcept;

// The dispatch the control-device server calls: every request on the control device.
ipc::Dispatch ControlDispatch(DriverContext& ctx);
// What the control-device server calls when a connection (a client's open handle) ends:
// KvrRs232Close for that connection.
ipc::ConnectionClosed ControlClose(DriverContext& ctx);

// Internal device-control request (the pointer class driver's connect). For
// IOCTL_INTERNAL_MOUSE_CONNECT `input` points at a PointerConnectData and `inLength` is its
// size. Returns the completion status; the information count is always 0.
std::uint32_t KvrRs232_InternIoCtl(DriverContext& ctx, DeviceObject target, std::uint32_t code,
                                   const void* input, std::size_t inLength) noexcept;

// Create and close of either device: always success, information 0. Open keeps no state;
// the close of a control-device handle (`connection`, 0 for none) releases the per-device
// touch events registered through it, so their devices take a registration again.
ipc::Reply KvrRs232Open(DriverContext& ctx, DeviceObject target) noexcept;
ipc::Reply KvrRs232Close(DriverContext& ctx, DeviceObject target,
                         std::uint64_t connection = 0) noexcept;

// Reads the controller's display setting (code 33): reset command, 100 ms, flush, get
// parameter 9E, 100 ms, then judge up to 6 queued bytes. Sets DisplayArrangement and
// DisplayIndex (both 0 without a valid reply); the partition table is not changed. Sleeps in
// the caller's thread holding no lock.
void ReadDisplayNumber(DriverContext& ctx, std::uint8_t device);

} // namespace kvr::driver
