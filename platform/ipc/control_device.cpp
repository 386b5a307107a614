#include "platform/ipc/control_device.h"

namespace kvr::ipc {

struct ControlDevice::Impl {};

ControlDevice::ControlDevice(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ControlDevice::ControlDevice(ControlDevice&&) noexcept = default;
ControlDevice& ControlDevice::operator=(ControlDevice&&) noexcept = default;
ControlDevice::~ControlDevice() = default;
std::optional<ControlDevice> ControlDevice::open(std::string_view) { return std::nullopt; }
bool ControlDevice::ioctl(std::uint32_t, const void*, std::uint32_t, void*, std::uint32_t,
                          std::uint32_t* returned, int, std::uint32_t* st) {
    if (returned) *returned = 0;
    if (st) *st = status::kInvalidHandle;
    return false;
}
void ControlDevice::close() { impl_.reset(); }
bool ControlDevice::isOpen() const { return impl_ != nullptr; }
std::optional<std::string> devicePath(std::string_view) { return std::nullopt; }

} // namespace kvr::ipc
