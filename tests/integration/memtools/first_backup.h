#pragma once
// A first backup ("eepdef.eep", with its marker) already in the test's state folder, holding
// the emulated controller's settings image, as on a machine where it was taken before. For
// tests that start the control panel where the backup is not what they test: its start-up
// then skips the first-start backup, 35 words read one by one from the controller.

#include "emulator/profile.h"
#include "memtools/backup_file.h"
#include "memtools/settings_image.h"
#include "tests/support/test_env.h"

#include <cstdint>

namespace kvr::test {

inline bool writeFirstBackup(const emu::ControllerProfile& profile) {
    memtools::BackupContents contents;
    for (int n = 1; n <= memtools::kImageWords; ++n) {
        const std::uint16_t word = profile.defaults[memtools::imageAddress(n)];
        contents.image[static_cast<std::size_t>(n - 1)] = {static_cast<std::uint8_t>(word >> 8),
                                                           static_cast<std::uint8_t>(word & 0xFF)};
    }
    return memtools::writeBackupFile(stateDir() / memtools::kInstallDefaultsFile, contents);
}

} // namespace kvr::test
