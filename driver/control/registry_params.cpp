#include "driver/control/registry_params.h"

#include "engine/calibration.h"
#include "platform/ipc/control_codes.h"
#include "platform/registry/registry.h"

#include <array>
#include <mutex>

namespace kvr::driver {

using namespace ::kvr::control; // the control interface the driver serves
namespace ntstatus = ::kvr::ipc::status;

namespace {

namespace reg = kvr::reg;

std::uint32_t ntStatusOf(reg::Status s) {
    switch (s) {
    case reg::Status::Ok:
        return ntstatus::kSuccess;
    case reg::Status::NotFound:
        return ntstatus::kObjectNameNotFound;
    default:
        return ntstatus::kUnsuccessful;
    }
}

// A value of the device key with its default and load rule: a value in [low, high] is kept,
// any other (and an absent one) is replaced in memory and in the registry by `repair`.
struct RangeRule {
    std::string_view name;
    std::uint32_t low;
    std::uint32_t high;
    std::uint32_t repair;
};

// 12-bit positions: 0 counts as out of range, so a zeroed value is repaired.
constexpr std::uint32_t kMax12Bit = 4095;

// The values loaded at connect, in the order they are read. DisableReport and BAUDRATE have
// rules of their own (handled by name below); DoubleClick only in the USB role.
constexpr std::array<RangeRule, 20> kLoadRules{{
    {regval::kRotation, 0, 3, 0},
    {regval::kDisableReport, 0, 2, 0},
    {regval::kBaudRate, 0, 0, kDefaultBaudRate}, // always rewritten
    {regval::kReportMode, 1, 3, engine::kReportModeDrawing},
    {regval::kDownSound, 0, 1, 1},
    {regval::kUpSound, 0, 1, 0},
    {regval::kRightStatus, 0, 1, 1}, // an out-of-range value switches right clicks on
    {regval::kBPX, 1, kMax12Bit, engine::kDefaultBPX},
    {regval::kBPY, 1, kMax12Bit, engine::kDefaultBPY},
    {regval::kCP1X, 1, kMax12Bit, engine::kDefaultCP1X},
    {regval::kCP1Y, 1, kMax12Bit, engine::kDefaultCP1Y},
    {regval::kCP2X, 1, kMax12Bit, engine::kDefaultCP2X},
    {regval::kCP2Y, 1, kMax12Bit, engine::kDefaultCP2Y},
    {regval::kCP3X, 1, kMax12Bit, engine::kDefaultCP3X},
    {regval::kCP3Y, 1, kMax12Bit, engine::kDefaultCP3Y},
    {regval::kExpandUp, 1, kMax12Bit, 0},
    {regval::kExpandDown, 1, kMax12Bit, kMax12Bit},
    {regval::kExpandLeft, 1, kMax12Bit, 0},
    {regval::kExpandRight, 1, kMax12Bit, kMax12Bit},
    {regval::kDoubleClick, 0, 1, 0},
}};

// Index of each value in kLoadRules (and in the loaded array below).
enum LoadIndex : std::size_t {
    kRotationAt,
    kDisableReportAt,
    kBaudRateAt,
    kReportModeAt,
    kDownSoundAt,
    kUpSoundAt,
    kRightStatusAt,
    kBPXAt,
    kBPYAt,
    kCP1XAt,
    kCP1YAt,
    kCP2XAt,
    kCP2YAt,
    kCP3XAt,
    kCP3YAt,
    kExpandUpAt,
    kExpandDownAt,
    kExpandLeftAt,
    kExpandRightAt,
    kDoubleClickAt,
    kLoadCount
};
static_assert(kLoadCount == kLoadRules.size());

// The device key as created at the first connect: every value with its default, in this
// order. COMPORT gets the device's COM port number at that moment.
struct DefaultValue {
    std::string_view name;
    std::uint32_t data;
};
constexpr std::array<DefaultValue, 20> kCreationDefaults{{
    {regval::kRotation, 0},
    {regval::kDisableReport, 0},
    {regval::kBPX, engine::kDefaultBPX},
    {regval::kBPY, engine::kDefaultBPY},
    {regval::kCP1X, engine::kDefaultCP1X},
    {regval::kCP1Y, engine::kDefaultCP1Y},
    {regval::kCP2X, engine::kDefaultCP2X},
    {regval::kCP2Y, engine::kDefaultCP2Y},
    {regval::kCP3X, engine::kDefaultCP3X},
    {regval::kCP3Y, engine::kDefaultCP3Y},
    {regval::kComPort, 0}, // replaced by the COM port number
    {regval::kBaudRate, kDefaultBaudRate},
    {regval::kReportMode, engine::kReportModeDrawing},
    {regval::kDownSound, 1},
    {regval::kUpSound, 0},
    {regval::kRightStatus, 0},
    {regval::kExpandUp, 0},
    {regval::kExpandDown, kMax12Bit},
    {regval::kExpandLeft, 0},
    {regval::kExpandRight, kMax12Bit},
}};

void writeDefaults(const DriverContext& ctx, const std::string& deviceKey, std::uint8_t comPort) {
    for (const DefaultValue& v : kCreationDefaults) {
        const std::uint32_t data = v.name == regval::kComPort ? comPort : v.data;
        CreateRegistryKey(deviceKey, v.name, data);
    }
    if (ctx.role().servesDoubleClick) CreateRegistryKey(deviceKey, regval::kDoubleClick, 0);
}

} // namespace

std::uint32_t KvrRs232_GetRegistryDword(std::string_view keyPath, std::string_view valueName,
                                        std::uint32_t& result) {
    result = 0;
    std::uint32_t data = 0;
    const reg::Status s = reg::queryDword(keyPath, valueName, data);
    if (s == reg::Status::Ok) {
        result = data;
        return ntstatus::kSuccess;
    }
    if (s == reg::Status::NotFound || s == reg::Status::TypeMismatch) {
        // Tell a missing value of a readable key from a key that cannot be read at all.
        if (reg::keyExists(keyPath) == reg::Status::Ok) return ntstatus::kObjectNameNotFound;
    }
    return ntstatus::kUnsuccessful;
}

std::uint32_t CreateRegistryKey(std::string_view keyPath, std::string_view valueName,
                                std::uint32_t data) {
    return ntStatusOf(reg::setDword(keyPath, valueName, data));
}

std::uint32_t UpdateRegistryValue(const DriverContext& ctx, std::string_view valueName,
                                  std::uint32_t data, std::uint8_t device) {
    if (!ctx.validDevice(device)) return ntstatus::kInvalidParameter;
    return CreateRegistryKey(ctx.deviceKeyPath(device), valueName, data);
}

std::uint32_t WriteConnectMarker(const DriverContext& ctx, std::uint8_t device) {
    if (!ctx.validDevice(device)) return ntstatus::kInvalidParameter;
    return CreateRegistryKey(ctx.productKeyPath(), ctx.markerName(device), 1);
}

void ManageRegistry(DriverContext& ctx, std::uint8_t device) {
    if (!ctx.validDevice(device)) return;
    const std::string productKey = ctx.productKeyPath();
    const std::string typeKey = ctx.typeKeyPath();
    const std::string deviceKey = ctx.deviceKeyPath(device);

    bool create = false;
    if (reg::keyExists(productKey) != reg::Status::Ok) {
        if (reg::createKey(productKey) == reg::Status::Ok) {
            reg::createKey(typeKey);
            create = true;
        }
    } else if (reg::keyExists(typeKey) != reg::Status::Ok) {
        reg::createKey(typeKey);
        create = true;
    } else if (reg::keyExists(deviceKey) != reg::Status::Ok) {
        create = true;
    }
    if (create && reg::createKey(deviceKey) == reg::Status::Ok) {
        writeDefaults(ctx, deviceKey, ctx.comPort(device));
    }
    GetRegistryKeys(ctx, deviceKey, device);
}

void GetRegistryKeys(DriverContext& ctx, std::string_view deviceKeyPath, std::uint8_t device) {
    if (!ctx.validDevice(device)) return;
    // Serialised with the control interface's setting changes, so a change made while the
    // key loads is neither lost in memory nor overwritten in the registry by a stale repair.
    std::lock_guard settings(ctx.control(device).SettingsLock);

    std::array<std::uint32_t, kLoadCount> loaded{};
    for (std::size_t i = 0; i < kLoadCount; ++i) {
        const RangeRule& rule = kLoadRules[i];
        if (i == kDoubleClickAt && !ctx.role().servesDoubleClick) {
            loaded[i] = 0;
            continue;
        }
        std::uint32_t value = 0;
        const std::uint32_t status = KvrRs232_GetRegistryDword(deviceKeyPath, rule.name, value);
        // A key that cannot be read gives 0 for every value, which then meets the rules like
        // any stored value; a value missing from a readable key is out of range.
        const bool absent = status == ntstatus::kObjectNameNotFound;
        if (i == kBaudRateAt) {
            // Whatever was stored, the next connect runs at 9600 unless code 11 says otherwise.
            CreateRegistryKey(deviceKeyPath, rule.name, kDefaultBaudRate);
            loaded[i] = kDefaultBaudRate;
            continue;
        }
        if (absent || value < rule.low || value > rule.high) {
            value = rule.repair;
            CreateRegistryKey(deviceKeyPath, rule.name, value);
        }
        loaded[i] = value;
    }

    engine::CalibrationSet cal;
    cal.BPX = static_cast<std::int32_t>(loaded[kBPXAt]);
    cal.BPY = static_cast<std::int32_t>(loaded[kBPYAt]);
    cal.CP1X = static_cast<std::int32_t>(loaded[kCP1XAt]);
    cal.CP1Y = static_cast<std::int32_t>(loaded[kCP1YAt]);
    cal.CP2X = static_cast<std::int32_t>(loaded[kCP2XAt]);
    cal.CP2Y = static_cast<std::int32_t>(loaded[kCP2YAt]);
    cal.CP3X = static_cast<std::int32_t>(loaded[kCP3XAt]);
    cal.CP3Y = static_cast<std::int32_t>(loaded[kCP3YAt]);
    // Targets on one line give no mapping. The registry keeps the stored values (the check
    // repeats at every connect); memory falls back to the defaults. The quarter-resolution
    // check also catches targets closer than 4 raw units, which the mapping would divide by.
    if (engine::FullDeterminantIsZero(cal) || !engine::CalibrationUsable(cal)) {
        cal = engine::CalibrationSet{};
    }

    engine::Rs232Device& d = ctx.device(device);
    std::lock_guard lock(d.Lock);
    d.Rotation = static_cast<std::uint8_t>(loaded[kRotationAt]);
    d.DisableReport = loaded[kDisableReportAt] == kDisableReportAlways ? 1 : 0;
    d.ReportMode = static_cast<std::uint8_t>(loaded[kReportModeAt]);
    d.DownSound = static_cast<std::uint8_t>(loaded[kDownSoundAt]);
    d.UpSound = static_cast<std::uint8_t>(loaded[kUpSoundAt]);
    d.RightStatus = static_cast<std::uint8_t>(loaded[kRightStatusAt]);
    engine::StoreCalibration(d, cal);
    d.ExpandUp = static_cast<std::uint16_t>(loaded[kExpandUpAt]);
    d.ExpandDown = static_cast<std::uint16_t>(loaded[kExpandDownAt]);
    d.ExpandLeft = static_cast<std::uint16_t>(loaded[kExpandLeftAt]);
    d.ExpandRight = static_cast<std::uint16_t>(loaded[kExpandRightAt]);
    DeviceControl& c = ctx.control(device);
    c.BaudRate = kDefaultBaudRate;
    if (ctx.role().servesDoubleClick)
        c.DoubleClick = static_cast<std::uint8_t>(loaded[kDoubleClickAt]);
}

void RegistryAtConnect(DriverContext& ctx, std::uint8_t device) {
    if (!ctx.validDevice(device)) return;
    ManageRegistry(ctx, device);
    UpdateRegistryValue(ctx, regval::kComPort, ctx.comPort(device), device);
    WriteConnectMarker(ctx, device);
}

} // namespace kvr::driver
