#pragma once
// The driver's registry parameters: one key per device index holding its settings, created
// with defaults at the first connect, loaded and repaired at every connect, written back on
// every change made through the control interface; and the connect marker that tells the
// touch API library which controllers are present.
//
//   \REGISTRY\Machine\SYSTEM\CurrentControlSet\Control\Kvr            product key, markers
//   \REGISTRY\Machine\SYSTEM\CurrentControlSet\Control\Kvr\RS232\Device<n>   device key
// (USB role: ...\Kvr\USB\Device<n> and USB_DEVICE<n> markers.)
//
// Registry errors are never reported: a value that cannot be written is not written, one that
// cannot be read is repaired in memory, and the device runs with the values in memory.

#include "driver/control/context.h"

#include <cstdint>
#include <string_view>

namespace kvr::driver {

// Value names of the device key.
namespace regval {
inline constexpr std::string_view kRotation = "Rotation";
inline constexpr std::string_view kDisableReport = "DisableReport";
inline constexpr std::string_view kBPX = "BPX";
inline constexpr std::string_view kBPY = "BPY";
inline constexpr std::string_view kCP1X = "CP1X";
inline constexpr std::string_view kCP1Y = "CP1Y";
inline constexpr std::string_view kCP2X = "CP2X";
inline constexpr std::string_view kCP2Y = "CP2Y";
inline constexpr std::string_view kCP3X = "CP3X";
inline constexpr std::string_view kCP3Y = "CP3Y";
inline constexpr std::string_view kComPort = "COMPORT";
inline constexpr std::string_view kBaudRate = "BAUDRATE";
inline constexpr std::string_view kReportMode = "ReportMode";
inline constexpr std::string_view kDownSound = "DownSound";
inline constexpr std::string_view kUpSound = "UpSound";
inline constexpr std::string_view kRightStatus = "RightStatus";
inline constexpr std::string_view kExpandUp = "ExpandUp";
inline constexpr std::string_view kExpandDown = "ExpandDown";
inline constexpr std::string_view kExpandLeft = "ExpandLeft";
inline constexpr std::string_view kExpandRight = "ExpandRight";
inline constexpr std::string_view kDoubleClick = "DoubleClick"; // USB role only
} // namespace regval

// DisableReport registry meanings: 1 switches reports off until the next connect, 2 for good.
inline constexpr std::uint32_t kDisableReportThisConnection = 1;
inline constexpr std::uint32_t kDisableReportAlways = 2;

// Reads one 32-bit value. Success; STATUS_UNSUCCESSFUL with `result` 0 when the key cannot be
// read (missing or store unreadable); STATUS_OBJECT_NAME_NOT_FOUND with `result` 0 when the key
// exists but holds no such 32-bit value (the load rules treat that as out of range).
std::uint32_t KvrRs232_GetRegistryDword(std::string_view keyPath, std::string_view valueName,
                                        std::uint32_t& result);

// Sets a 32-bit value in an existing key (it creates no key, in spite of its name); nothing is
// written when the key cannot be opened. NT status of the write.
std::uint32_t CreateRegistryKey(std::string_view keyPath, std::string_view valueName,
                                std::uint32_t data);

// Sets a 32-bit value in the device key of `device` (the control interface's write-back, and
// COMPORT at connect).
std::uint32_t UpdateRegistryValue(const DriverContext& ctx, std::string_view valueName,
                                  std::uint32_t data, std::uint8_t device);

// Makes sure the device key exists (creating the product key, the container and the device
// key with every default when needed), then loads it (GetRegistryKeys). Once per connect.
void ManageRegistry(DriverContext& ctx, std::uint8_t device);

// Loads and repairs every value of the device key into the device record, then falls back to
// the default calibration set in memory when the loaded one is degenerate. Stores the device's
// baud rate as 9600.
void GetRegistryKeys(DriverContext& ctx, std::string_view deviceKeyPath, std::uint8_t device);

// Writes the connect marker RS232_DEVICE<n> (USB_DEVICE<n>) = 1 under the product key.
std::uint32_t WriteConnectMarker(const DriverContext& ctx, std::uint8_t device);

// The registry part of a connect, in order: ManageRegistry, COMPORT = the stored COM port
// number, the connect marker.
void RegistryAtConnect(DriverContext& ctx, std::uint8_t device);

} // namespace kvr::driver
