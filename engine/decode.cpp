#include "engine/decode.h"

#include "engine/calibration.h"
#include "engine/pipeline.h"

#include <algorithm>

namespace kvr::engine {
namespace {

constexpr std::uint8_t kSoh = 0x01;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLeadMarker = 0x80; // bit 7: a packet start (M lead, E status)
constexpr std::uint8_t kHighNibble = 0xF0;
constexpr std::uint8_t kEHeader0 = 0x55; // 'U'
constexpr std::uint8_t kEHeader1 = 0x54; // 'T'
constexpr std::uint8_t kCheckSumSeed = 0xAA;
constexpr std::uint8_t kMLastIndex = 4;
constexpr std::uint8_t kELastIndex = 9;
constexpr std::uint8_t kEReplyMaxBytes = 10;

// Restart announcement SOH 'i' 'T' CR: watcher states between its bytes.
constexpr std::uint8_t kWatchIdle = 0;
constexpr std::uint8_t kWatchSoh = 1;
constexpr std::uint8_t kWatchI = 0x69; // 'i'
constexpr std::uint8_t kWatchT = 0x54; // 'T'

void DispatchMPacket(Rs232Device& device) {
    if (device.CaptureActive == 1) {
        MGetCaliRawData(device);
    } else {
        MReportCoord(device);
    }
}

void DispatchEPacket(Rs232Device& device) {
    if (device.CaptureActive == 1) {
        EGetCaliRawData(device);
    } else {
        EReportCoord(device);
    }
}

void AdvanceReplyWatcher(Rs232Device& device, std::uint8_t b) {
    switch (device.ReplyWatcher) {
    case kWatchIdle:
        device.ReplyWatcher = (b == kSoh) ? kWatchSoh : kWatchIdle;
        break;
    case kWatchSoh:
        device.ReplyWatcher = (b == 'i') ? kWatchI : kWatchIdle;
        break;
    case kWatchI:
        device.ReplyWatcher = (b == 'T') ? kWatchT : kWatchIdle;
        break;
    case kWatchT:
        if (b == kCr && device.Extension != nullptr) {
            // The controller restarted and forgot its report mode: the read loop re-sends it.
            SetEngineEvent(*device.Extension, device.ReinitEvent);
        }
        device.ReplyWatcher = kWatchIdle;
        break;
    default:
        device.ReplyWatcher = kWatchIdle;
        break;
    }
}

// E decoder: start a packet on a 'U' seen where a packet byte was expected.
void ERestart(Rs232Device& device) {
    device.Packet[0] = kEHeader0;
    device.PacketIndex = 1;
    device.CheckSum = static_cast<std::uint8_t>(kCheckSumSeed + kEHeader0);
}

void EAccept(Rs232Device& device, std::uint8_t b) {
    device.CheckSum = static_cast<std::uint8_t>(device.CheckSum + b);
    ++device.PacketIndex;
}

// A 'U' or a drop ends the packet in progress; anything else keeps it.
void ERestartOrDrop(Rs232Device& device, std::uint8_t b) {
    if (b == kEHeader0) {
        ERestart(device);
    } else {
        device.PacketIndex = 0;
    }
}

// The M decoder; `report` false drops complete packets instead of passing them on.
void MDecode(Rs232Device& device, const std::uint8_t* bytes, std::size_t count, bool report) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        // A packet left half-done by the E decoder (format changed between chunks) cannot be
        // an M packet: hunt afresh rather than index past the end of an M packet.
        if (device.PacketIndex > kMLastIndex) {
            device.PacketIndex = 0;
        }
        device.Packet[device.PacketIndex] = b;
        if (device.PacketIndex == 0) {
            if (b & kLeadMarker) {
                device.PacketIndex = 1;
            } else if (b != 0x00) {
                AdvanceReplyWatcher(device, b);
                QueueResponseData(b, device);
            }
            continue;
        }
        if (b & kLeadMarker) {
            // A lead byte inside a packet: the partial packet is lost, a new one starts.
            device.Packet[0] = b;
            device.PacketIndex = 1;
            continue;
        }
        if (device.PacketIndex < kMLastIndex) {
            ++device.PacketIndex;
            continue;
        }
        if (report) DispatchMPacket(device);
        device.PacketIndex = 0;
    }
}

} // namespace

void MDecodeData(Rs232Device& device, const std::uint8_t* bytes, std::size_t count) {
    MDecode(device, bytes, count, true);
}

void MDecodeReplyOnly(Rs232Device& device, const std::uint8_t* bytes, std::size_t count) {
    MDecode(device, bytes, count, false);
}

