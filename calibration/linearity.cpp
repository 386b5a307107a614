#include "calibration/linearity.h"

#include "calibration/three_point.h"
#include "platform/registry/registry.h"
#include "protocol/commands.h"
#include "protocol/wait.h"
#include "tsapi/tsapi.h"

#include <array>

namespace kvr::calibration {
namespace {

constexpr std::uint8_t kNameBufferLength = 25;
constexpr std::uint8_t kPointBytes = 8;
constexpr std::uint8_t kBlockBytes = 24;
constexpr std::uint8_t kPointReportMode = 3;
// SetCalPoint's third argument: no meaning to the library; 60 arms, 0 stops.
constexpr std::int32_t kArmValue = 60;

constexpr std::uint16_t kAfterPreambleMs = 20;
constexpr std::uint16_t kAfterCapturePreambleMs = 50;
constexpr int kHandshakeAttempts = 10;
constexpr std::uint16_t kHandshakeReplyWaitMs = 200;
constexpr std::size_t kHandshakeReplyBytes = 8;
constexpr int kResetAttempts = 10;
constexpr std::uint16_t kResetReplyWaitMs = 500;
constexpr std::size_t kResetReplyBytes = 3;
constexpr std::uint16_t kSettleMs = 10;

// The names a device word starts: the word and one digit.
constexpr std::size_t kSerialNameLength = 13;
constexpr std::size_t kUsbNameLength = 11;

// The preamble "Z" and the wait after it; no flush, no reply read.
void sendPreamble(protocol::ControllerSession& controller, std::uint16_t waitMs) {
    controller.exchange(protocol::command::kPreamble, waitMs, 0, protocol::Flush::None);
}

// One command with the acknowledgement the programs look for: status '0' in byte 1 of what
// was read after the wait.
bool acknowledged(protocol::ControllerSession& controller, std::string_view text,
                  std::uint16_t waitMs, std::size_t replyBytes) {
    const auto reply = controller.exchange(text, waitMs, replyBytes);
    return reply.bytes.size() > 1 && reply.bytes[1] == '0';
}

// The three-point calibration in force: the raw targets the driver keeps in the controller's
// settings key (CP1X, CP1Y .. CP3Y), in SaveCalibrationData's block order. Nothing when the
// key or a value cannot be read.
std::optional<std::array<std::int32_t, 6>> readCalibrationBlock(std::string_view name) {
    static constexpr const char* kValues[6] = {"CP1X", "CP1Y", "CP2X", "CP2Y", "CP3X", "CP3Y"};
    const std::string key = controllerSettingsKey(name);
    std::array<std::int32_t, 6> block{};
    for (std::size_t i = 0; i < block.size(); ++i) {
        std::uint32_t value = 0;
        if (reg::queryDword(key, kValues[i], value) != reg::Status::Ok) return std::nullopt;
        block[i] = static_cast<std::int32_t>(value);
    }
    return block;
}

} // namespace

std::optional<LinearityArguments> parseLinearityArguments(std::string_view arguments) {
    const auto serial = arguments.find(kSerialWord);
    const auto usb = arguments.find(kUsbWord);
    const bool five = arguments.find("-5") != std::string_view::npos;
    const bool nine = arguments.find("-9") != std::string_view::npos;
    if ((!five && !nine) || (serial == std::string_view::npos && usb == std::string_view::npos))
        return std::nullopt;
    LinearityArguments parsed;
    parsed.gridSize = five ? kFiveTargets : kNineTargets;
    parsed.controllerName = serial != std::string_view::npos
                                ? std::string(arguments.substr(serial, kSerialNameLength))
                                : std::string(arguments.substr(usb, kUsbNameLength));
    return parsed;
}

LinearitySession::Opened LinearitySession::open(std::string_view arguments) {
    const std::uint8_t count = GetExistControllers();
    if (count == 0) return {kExitNoController, nullptr};
    const auto parsed = parseLinearityArguments(arguments);
    if (!parsed) return {kExitNoController, nullptr};
    if (!controllerListed(parsed->controllerName, count, kNameBufferLength))
        return {kExitNotFound, nullptr};

    std::unique_ptr<LinearitySession> s(new LinearitySession);
    s->gridSize_ = parsed->gridSize;
    s->controller_ = protocol::ControllerSession(parsed->controllerName);
    if (!s->controller_.isOpen()) return {kExitOpenFailed, nullptr};
    const std::int32_t h = s->controller_.handle();

    // The linearity table is measured against the base point's own three-point calibration;
    // the one in force now comes back unless the table is saved.
    s->previousCalibration_ = readCalibrationBlock(parsed->controllerName);
    std::int32_t base[2] = {0, 0};
    if (GetBasePoint(h, base, kPointBytes) == 1) {
        const std::int32_t x = base[0];
        const std::int32_t y = base[1];
        const auto mirror = [](std::int32_t v) {
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(kDisplayUnits) -
                                             static_cast<std::uint32_t>(v));
        };
        const std::int32_t block[6] = {mirror(x), y, x, mirror(y), x, y};
        SaveCalibrationData(h, block, kBlockBytes);
    }
    SetCalPoint(h, 0, kArmValue, s->gridSize_);

