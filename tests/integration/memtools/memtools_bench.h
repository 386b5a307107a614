#pragma once
// The bench of the memory tools' tests: the driver daemon with one emulated controller on
// COM1 (serial unit 0) whose settings image words all differ, and the application key that
// an installed system has.

#include "memtools/settings_image.h"
#include "platform/registry/registry.h"
#include "tests/integration/tsapi/tsapi_harness.h"

#include <string>

namespace kvr::test::tsapi {

// Word 30 of the image is 9E, which also holds the sensor wiring code.
inline constexpr std::uint16_t kWord9E = 0x104C;

// Word n of the emulated image: all different, with bytes from 0 to 15 among them.
inline std::uint16_t imageWordValue(int n) {
    if (memtools::imageAddress(n) == 0x9E) return kWord9E;
    return static_cast<std::uint16_t>(n < 16 ? n : (n * 0x0731) ^ 0x5A00);
}

class MemtoolsBench {
public:
    explicit MemtoolsBench(bool withController = true) {
        if (!bench_.ready()) return;
        reg::createKey("HKLM\\SYSTEM\\CurrentControlSet\\Control\\KvrApp");
        if (!withController) {
            ok_ = true;
            return;
        }
        auto profile = Sim::defaultProfile();
        for (int n = 1; n <= memtools::kImageWords; ++n)
            profile.defaults[memtools::imageAddress(n)] = imageWordValue(n);
        sim_ = bench_.addSerial(0, 1, profile);
        ok_ = sim_ != nullptr;
    }
    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] std::string why() const { return bench_.diagnostics(); }
    Bench& bench() { return bench_; }
    Sim& sim() { return *sim_; }
    std::uint16_t word(std::uint8_t address) const {
        return sim_->pty().inspect([address](const emu::Controller& c) { return c.word(address); });
    }
    std::size_t mark() const { return sim_->frameTexts().size(); }

private:
    Bench bench_;
    Sim* sim_ = nullptr;
    bool ok_ = false;
};

} // namespace kvr::test::tsapi
