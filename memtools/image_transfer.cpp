#include "memtools/image_transfer.h"

#include "protocol/commands.h"
#include "protocol/frame.h"

#include <algorithm>
#include <optional>
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

// The acknowledgements (SOH '0' CR) at the start of `reply`, and what follows them.
struct SplitReply {
    int acknowledges = 0;
    protocol::Bytes rest;
};
SplitReply splitAcknowledges(protocol::Bytes reply) {
    SplitReply r{0, reply};
    while (r.rest.size() >= protocol::kAcknowledgeLength &&
           protocol::startsWithAcknowledge(r.rest.first(protocol::kAcknowledgeLength))) {
        ++r.acknowledges;
        r.rest = r.rest.subspan(protocol::kAcknowledgeLength);
    }
    return r;
}

// Writing one word, with its replies judged against its own frames. An acknowledgement says
// nothing about which frame it answers, so a reply that came too late for its own frame would
// be taken for the next frame's. The writer therefore counts the replies still owed by frames
// it gave up waiting for: while one is owed, a lone acknowledgement is taken for that late
// reply and the word is read back instead; a word that got no acknowledgement in time is read
// back ("GP") before it is sent again, so a late reply never makes a word go out twice.
class WordWriter {
public:
    explicit WordWriter(protocol::ControllerSession& controller) : controller_(controller) {}

    bool write(int wordNumber, ImageWord word) {
        expected_ = word;
        int tries = 0;
        bool send = true;
        for (;;) {
            if (send) {
                const auto reply = sendWord(wordNumber, word);
                if (!reply) return false; // the library refused the frame
                if (*reply) return true;
                if (++tries >= kWordTries) return false;
            }
            const ReadBack back = readBack(wordNumber);
            if (back == ReadBack::Matches) return true;
            // A word that reads back otherwise is sent again; one that did not read back at
            // all is read again.
            send = back == ReadBack::Differs;
            if (!send && ++tries >= kWordTries) return false;
        }
    }

private:
    enum class ReadBack { Matches, Differs, NoAnswer };

    // Takes the acknowledgements at the start of a reply for replies still owed; what is left.
    int payOwed(int acknowledges) {
        const int paid = std::min(acknowledges, owed_);
        owed_ -= paid;
        return acknowledges - paid;
    }

    // One "SP": flush, frame, wait, read. Nothing when the library refused the frame; else
    // whether this frame's own acknowledgement came.
    std::optional<bool> sendWord(int wordNumber, ImageWord word) {
        protocol::CommandFrame frame;
        protocol::BuildSetParameter(frame, addressText(wordNumber), protocol::hexText(word.byte1),
                                    protocol::hexText(word.byte2));
        const protocol::ExchangeReply reply =
            controller_.exchange(frame, kWordWriteWaitMs, protocol::kReplyReadSize);
        if (reply.written == 0) return std::nullopt;
        const SplitReply split = splitAcknowledges(reply.bytes);
        const bool ownAcknowledge = payOwed(split.acknowledges) > 0;
        if (!ownAcknowledge) ++owed_; // its reply may yet come
        return ownAcknowledge;
    }

    // One "GP" of the word just written: late acknowledgements in front of its value are
    // taken for the replies owed.
    ReadBack readBack(int wordNumber) {
        protocol::CommandFrame frame;
        protocol::BuildGetParameter(frame, addressText(wordNumber));
        const protocol::ExchangeReply reply =
            controller_.exchange(frame, kWordReadWaitMs, protocol::kReplyReadSize);
        const SplitReply split = splitAcknowledges(reply.bytes);
        payOwed(split.acknowledges);
        const protocol::ParameterReply value = protocol::judgeParameterReply(split.rest);
        if (!value.valid()) return ReadBack::NoAnswer;
        return value.value.first == expected_.byte1 && value.value.second == expected_.byte2
                   ? ReadBack::Matches
                   : ReadBack::Differs;
    }

    protocol::ControllerSession& controller_;
    int owed_ = 0; // replies of frames given up on that have not come yet
    ImageWord expected_{};
};

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
    WordWriter writer(controller);
    for (int n = 1; n <= kImageWords; ++n) {
        const ImageWord word = image[static_cast<std::size_t>(n - 1)];
        if (!writer.write(n, word)) {
            result.reason = "the word at " + addressText(n) + " was not acknowledged";
            return result;
        }
        result.wordsWritten = n;
        if (progress) progress(n);
    }
    result.complete = true;
    return result;
}

} // namespace kvr::memtools
