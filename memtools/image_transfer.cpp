#include "memtools/image_transfer.h"

#include "protocol/commands.h"
#include "protocol/frame.h"
#include "protocol/wait.h"

#include <algorithm>
#include <chrono>
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

// Reading the words, each reply taken for the word whose frame it answers. A parameter reply
// does not name its word, so a reply that came too late for its own "GP" would be taken for
// the next word's, and the backup would hold one word's value at another's place. The reader
// therefore counts the reply bytes still owed by tries that read nothing at all (a reply on its
// way, not a lost one: a short reply's tail can never pass for a reply of its own, which starts
// with SOH). While any are owed, the bytes waiting before the next try of the same word are
// read and counted instead of flushed unseen (any reply of the word is the word's value), and
// before the next word is asked for they are awaited, for at most kLostReplyAfter after the
// last try that owed them; then the ordinary flush drops whatever is left.
class WordReader {
public:
    explicit WordReader(protocol::ControllerSession& controller) : controller_(controller) {}

    // One try at reading word n: flush (or count what is waiting), "GP", wait, read.
    std::vector<std::uint8_t> request(int wordNumber) {
        // A frame of its own: the transfer may run beside handlers that build frames in the
        // program's shared buffer.
        protocol::CommandFrame frame;
        protocol::BuildGetParameter(frame, addressText(wordNumber));
        protocol::Flush flush = protocol::Flush::Before;
        if (owedBytes_ > 0) {
            pay(controller_.readPending(kPendingReadBytes).size());
            flush = protocol::Flush::None;
        }
        auto bytes =
            controller_.exchange(frame, kWordReadWaitMs, protocol::kReplyReadSize, flush).bytes;
        if (bytes.empty() || owedBytes_ > 0) {
            // This try's reply is owed too; the bytes read pay for the earliest ones.
            owedBytes_ += protocol::kParameterReplyLength;
            pay(bytes.size());
            owedSince_ = Clock::now();
        }
        return bytes;
    }

    // Before the next word: waits for the replies still owed by the word just read.
    void settle() {
        while (owedBytes_ > 0 && Clock::now() - owedSince_ < kLostReplyAfter) {
            const auto waiting = controller_.readPending(kPendingReadBytes);
            if (waiting.empty())
                protocol::WaitMilliseconds(kSettleStepMs);
            else
                pay(waiting.size());
        }
        owedBytes_ = 0;
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kLostReplyAfter{2000};
    static constexpr std::uint16_t kSettleStepMs = 20;
    static constexpr std::size_t kPendingReadBytes = 256;

    void pay(std::size_t bytes) {
        owedBytes_ = bytes >= owedBytes_ ? 0 : owedBytes_ - bytes;
    }

    protocol::ControllerSession& controller_;
    std::size_t owedBytes_ = 0;
    Clock::time_point owedSince_{};
};

// A reply with its acknowledgements (SOH '0' CR, wherever they stand) taken out: how many there
// were, and the bytes left. No other reply holds that sequence (a value's digits are never CR).
struct SplitReply {
    int acknowledges = 0;
    std::vector<std::uint8_t> rest;
};
SplitReply splitAcknowledges(protocol::Bytes reply) {
    SplitReply r;
    for (std::size_t i = 0; i < reply.size();) {
        if (reply.size() - i >= protocol::kAcknowledgeLength &&
            protocol::startsWithAcknowledge(reply.subspan(i, protocol::kAcknowledgeLength))) {
            ++r.acknowledges;
            i += protocol::kAcknowledgeLength;
        } else {
            r.rest.push_back(reply[i++]);
        }
    }
    return r;
}

// Writing one word, with its replies judged against its own frames. An acknowledgement says
// nothing about which frame it answers, so a reply that came too late for its own frame would
// be taken for the next frame's. The writer therefore counts the replies still owed by frames
// it gave up waiting for. While one is owed, the bytes waiting before a frame are read and
// counted instead of flushed unseen, and a lone acknowledgement is taken for the late reply,
// so the word is read back instead. A word that got no acknowledgement in time is read back
// ("GP") before it is sent again, so a late reply never makes a word go out twice. A reply
// owed for longer than kLostReplyAfter is taken as lost (a controller that dropped it).
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
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kLostReplyAfter{2000};
    static constexpr std::size_t kPendingReadBytes = 256;

    // Takes acknowledgements for replies still owed; the number left over.
    int payOwed(int acknowledges) {
        const int paid = std::min(acknowledges, owed_);
        owed_ -= paid;
        return acknowledges - paid;
    }
    void owe() {
        if (owed_++ == 0) owedSince_ = Clock::now();
    }

    // The flush before a frame: while replies are owed, the waiting bytes are read and their
    // acknowledgements paid instead (the frame then goes without a flush of its own).
    protocol::Flush settleBefore() {
        if (owed_ > 0 && Clock::now() - owedSince_ > kLostReplyAfter) owed_ = 0;
        if (owed_ == 0) return protocol::Flush::Before;
        payOwed(splitAcknowledges(controller_.readPending(kPendingReadBytes)).acknowledges);
        return protocol::Flush::None;
    }

    // One "SP": frame, wait, read. Nothing when the library refused the frame; else whether
    // this frame's own acknowledgement came.
    std::optional<bool> sendWord(int wordNumber, ImageWord word) {
        protocol::CommandFrame frame;
        protocol::BuildSetParameter(frame, addressText(wordNumber), protocol::hexText(word.byte1),
                                    protocol::hexText(word.byte2));
        const protocol::Flush flush = settleBefore();
        const protocol::ExchangeReply reply =
            controller_.exchange(frame, kWordWriteWaitMs, protocol::kReplyReadSize, flush);
        if (reply.written == 0) return std::nullopt;
        const SplitReply split = splitAcknowledges(reply.bytes);
        const bool ownAcknowledge = payOwed(split.acknowledges) > 0;
        // Nothing of its own came: its reply may yet come. (Other bytes are taken for its
        // reply, refused or garbled.)
        if (!ownAcknowledge && split.rest.empty()) owe();
        return ownAcknowledge;
    }

    // One "GP" of the word just written; late acknowledgements around its value are paid.
    ReadBack readBack(int wordNumber) {
        protocol::CommandFrame frame;
        protocol::BuildGetParameter(frame, addressText(wordNumber));
        const protocol::Flush flush = settleBefore();
        const protocol::ExchangeReply reply =
            controller_.exchange(frame, kWordReadWaitMs, protocol::kReplyReadSize, flush);
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
    Clock::time_point owedSince_{};
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
    WordReader reader(controller);
    for (int n = 1; n <= kImageWords; ++n) {
        reader.settle();
        for (;;) {
            const std::vector<std::uint8_t> reply = reader.request(n);
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
