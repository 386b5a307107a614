#include "emulator/profile.h"

#include <ostream>

namespace kvr::emu {

std::string ControllerProfile::identification() const {
    if (identificationOverride) return *identificationOverride;
    std::string id = vendorTag;
    id.resize(8, ' ');
    id += formatPrefix;
    id += formatDigit;
    return id;
}

std::array<uint16_t, kSettingsWords> factoryDefaults() {
    std::array<uint16_t, kSettingsWords> w{};
    // The 35-word settings image 81..A3 that backups hold. It spans the named words 98..9F
    // too, which are set after it.
    constexpr std::array<uint16_t, 35> image = {
        0x0A32, 0x1E05, 0x0F0F, 0x3C00, 0x0001, 0x00FF, 0x0FA0, 0x0020, 0x0FE0,
        0x0020, 0x0FE0, 0x8040, 0x1234, 0x0506, 0x2828, 0x6464, 0x0102, 0x0304,
        0x00C8, 0x0096, 0x0708, 0x090A, 0xA55A, 0x0B0C, 0x1F1F, 0x0000, 0x7F7F,
        0x0D0E, 0x3210, 0x4444, 0x00AA, 0x5500, 0x1122, 0x3344, 0xC0DE,
    };
    for (size_t n = 0; n < image.size(); ++n)
        w[0x81 + n] = image[n];
    // Word = (first byte << 8) | second byte, as "GP" returns them.
    w[0x01] = 0x1403; // measurement time 20, in-focus 3
    w[0x02] = 0x7D00; // right-click time 125 x 8 ms = 1000 ms
    w[0x03] = 0x00FA; // out-focus 250
    w[0x05] = 0x00FA; // measurement delay 250
    w[0x98] = 0x0003; // both extended enables on
    w[0x99] = 0x1403; // the same tuning at the library's addresses (kept as separate words)
    w[0x9B] = 0x00FA;
    w[0x9C] = 0x0180; // touch sensitivity 1 ("Normal touch")
    w[0x9D] = 0x00FA;
    w[0x9E] = 0x0000; // display arrangement 0, index 0; sensor wiring code 0
    w[0x9F] = 0x32FA; // noise level 50, acceleration level 250
    // Linearity table 10..21: slot s = (x at 10+2s, y at 11+2s) on a 12-bit ideal grid: the
    // centre, then the edge points around the screen, corners in the even slots, inset 1/16.
    constexpr uint16_t lo = 0x0100, mid = 0x0800, hi = 0x0F00;
    constexpr std::array<std::array<uint16_t, 2>, 9> slots = {{
        {mid, mid},
        {mid, lo},
        {hi, lo},
        {hi, mid},
        {hi, hi},
        {mid, hi},
        {lo, hi},
        {lo, mid},
        {lo, lo},
    }};
    for (size_t s = 0; s < slots.size(); ++s) {
        w[0x10 + 2 * s] = slots[s][0];
        w[0x11 + 2 * s] = slots[s][1];
    }
    return w;
}

namespace {

std::vector<ControllerProfile> makeProfiles() {
    std::vector<ControllerProfile> all;
    ControllerProfile base;
    base.defaults = factoryDefaults();
    all.push_back(base);

    ControllerProfile hf = base;
    hf.name = "nvlt3000-hf";
    hf.packets = PacketKind::MHighFirst;
    hf.formatDigit = '1';
    all.push_back(hf);

    ControllerProfile yinv = base;
    yinv.name = "nvlt3000-yinv";
    yinv.formatDigit = '3'; // the driver inverts Y for this model; the packets are plain M
    all.push_back(yinv);

    ControllerProfile e = base;
    e.name = "nvlt3000-e";
    e.packets = PacketKind::E;
    e.formatDigit = '2';
    all.push_back(e);

    ControllerProfile legacy = base;
    legacy.name = "legacy";
    legacy.unitType = "NVLT2000";
    legacy.identityText = "V32050";
    legacy.extensionLevel.reset();
    all.push_back(legacy);

    ControllerProfile foreign = base;
    foreign.name = "foreign";
    foreign.vendorTag = "Acme Tch";
    foreign.unitType = "ACME0001";
    foreign.identityText = "A1";
    all.push_back(foreign);

    ControllerProfile shortId = base;
    shortId.name = "short-id";
    shortId.identificationOverride = std::string("Lumarcon0");
    all.push_back(shortId);

    ControllerProfile mute = base;
    mute.name = "mute";
    mute.mute = true;
    all.push_back(mute);
    return all;
}

} // namespace

const std::vector<ControllerProfile>& builtinProfiles() {
    static const std::vector<ControllerProfile> profiles = makeProfiles();
    return profiles;
}

std::optional<ControllerProfile> profileByName(std::string_view name) {
    for (const auto& p : builtinProfiles())
        if (p.name == name) return p;
    return std::nullopt;
}

std::string_view packetKindName(PacketKind kind) {
    switch (kind) {
    case PacketKind::MLowFirst:
        return "m";
    case PacketKind::MHighFirst:
        return "m-hf";
    case PacketKind::E:
        return "e";
    }
    return "?";
}

std::optional<PacketKind> packetKindFromName(std::string_view name) {
    if (name == "m") return PacketKind::MLowFirst;
    if (name == "m-hf") return PacketKind::MHighFirst;
    if (name == "e") return PacketKind::E;
    return std::nullopt;
}

std::string_view reportModeName(ReportMode mode) {
    switch (mode) {
    case ReportMode::Off:
        return "off";
    case ReportMode::Stream:
        return "stream";
    case ReportMode::Point:
        return "point";
    }
    return "?";
}

std::ostream& operator<<(std::ostream& os, const ControllerProfile& profile) {
    return os << profile.name;
}

} // namespace kvr::emu
