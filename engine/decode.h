#pragma once
// Decoding of the controller's byte stream: touch packets, command replies and the restart
// announcement.
//
// M packet (5 bytes), 14-bit coordinates split into 7-bit halves:
//
//   byte 0  1 P . O . . . R    lead: bit 7 = 1 marks a packet start, P = pen down,
//                               O = byte order (1: low half first), R = side button
//   byte 1  0 a a a a a a a    O = 1: X low    O = 0: X high
//   byte 2  0 b b b b b b b    O = 1: X high   O = 0: X low
//   byte 3  0 c c c c c c c    O = 1: Y low    O = 0: Y high
//   byte 4  0 d d d d d d d    O = 1: Y high   O = 0: Y low
//
// E packet (10 bytes), 12-bit coordinates:
//
//   byte 0  0x55 'U'            byte 5  Y bits 0..7
//   byte 1  0x54 'T'            byte 6  0 0 0 0 Y11..Y8
//   byte 2  1 . . . S L T T     byte 7  (not read)
//           T = touched (either bit), L = release flag, S = side button
//   byte 3  X bits 0..7         byte 8  0x00
//   byte 4  0 0 0 0 X11..X8     byte 9  checksum (not enforced, see EDecodeData)
//
// Replies (SOH, text, CR) and other ASCII bytes between packets go to the ResponseQueue.

#include "engine/device.h"

#include <cstddef>
#include <cstdint>

namespace kvr::engine {

// The read loop's entry: decodes `count` bytes read from the line for `device`, with the
// decoder its PacketFormat selects (2: E packets, anything else: M packets). Takes the device
// lock itself; nothing happens for count 0. Complete packets go on to the coordinate report
// or the calibration capture, and from there to the pointer and the events.
void DecodeChunk(Rs232Device& device, const std::uint8_t* bytes, std::size_t count);
// The same for a caller that already holds device.Lock.
void DecodeChunkLocked(Rs232Device& device, const std::uint8_t* bytes, std::size_t count);
// Decodes the first `count` bytes of device.ReadBuffer (count is capped at its size); takes
// the device lock.
void DecodeReadBuffer(Rs232Device& device, std::size_t count);

// The two decoders, device lock held by the caller.
void MDecodeData(Rs232Device& device, const std::uint8_t* bytes, std::size_t count);
void EDecodeData(Rs232Device& device, const std::uint8_t* bytes, std::size_t count);
// The M decoder for the identification exchange at connect, whatever the packet format: the
// reply (plain ASCII, which the E decoder would drop) is queued as MDecodeData queues it, but
// a packet completed meanwhile is dropped, never reported: a touch on a controller that sends
// E packets would otherwise be read as an M packet at a wrong place. Device lock held.
void MDecodeReplyOnly(Rs232Device& device, const std::uint8_t* bytes, std::size_t count);

// Response queue operations (queue lock only; safe from any thread).
// Appends one byte; false when the queue is full and the byte was lost.
bool QueueResponseData(std::uint8_t byte, Rs232Device& device);
// Takes up to `wanted` bytes from the head into `out`; returns the number taken.
std::size_t ReadQueueData(Rs232Device& device, std::uint8_t* out, std::size_t wanted);
// Removes every queued byte.
void FlushQueueData(Rs232Device& device);
// Number of bytes queued.
std::uint32_t QueueDataLength(const Rs232Device& device);

// Value of the first `n` characters of `text` read as hexadecimal in an 8-bit accumulator:
// non-hex characters are skipped, and only the last two hex digits count.
std::uint8_t HexStringToByte(const char* text, std::size_t n);
std::uint8_t HexStringToByte(const std::uint8_t* text, std::size_t n);

} // namespace kvr::engine
