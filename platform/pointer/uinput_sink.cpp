// The uinput sink: one absolute pointer device with a left and a right button.

#include "platform/common/log.h"
#include "platform/pointer/pointer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/input.h>
#include <linux/uinput.h>
#include <mutex>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kvr::pointer {

namespace {

// strerror is not thread-safe, and deliver() runs on several threads.
std::string errnoText(int err) {
    char buf[128];
    return ::strerror_r(err, buf, sizeof buf); // the GNU form returns the text
}

constexpr const char* kDeviceName = "Lumarcon touch pointer";

// At most: ABS_X, ABS_Y, two buttons, SYN; then two button releases and SYN.
constexpr std::size_t kMaxEventsPerSample = 8;

input_event event(uint16_t type, uint16_t code, int32_t value) {
    input_event e{};
    e.type = type;
    e.code = code;
    e.value = value;
    return e;
}

// Pointer units on one axis to the device's 0..65535, which spans low..high (exclusive) of
// the desktop. With the primary display alone (0..65536) the value stays as it is.
int32_t deviceAxis(int32_t pointer, int32_t low, int32_t high) {
    const int64_t span = static_cast<int64_t>(high) - low;
    const int64_t v =
        span > 0 ? (static_cast<int64_t>(pointer) - low) * (kPointerUnitsMax + 1) / span : pointer;
    return static_cast<int32_t>(std::clamp<int64_t>(v, 0, kPointerUnitsMax));
}

class UinputSink final : public Sink {
public:
    UinputSink(UniqueFd fd, bool ownsDevice) : fd_(std::move(fd)), ownsDevice_(ownsDevice) {}
    ~UinputSink() override {
        if (ownsDevice_) ::ioctl(fd_.get(), UI_DEV_DESTROY);
    }
    UinputSink(const UinputSink&) = delete;
    UinputSink& operator=(const UinputSink&) = delete;

    void deliver(int32_t pointerX, int32_t pointerY, uint16_t buttonFlags) override {
        std::array<input_event, kMaxEventsPerSample> ev{};
        std::size_t n = 0;
        std::lock_guard lock(mutex_);
        // The device spans the desktop; samples beyond it stop at its edge.
        ev[n++] = event(EV_ABS, ABS_X, deviceAxis(pointerX, desktop_.left, desktop_.right));
        ev[n++] = event(EV_ABS, ABS_Y, deviceAxis(pointerY, desktop_.top, desktop_.bottom));
        const bool leftDown = (buttonFlags & kLeftButtonDown) != 0;
        const bool leftUp = (buttonFlags & kLeftButtonUp) != 0;
        const bool rightDown = (buttonFlags & kRightButtonDown) != 0;
        const bool rightUp = (buttonFlags & kRightButtonUp) != 0;
        if (leftDown) ev[n++] = event(EV_KEY, BTN_LEFT, 1);
        if (rightDown) ev[n++] = event(EV_KEY, BTN_RIGHT, 1);
        // A release in the same frame as its press would cancel out in every reader of the
        // device; a press and release in one record is a click, so the release gets a frame of
        // its own.
        if (leftUp && !leftDown) ev[n++] = event(EV_KEY, BTN_LEFT, 0);
        if (rightUp && !rightDown) ev[n++] = event(EV_KEY, BTN_RIGHT, 0);
        ev[n++] = event(EV_SYN, SYN_REPORT, 0);
        if ((leftUp && leftDown) || (rightUp && rightDown)) {
            if (leftUp && leftDown) ev[n++] = event(EV_KEY, BTN_LEFT, 0);
            if (rightUp && rightDown) ev[n++] = event(EV_KEY, BTN_RIGHT, 0);
            ev[n++] = event(EV_SYN, SYN_REPORT, 0);
        }

        const char* p = reinterpret_cast<const char*>(ev.data());
        std::size_t left = n * sizeof(input_event);
        while (left > 0) {
            const ssize_t w = ::write(fd_.get(), p, left);
            if (w < 0) {
                if (errno == EINTR) continue;
                if (!failed_)
                    KVR_LOG_WARN("pointer: uinput write failed: %s; samples are dropped",
                                 errnoText(errno).c_str());
                failed_ = true;
                return;
            }
            p += w;
            left -= static_cast<std::size_t>(w);
        }
        failed_ = false;
    }
    const char* kind() const override { return "uinput"; }
    void setDesktop(const PointerArea& area) override {
        std::lock_guard lock(mutex_);
        desktop_ = area;
    }

private:
    std::mutex mutex_;
    UniqueFd fd_;
    bool ownsDevice_;
    bool failed_ = false; // under mutex_
    PointerArea desktop_; // under mutex_
};

} // namespace

std::unique_ptr<Sink> makeUinputWriter(UniqueFd fd) {
    return std::make_unique<UinputSink>(std::move(fd), false);
}

std::unique_ptr<Sink> openUinputSink(std::string& error, const std::string& devicePath) {
    error.clear();
    UniqueFd fd(::open(devicePath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        error = "cannot open " + devicePath + ": " + errnoText(errno);
        return nullptr;
    }
    auto fail = [&](const char* step) {
        error =
            std::string("uinput ") + step + " failed on " + devicePath + ": " + errnoText(errno);
        return nullptr;
    };
    // An absolute mouse (like a virtual machine's tablet): absolute axes and mouse buttons,
    // no touch properties, so desktops move the pointer and click rather than treat it as a
    // touch screen with gestures.
    for (int type : {EV_SYN, EV_KEY, EV_ABS})
        if (::ioctl(fd.get(), UI_SET_EVBIT, type) < 0) return fail("UI_SET_EVBIT");
    for (int key : {BTN_LEFT, BTN_RIGHT})
        if (::ioctl(fd.get(), UI_SET_KEYBIT, key) < 0) return fail("UI_SET_KEYBIT");
    for (int axis : {ABS_X, ABS_Y}) {
        if (::ioctl(fd.get(), UI_SET_ABSBIT, axis) < 0) return fail("UI_SET_ABSBIT");
        uinput_abs_setup abs{};
        abs.code = static_cast<uint16_t>(axis);
        abs.absinfo.minimum = 0;
        abs.absinfo.maximum = kPointerUnitsMax;
        if (::ioctl(fd.get(), UI_ABS_SETUP, &abs) < 0) return fail("UI_ABS_SETUP");
    }
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    std::strncpy(setup.name, kDeviceName, sizeof setup.name - 1);
    if (::ioctl(fd.get(), UI_DEV_SETUP, &setup) < 0) return fail("UI_DEV_SETUP");
    if (::ioctl(fd.get(), UI_DEV_CREATE) < 0) return fail("UI_DEV_CREATE");
    KVR_LOG_INFO("pointer: uinput device \"%s\" created", kDeviceName);
    return std::make_unique<UinputSink>(std::move(fd), true);
}

} // namespace kvr::pointer
