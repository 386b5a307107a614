// Arbitrary bytes as the message file errmsg.txt: the reader never crashes, every slot holds
// one line of valid UTF-8, slots past the file's lines keep their built-in texts and slot 100
// is never filled from the file.
#include "panel/messages.h"
#include "panel/text_file.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kvr::panel::MessageTable;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = kvr::panel::splitTextLines(text);
    MessageTable table;
    table.parse(text);
    for (std::size_t slot = 0; slot < MessageTable::kSlots; ++slot) {
        const std::string& s = table.text(slot);
        if (slot < MessageTable::kFileLines && slot < lines.size())
            check(s == lines[slot]);
        else
            check(s == MessageTable::builtinText(slot));
        check(s.find_first_of("\r\n") == std::string::npos);
        check(kvr::panel::toUtf8(s) == s);
    }
    check(table.text(MessageTable::kSlots).empty());
    return 0;
}
