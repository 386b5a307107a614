#pragma once
// Coordinate report: calibrated, edge-snapped, rotated touch positions placed in the device's
// display partition, handed to the pointer report modes; plus the touched-controller search,
// the copy of packets into the response queue with reports switched off, and the display
// layout a controller announces.

#include "engine/device.h"

#include <cstddef>
#include <cstdint>

namespace kvr::engine {

// Coordinate report of the complete packet in device.Packet (device lock held).
void MReportCoord(Rs232Device& device);
void EReportCoord(Rs232Device& device);

// The steps of the pipeline on calibrated 12-bit coordinates, exposed for tests and tools.
// Values are 64-bit so that no stored setting can make them overflow.
struct Coord12 {
    std::int64_t x = 0;
    std::int64_t y = 0;
};
Coord12 ExpandEdges(const Rs232Device& device, Coord12 c);
Coord12 Rotate(std::uint8_t rotation, Coord12 c);
// Pointer coordinates of c in the partition entry (saturated to 32 bits).
ScreenPoint MapToPartition(const DisplayPartitionEntry& entry, Coord12 c);

// Display layout from the value v of controller parameter 9E (device lock held).
void SetDisplayLayout(Rs232Device& device, std::uint8_t v);
// Judges a reply to the 9E query as taken from the queue: exactly 6 bytes, SOH first and CR
// last; then sets the layout from HexStringToByte of bytes 1 and 2. Any other reply sets both
// fields to 0. Returns true when the reply was accepted.
bool SetDisplayLayoutFromReply(Rs232Device& device, const std::uint8_t* reply, std::size_t taken);
// Sets DisplayPartition[index] from the arrangement (1 side by side, 2 stacked, 3 two by
// two); arrangement 0 or an index outside the table changes nothing. Driver-wide lock held.
void ArrangeDisplayPartition(ControlExtension& ext, std::uint8_t arrangement, std::uint8_t index);

} // namespace kvr::engine
