#include "tests/integration/tsapi/tsapi_harness.h"

#include "platform/registry/registry.h"
#include "tests/support/test_env.h"
#include "tsapi/tsapi.h"

#include <sstream>
#include <utility>

namespace kvr::test::tsapi {

Bench::Bench() : Bench(Options{}) {}

Bench::Bench(Options options) : options_(options) {
    if (options.serial) serial_ = std::make_unique<Daemon>(false, options.serialArgs);
    if (options.usb) usb_ = std::make_unique<Daemon>(true, options.usbArgs);
}

Bench::~Bench() {
    serial_.reset();
    usb_.reset();
    serialSims_.clear();
    usbSims_.clear();
}

bool Bench::ready() const {
    return (!serial_ || serial_->ready()) && (!usb_ || usb_->ready());
}

std::string Bench::diagnostics() const {
    std::ostringstream out;
    if (serial_) out << "serial daemon: " << serial_->process().stderrText() << "\n";
    if (usb_) out << "USB daemon: " << usb_->process().stderrText() << "\n";
    return out.str();
}

bool Bench::restartSerialDaemon(int signal) {
    if (serial_) {
        serial_->process().signal(signal);
        serial_->process().wait();
        serial_.reset();
    }
    serial_ = std::make_unique<Daemon>(false, options_.serialArgs);
    return serial_->ready();
}

Sim* Bench::addSerial(std::uint8_t unit, std::uint32_t com, emu::ControllerProfile profile,
                      bool connectIt) {
    auto sim = std::make_unique<Sim>("COM" + std::to_string(com), std::move(profile));
    if (!sim->ok()) return nullptr;
    Sim* raw = sim.get();
    serialSims_[unit] = std::move(sim);
    if (connectIt && !connect(unit, com, *raw)) return nullptr;
    return raw;
}

Sim* Bench::addUsb(std::uint8_t unit, emu::ControllerProfile profile) {
    auto sim = std::make_unique<Sim>("usb" + std::to_string(unit), std::move(profile));
    if (!sim->ok()) return nullptr;
    Sim* raw = sim.get();
    usbSims_[unit] = std::move(sim);
    if (!raw->waitFrame("GP9E")) return nullptr;
    const std::string marker = "USB_DEVICE" + std::to_string(unit);
    std::uint32_t value = 0;
    if (!waitUntil(
            [&] { return reg::queryDword(kControllerKey, marker, value) == reg::Status::Ok; }))
        return nullptr;
    return raw;
}

bool Bench::connect(std::uint8_t unit, std::uint32_t com, Sim& sim) {
    if (!serial_) return false;
    const auto profile = sim.pty().inspect([](const emu::Controller& c) { return c.profile(); });
    Client client;
    return client.ok() && driver::connectUntilGreeted(serial_->process(), client, unit, profile,
                                                      [&] { return client.connect(unit, com); });
}

Sim* Bench::serialSim(std::uint8_t unit) {
    const auto it = serialSims_.find(unit);
    return it == serialSims_.end() ? nullptr : it->second.get();
}

Sim* Bench::usbSim(std::uint8_t unit) {
    const auto it = usbSims_.find(unit);
    return it == usbSims_.end() ? nullptr : it->second.get();
}

bool writeMarkers(const std::vector<std::string>& names) {
    if (reg::createKey(kControllerKey) != reg::Status::Ok) return false;
    for (const auto& name : names)
        if (reg::setDword(kControllerKey, name, 1) != reg::Status::Ok) return false;
    return true;
}

bool clearMarkers() {
    const auto status = reg::deleteKey(kControllerKey);
    return status == reg::Status::Ok || status == reg::Status::NotFound;
}

std::vector<std::string> framesSince(const Sim& sim, std::size_t from) {
    auto texts = sim.frameTexts();
    if (from >= texts.size()) return {};
    return {texts.begin() + static_cast<std::ptrdiff_t>(from), texts.end()};
}

std::size_t countFrames(const Sim& sim, const std::string& text, std::size_t from) {
    std::size_t n = 0;
    for (const auto& t : framesSince(sim, from))
        n += t == text ? 1 : 0;
    return n;
}

namespace {

using Run = std::pair<std::string, std::size_t>;

std::vector<Run> runsOf(const std::vector<std::string>& frames) {
    std::vector<Run> runs;
    for (const auto& f : frames) {
        if (runs.empty() || runs.back().first != f)
            runs.emplace_back(f, 1);
        else
            ++runs.back().second;
    }
    return runs;
}

std::string joined(const std::vector<std::string>& frames) {
    std::string out;
    for (const auto& f : frames)
        out += (out.empty() ? "" : " ") + f;
    return "{" + out + "}";
}

} // namespace

::testing::AssertionResult sameExchanges(const std::vector<std::string>& got,
                                         const std::vector<std::string>& expected,
                                         std::size_t attempts) {
    const auto g = runsOf(got);
    const auto e = runsOf(expected);
    bool same = g.size() == e.size();
    for (std::size_t i = 0; same && i < g.size(); ++i)
        same = g[i].first == e[i].first && g[i].second >= e[i].second &&
               g[i].second <= e[i].second * attempts;
    if (same) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "frames " << joined(got) << " are not " << joined(expected) << " with up to "
           << attempts << " attempts per exchange";
}

OpenedController::OpenedController(const std::string& name, bool enumerate) {
    if (enumerate) GetExistControllers();
    handle_ = OpenController(name.c_str());
}

OpenedController::~OpenedController() {
    if (handle_ != -1) CloseController(handle_);
}

} // namespace kvr::test::tsapi
