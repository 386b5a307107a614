// Arbitrary bytes as a customisation file of both formats: the reader never crashes, keeps
// only items of the kind each item must be, warns exactly when it stops short, and reads the
// items both formats share the same way.
#include "panel/customisation.h"
#include "panel/text_file.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace kvr::panel;

void check(bool ok) {
    if (!ok) std::abort();
}

int itemCount(CustomisationFormat format) {
    return format == CustomisationFormat::Format3203 ? kItemsFormat3203 : kItemsFormat32;
}

void checkItems(const Customisation& c, const std::string& warning) {
    const int count = itemCount(c.format());
    check(c.itemsRead() <= count);
    check(warning.empty() == (c.itemsRead() == count));
    for (int n = 1; n <= c.itemsRead(); ++n) {
        const CustomisationItem& item = *c.item(n);
        check(toUtf8(item.text) == item.text);
        switch (itemKind(n)) {
        case ItemKind::ByteFlag:
            check(item.number == 0 || item.number == 1);
            break;
        case ItemKind::Number:
            check(item.number >= INT32_MIN && item.number <= INT32_MAX);
            break;
        case ItemKind::Line:
        case ItemKind::LineFlag:
            check(item.text.find_first_of("\r\n") == std::string::npos);
            break;
        default:
            break;
        }
    }
    check(c.item(c.itemsRead() + 1) == nullptr);
    (void)c.hiddenKeys();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string warning32;
    std::string warning3203;
    const Customisation c32 =
        Customisation::parse(text, CustomisationFormat::Format32, kCustomisationFile32, &warning32);
    const Customisation c3203 = Customisation::parse(text, CustomisationFormat::Format3203,
                                                     kCustomisationFile3203, &warning3203);
    checkItems(c32, warning32);
    checkItems(c3203, warning3203);
    // Items 1..125 read alike in both formats.
    check(c32.itemsRead() == std::min(c3203.itemsRead(), kItemsFormat32));
    for (int n = 1; n <= c32.itemsRead(); ++n)
        check(c32.item(n)->text == c3203.item(n)->text);
    return 0;
}