void EDecodeData(Rs232Device& device, const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        if (device.PacketIndex > kELastIndex) {
            device.PacketIndex = 0;
        }
        device.Packet[device.PacketIndex] = b;
        switch (device.PacketIndex) {
        case 0:
            if (device.ReplyMode != kReplyModeNone) {
                // Inside a reply a 'U' is text, not a packet start.
                QueueResponseData(b, device);
                ++device.MBytes;
                if (device.ReplyMode == kReplyModeFramed && b == kCr) {
                    device.ReplyMode = kReplyModeNone;
                }
                if (device.MBytes >= kEReplyMaxBytes) {
                    device.ReplyMode = kReplyModeNone;
                }
            } else if (b == kEHeader0) {
                device.CheckSum = static_cast<std::uint8_t>(kCheckSumSeed + kEHeader0);
                device.PacketIndex = 1;
            } else if (b == kSoh) {
                device.ReplyMode = kReplyModeFramed;
                device.MBytes = 1;
                QueueResponseData(b, device);
            }
            break;
        case 1:
            if (b == kEHeader1) {
                EAccept(device, b);
            } else if (b == kEHeader0) {
                ERestart(device);
            } else {
                // 'U' and this byte begin a reply that ends by count only.
                device.ReplyMode = kReplyModeCounted;
                device.MBytes = 2;
                QueueResponseData(kEHeader0, device);
                QueueResponseData(b, device);
                device.PacketIndex = 0;
            }
            break;
        case 2:
            if (b & kLeadMarker) {
                EAccept(device, b);
            } else {
                ERestartOrDrop(device, b);
            }
            break;
        case 3:
        case 5:
        case 7:
            EAccept(device, b);
            break;
        case 4:
        case 6:
            if ((b & kHighNibble) == 0) {
                EAccept(device, b);
            } else {
                ERestartOrDrop(device, b);
            }
            break;
        case 8:
            if (b == 0x00) {
                device.PacketIndex = 9;
            } else {
                ERestartOrDrop(device, b);
            }
            break;
        default: // 9: byte 9 (the checksum byte) completes the packet, whatever it holds
            DispatchEPacket(device);
            device.PacketIndex = 0;
            break;
        }
    }
}

void DecodeChunkLocked(Rs232Device& device, const std::uint8_t* bytes, std::size_t count) {
    if (count == 0 || bytes == nullptr) {
        return;
    }
    // The one place where the packet format picks the decoder; a change of PacketFormat
    // takes effect at the next chunk.
    if (device.PacketFormat == kPacketFormatE) {
        EDecodeData(device, bytes, count);
    } else {
        MDecodeData(device, bytes, count);
    }
}

void DecodeChunk(Rs232Device& device, const std::uint8_t* bytes, std::size_t count) {
    if (count == 0 || bytes == nullptr) {
        return;
    }
    std::lock_guard guard(device.Lock);
    DecodeChunkLocked(device, bytes, count);
}

void DecodeReadBuffer(Rs232Device& device, std::size_t count) {
    std::lock_guard guard(device.Lock);
    DecodeChunkLocked(device, device.ReadBuffer, std::min(count, kReadBufferBytes));
}

bool QueueResponseData(std::uint8_t byte, Rs232Device& device) {
    return device.ResponseQueue.append(byte);
}

std::size_t ReadQueueData(Rs232Device& device, std::uint8_t* out, std::size_t wanted) {
    if (out == nullptr) {
        return 0;
    }
    return device.ResponseQueue.take(out, wanted);
}

void FlushQueueData(Rs232Device& device) {
    device.ResponseQueue.flush();
}

std::uint32_t QueueDataLength(const Rs232Device& device) {
    return device.ResponseQueue.count();
}

std::uint8_t HexStringToByte(const char* text, std::size_t n) {
    std::uint8_t acc = 0;
    if (text == nullptr) {
        return acc;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            acc = static_cast<std::uint8_t>(acc * 16 + (c - '0'));
        } else if (c >= 'A' && c <= 'F') {
            acc = static_cast<std::uint8_t>(acc * 16 + (c - 'A' + 10));
        } else if (c >= 'a' && c <= 'f') {
            acc = static_cast<std::uint8_t>(acc * 16 + (c - 'a' + 10));
        }
    }
    return acc;
}

std::uint8_t HexStringToByte(const std::uint8_t* text, std::size_t n) {
    return HexStringToByte(reinterpret_cast<const char*>(text), n);
}

} // namespace kvr::engine
