#pragma once
// Reading and writing the settings image over the touch API library, one word at a time with
// the "GP" and "SP" frames, on a controller session the caller has opened.
//
//   read:   "UT" (no flush), 100 ms, read 10 (ignored); then per word n = 1..35:
//           flush, "GP" + address, 200 ms, read 10, judge the reply
//   write:  "UT" (no flush), 200 ms, read 10 (ignored); then per word n = 1..35:
//           flush, "SP" + address + byte 1 + byte 2, 350 ms, read 10 (and a read-back below)
//
// The windows run a transfer on their library worker; `progress` is called after each word
// with the number of words done so far (on the thread the transfer runs on).
//
// A word whose read fails is read again, up to kWordTries tries, and never written to a
// backup as zeros: a backup with holes would corrupt the controller it is restored to. The
// failure counts are kept across words as the controller family's tools always kept them:
//   - a valid reply stores the word and sets the failure count to 0;
//   - 6 bytes that are not a valid parameter reply (framing or digits): count + 1, and the
//     read is abandoned when the count is then above 1;
//   - any other number of bytes: count + 1, abandoned when the count is then above 2;
//   - a word that has failed kWordTries times abandons the read.
// So two wrong-length replies in a row are tolerated and a third abandons; two badly framed
// replies in a row abandon. A try that read nothing leaves its reply owed: until it came, the
// next try of the word reads what waits instead of flushing it, and the next word is asked for
// only once it came (or 2 s passed), so a late reply is never taken for the next word's.
//
// Writing judges the reply too, each against its own frame: a word whose acknowledgement
// (SOH '0' CR) did not come in time is read back with "GP" (flush, 200 ms, read 10) and sent
// again only when it reads back otherwise, so a late reply never makes a word go out twice;
// and while such a late reply is still owed, the bytes waiting before a frame are read and
// counted rather than flushed unseen, and a lone acknowledgement is taken for the late reply,
// not for the next word (which is then read back). After kWordTries failed tries of one word the
// write is abandoned, so a controller that stops answering half way is reported instead of
// taken for a success.

#include "memtools/settings_image.h"
#include "protocol/replies.h"
#include "protocol/session.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kvr::memtools {

inline constexpr std::uint16_t kUnitTypeWaitBeforeReadMs = 100;
inline constexpr std::uint16_t kUnitTypeWaitBeforeWriteMs = 200;
inline constexpr std::uint16_t kWordReadWaitMs = 200;
inline constexpr std::uint16_t kWordWriteWaitMs = 350;
inline constexpr int kWordTries = 3;

// Called after each word with the number of words done (1..35).
using Progress = std::function<void(int wordsDone)>;

// The failure counting of an image read, apart from any I/O (see above).
class WordReadJudge {
public:
    enum class Verdict {
        Stored,  // `word` holds the reply's bytes; go on with the next word
        Retry,   // read the same word again
        Abandon, // the read is over
    };
    Verdict judge(protocol::Bytes reply, ImageWord& word);
    [[nodiscard]] int failureCount() const { return failures_; }

private:
    int failures_ = 0;    // kept across words, reset by a valid reply
    int triesOfWord_ = 0; // failed tries of the word being read
};

struct ImageReadResult {
    bool complete = false;
    SettingsImage image{};
    int wordsRead = 0;
    std::string reason; // why it was abandoned
};

struct ImageWriteResult {
    bool complete = false;
    int wordsWritten = 0;
    std::string reason; // why it was abandoned
};

// Sends the unit type query "UT" once without a flush, waits `waitMs` and reads (and drops)
// up to 10 reply bytes.
void queryUnitType(protocol::ControllerSession& controller, std::uint16_t waitMs);

// Reads the 35 words (with "UT" first).
ImageReadResult readImage(protocol::ControllerSession& controller, const Progress& progress = {});

// Writes the 35 words (with "UT" first).
ImageWriteResult writeImage(protocol::ControllerSession& controller, const SettingsImage& image,
                            const Progress& progress = {});

} // namespace kvr::memtools
