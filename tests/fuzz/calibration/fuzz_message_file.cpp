// Arbitrary bytes as a calibration message file: the reader never crashes, gives a scale the
// programs can draw with, and fills every slot with at most 127 bytes of one line, or
// reports the format error.
#include "calibration/message_file.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kvr::calibration;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    MessageTable table = threePointMessages();
    const MessageFileStatus status = parseMessageText(text, table);
    check(status == MessageFileStatus::Read || status == MessageFileStatus::FormatError);
    check(table.fontScale <= kMaxFontScale);
    if (status != MessageFileStatus::Read) return 0;
    for (const std::string& slot : table.texts) {
        check(slot.size() <= kSlotCharacters);
        check(slot.find('\n') == std::string::npos);
    }
    (void)countdownText(table, -1);
    return 0;
}
