#include "calibration/three_point.h"

#include "platform/registry/registry.h"
#include "protocol/wait.h"
#include "tsapi/tsapi.h"

namespace kvr::calibration {
namespace {

constexpr const char* kControllersKey = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr\\";
constexpr std::uint8_t kNameBufferLength = 30;
constexpr std::uint8_t kStopCapture = 255;
constexpr std::uint8_t kBlockBytes = 24; // x0, y0, x1, y1, x2, y2
// The pause after a press tick, between the beep and the question whether the finger is up
// (the window's events go on meanwhile).
constexpr std::uint16_t kSettleMs = 10;

enum class OffsetsRead { Read, NoKey, Unreadable };

// BPX and BPY of the controller's settings key, read only (a user who may not change the
// settings store can still calibrate). No key: both stay 0.
OffsetsRead readBaseOffsets(std::string_view controllerName, std::int32_t& bpx, std::int32_t& bpy) {
    const std::string key = controllerSettingsKey(controllerName);
    if (reg::keyExists(key) != reg::Status::Ok) return OffsetsRead::NoKey;
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    if (reg::queryDword(key, "BPX", x) != reg::Status::Ok) return OffsetsRead::Unreadable;
    if (reg::queryDword(key, "BPY", y) != reg::Status::Ok) return OffsetsRead::Unreadable;
    bpx = static_cast<std::int32_t>(x);
    bpy = static_cast<std::int32_t>(y);
    return OffsetsRead::Read;
}

} // namespace

std::string controllerSettingsKey(std::string_view controllerName) {
    std::string key = kControllersKey;
    for (char c : controllerName)
        key += c == '_' ? '\\' : c;
    return key;
}

ThreePointSession::Opened ThreePointSession::open(std::string_view commandLine) {
    if (commandLine.find(kSerialWord) == std::string_view::npos &&
        commandLine.find(kUsbWord) == std::string_view::npos)
        return {kExitNoController, nullptr};

    const std::uint8_t count = GetExistControllers();
    if (count == 0 || !controllerListed(commandLine, count, kNameBufferLength))
        return {kExitNotFound, nullptr};

    const std::string name(commandLine);
    std::unique_ptr<ThreePointSession> s(new ThreePointSession);
    s->controller_ = protocol::ControllerSession(name);
    if (!s->controller_.isOpen()) return {kExitOpenFailed, nullptr};
    const std::int32_t h = s->controller_.handle();
    SetCalibrationPoint(h, 0);

    const auto leave = [&](int code) {
        SetCalibrationPoint(h, kStopCapture);
        s->controller_.close();
        return Opened{code, nullptr};
    };
    if (controllerDisplay(h, kNameBufferLength, s->display_) != DisplayLookup::Found)
        return leave(kExitNoDisplay);
    if (readBaseOffsets(name, s->bpx_, s->bpy_) == OffsetsRead::Unreadable)
        return leave(kExitSettingsKey);

    s->savedReportMode_ = GetReportMode(h);
    SetReportMode(h, kCaptureReportMode);
    return {kExitNormal, std::move(s)};
}

std::array<TargetUnits, 3> ThreePointSession::targets() const {
    return threePointTargets(bpx_, bpy_);
}

CaptureCalls ThreePointSession::captureCalls() {
    const std::int32_t h = controller_.handle();
    return {
        .arm = [h](std::uint8_t target) { SetCalibrationPoint(h, target); },
        .captured =
            [h](RawPoint& point) {
                std::int32_t xy[2] = {0, 0};
                const std::int32_t answer = GetCalibrationData(h, xy);
                point = {xy[0], xy[1]};
                return answer;
            },
        .penUp = [h] { return IsPenUp(h); },
        .settle = [] { protocol::WaitMilliseconds(kSettleMs); },
    };
}

void ThreePointSession::stopCapture() {
    if (controller_.isOpen()) SetCalibrationPoint(controller_.handle(), kStopCapture);
}

bool ThreePointSession::save(const std::vector<RawPoint>& points) {
    if (!controller_.isOpen() || points.size() != 3) return false;
    std::int32_t block[6];
    for (std::size_t i = 0; i < 3; ++i) {
        block[2 * i] = points[i].x;
        block[2 * i + 1] = points[i].y;
    }
    return SaveCalibrationData(controller_.handle(), block, kBlockBytes) == 1;
}

void ThreePointSession::close() {
    if (!controller_.isOpen()) return;
    restoreReportMode(controller_.handle(), savedReportMode_);
    controller_.close();
}

} // namespace kvr::calibration
