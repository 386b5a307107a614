// Arbitrary bytes as a calibration message file: the reader never crashes, gives a scale the
// programs can draw with, and fills every slot with valid UTF-8 of at most 127 characters
// (127 bytes of the file, which may be in the Windows code page) of one line, or reports the
// format error.
#include "calibration/message_file.h"
#include "platform/common/text_encoding.h"

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
        check(kvr::text::isUtf8(slot));
        std::size_t characters = 0;
        for (const char c : slot)
            characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
        check(characters <= kSlotCharacters);
        check(slot.find('\n') == std::string::npos);
    }
    (void)countdownText(table, -1);
    return 0;
}
