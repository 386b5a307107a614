// Arbitrary bytes as a backup file: the reader never crashes, and whatever it accepts writes
// back to a file that reads the same.
#include "memtools/backup_file.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kvr::memtools;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ReadResult r = parseBackupFile(text);
    if (!r.usable()) return 0;
    const ReadResult again = parseBackupFile(formatBackupFile(r.contents));
    if (again.status != ReadStatus::Ok || !(again.contents == r.contents)) std::abort();
    return 0;
}