    if (controllerDisplay(h, kNameBufferLength, s->display_) != DisplayLookup::Found) {
        s->stopCapture();
        s->restoreCalibration();
        return {kExitNoDisplay, nullptr};
    }

    sendPreamble(s->controller_, kAfterPreambleMs);
    s->savedReportMode_ = GetReportMode(h);
    if (s->savedReportMode_ == kPointReportMode) SetReportMode(h, kCaptureReportMode);

    if (!s->handshake()) {
        // Leave the controller as it was found: capture stopped, point mode back.
        s->stopCapture();
        if (s->savedReportMode_ == kPointReportMode) SetReportMode(h, kPointReportMode);
        s->restoreCalibration();
        return {kExitNoHandshake, nullptr};
    }
    return {kExitNormal, std::move(s)};
}

bool LinearitySession::handshake() {
    for (int attempt = 0; attempt < kHandshakeAttempts; ++attempt) {
        if (acknowledged(controller_, protocol::command::kHandshake, kHandshakeReplyWaitMs,
                         kHandshakeReplyBytes))
            return true;
    }
    return false;
}

void LinearitySession::resetController() {
    for (int attempt = 0; attempt < kResetAttempts; ++attempt) {
        if (acknowledged(controller_, protocol::command::kReset, kResetReplyWaitMs,
                         kResetReplyBytes))
            return;
    }
}

void LinearitySession::stopCapture() {
    SetCalPoint(controller_.handle(), 0, 0, 0);
}

CaptureCalls LinearitySession::captureCalls() {
    const std::int32_t h = controller_.handle();
    const std::uint8_t grid = gridSize_;
    return {
        .arm = [h, grid](std::uint8_t target) { SetCalPoint(h, target, kArmValue, grid); },
        .captured =
            [h](RawPoint& point) {
                std::int32_t xy[2] = {0, 0};
                const std::int32_t answer = CalCurrentPointReady(h, xy);
                point = {xy[0], xy[1]};
                return answer;
            },
        .penUp = [h] { return IsPenUp(h); },
        .settle = [] { protocol::WaitMilliseconds(kSettleMs); },
    };
}

void LinearitySession::captureDone() {
    if (!controller_.isOpen()) return;
    sendPreamble(controller_, kAfterCapturePreambleMs);
    resetController();
    restoreReportMode(controller_.handle(), savedReportMode_);
    stopCapture();
}

void LinearitySession::escape() {
    if (!controller_.isOpen()) return;
    resetController();
    restoreReportMode(controller_.handle(), savedReportMode_);
    stopCapture();
}

bool LinearitySession::save() {
    saved_ = controller_.isOpen() && StoreCalibrationData(controller_.handle()) == 1;
    return saved_;
}

void LinearitySession::restoreCalibration() {
    if (saved_ || !previousCalibration_ || !controller_.isOpen()) return;
    SaveCalibrationData(controller_.handle(), previousCalibration_->data(), kBlockBytes);
    previousCalibration_.reset(); // once
}

void LinearitySession::close() {
    restoreCalibration();
    controller_.close();
}

} // namespace kvr::calibration
