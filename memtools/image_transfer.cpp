#include "memtools/image_transfer.h"

#include "protocol/commands.h"
#include "protocol/frame.h"

#include <vector>

namespace kvr::memtools {
namespace {

// Failure limits of an image read: the read is abandoned when the count exceeds them.
constexpr int kBadFrameLimit = 1;    // 6-byte replies that are no parameter reply
constexpr int kWrongLengthLimit = 2; // replies of any other length

std::string addressText(int wordNumber) {
    return protocol::hexText(imageAddress(wordNumber));
}

// One try at reading word n: flush, "GP", wait, read.
std::vector<std::uint8_t> requestWord(protocol::ControllerSession& controller, int wordNumber) {
    // A frame of its own: the transfer may run beside handlers that build frames in the
    // program's shared buffer.
    protocol::CommandFrame frame;
    protocol::BuildGetParameter(frame, addressText(wordNumber));
    return controller.exchange(frame, kWordReadWaitMs, protocol::kReplyReadSize).bytes;
}

// One try at writing word n: flush, "SP", wait, read. True when acknowledged.
bool storeWord(protocol::ControllerSession& controller, int wordNumber, ImageWord word) {
    protocol::CommandFrame frame;
    protocol::BuildSetParameter(frame, addressText(wordNumber), protocol::hexText(word.byte1),
                                protocol::hexText(word.byte2));
    const protocol::ExchangeReply reply =
        controller.exchange(frame, kWordWriteWaitMs, protocol::kReplyReadSize);
    return reply.written != 0 && protocol::startsWithAcknowledge(reply.bytes);
}

} // namespace

WordReadJudge::Verdict WordReadJudge::judge(protocol::Bytes reply, ImageWord& word) {
    const protocol::ParameterReply r = protocol::judgeParameterReply(reply);
    if (r.valid()) {
        word = {r.value.first, r.value.second};
        failures_ = 0;
        triesOfWord_ = 0;
        return Verdict::Stored;
    }
    ++failures_;
    ++triesOfWord_;
    // A well-framed reply with characters that are no hex digits is as bad as a broken frame:
    // the bytes cannot be trusted.
    const int limit =
        reply.size() == protocol::kParameterReplyLength ? kBadFrameLimit : kWrongLengthLimit;
    if (failures_ > limit || triesOfWord_ >= kWordTries) return Verdict::Abandon;
    return Verdict::Retry;
}

void queryUnitType(protocol::ControllerSession& controller, std::uint16_t waitMs) {
    controller.exchange(protocol::command::kUnitType, waitMs, protocol::kReplyReadSize,
                        protocol::Flush::None);
}

ImageReadResult readImage(protocol::ControllerSession& controller, const Progress& progress) {
    ImageReadResult result;
    queryUnitType(controller, kUnitTypeWaitBeforeReadMs);
    WordReadJudge judge;
    for (int n = 1; n <= kImageWords; ++n) {
        for (;;) {
            const std::vector<std::uint8_t> reply = requestWord(controller, n);
            const auto verdict = judge.judge(reply, result.image[static_cast<std::size_t>(n - 1)]);
            if (verdict == WordReadJudge::Verdict::Stored) break;
            if (verdict == WordReadJudge::Verdict::Abandon) {
                result.reason = "no valid reply for the word at " + addressText(n) + " (" +
                                std::to_string(reply.size()) + " bytes)";
                return result;
            }
        }
        result.wordsRead = n;
        if (progress) progress(n);
    }
    result.complete = true;
    return result;
}

ImageWriteResult writeImage(protocol::ControllerSession& controller, const SettingsImage& image,
                            const Progress& progress) {
    ImageWriteResult result;
    queryUnitType(controller, kUnitTypeWaitBeforeWriteMs);
    for (int n = 1; n <= kImageWords; ++n) {
        int tries = 0;
        while (!storeWord(controller, n, image[static_cast<std::size_t>(n - 1)])) {
            if (++tries >= kWordTries) {
                result.reason = "the word at " + addressText(n) + " was not acknowledged";
                return result;
            }
        }
        result.wordsWritten = n;
        if (progress) progress(n);
    }
    result.complete = true;
    return result;
}

} // namespace kvr::memtools
