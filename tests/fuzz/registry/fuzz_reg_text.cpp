// Arbitrary bytes as a file for `kvrreg import`: the reader never crashes, and whatever it
// accepts (keys whose names can be written back) exports to text that reads the same.
#include "platform/registry/reg_text.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kvr::reg;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<KeyValues> keys;
    ParseError error;
    if (!parseRegText(text, keys, error)) {
        if (error.line == 0 || error.reason.empty()) std::abort();
        return 0;
    }
    std::string exported;
    for (const KeyValues& key : keys) {
        if (keyPathIsAmbiguous(key.path)) return 0;
        exported += formatKeyLine(key.path) + "\n";
        for (const Value& value : key.values)
            exported += formatValueLine(value) + "\n";
        exported += "\n";
    }
    std::vector<KeyValues> again;
    if (!parseRegText(exported, again, error) || again.size() != keys.size()) std::abort();
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (again[i].path != keys[i].path || again[i].values != keys[i].values)
            std::abort();
    return 0;
}
