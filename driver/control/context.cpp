#include "driver/control/context.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <utility>

namespace kvr::driver {

namespace {

constexpr std::string_view kProductKeyPath =
    "\\REGISTRY\\Machine\\SYSTEM\\CurrentControlSet\\Control\\Kvr";

// Slot layout of the event table; a reference is its slot number + 1 (0 is "no event").
constexpr std::size_t kDownSlots = 0;
constexpr std::size_t kUpSlots = kDownSlots + engine::kMaxDevices;
constexpr std::size_t kReinitSlots = kUpSlots + engine::kMaxDevices;
constexpr std::size_t kGlobalDownSlot = kReinitSlots + engine::kMaxDevices;
constexpr std::size_t kGlobalUpSlot = kGlobalDownSlot + 1;
constexpr std::size_t kManualRightSlot = kGlobalUpSlot + 1;

constexpr engine::EventRef refOfSlot(std::size_t slot) {
    return slot + 1;
}

// An index past the device table names no slot (kNoEvent), so it can never set another
// device's event.
constexpr engine::EventRef perDeviceRef(std::size_t base, std::uint8_t device) {
    return device < engine::kMaxDevices ? refOfSlot(base + device) : engine::kNoEvent;
}

} // namespace

// ---- EventTable --------------------------------------------------------------------------------

engine::EventRef EventTable::downEvent(std::uint8_t device) {
    return perDeviceRef(kDownSlots, device);
}
engine::EventRef EventTable::upEvent(std::uint8_t device) {
    return perDeviceRef(kUpSlots, device);
}
engine::EventRef EventTable::reinitEvent(std::uint8_t device) {
    return perDeviceRef(kReinitSlots, device);
}
engine::EventRef EventTable::globalDownEvent() {
    return refOfSlot(kGlobalDownSlot);
}
engine::EventRef EventTable::globalUpEvent() {
    return refOfSlot(kGlobalUpSlot);
}
engine::EventRef EventTable::manualRightEvent() {
    return refOfSlot(kManualRightSlot);
}

std::optional<std::size_t> EventTable::slotOf(engine::EventRef ref) {
    if (ref == engine::kNoEvent || ref > kSlotCount) return std::nullopt;
    return static_cast<std::size_t>(ref - 1);
}

bool EventTable::install(engine::EventRef ref, ipc::Event event, std::uint64_t owner) {
    const auto slot = slotOf(ref);
    if (!slot) return false;
    std::optional<ipc::Event> old(std::move(event));
    {
        std::lock_guard guard(lock_);
        slots_[*slot].swap(old);
        owners_[*slot] = owner;
    }
    // `old` (the event held before) is released here, outside the lock.
    return true;
}

bool EventTable::holds(engine::EventRef ref) const {
    const auto slot = slotOf(ref);
    if (!slot) return false;
    std::lock_guard guard(lock_);
    return slots_[*slot].has_value();
}

bool EventTable::releaseOwnedBy(engine::EventRef ref, std::uint64_t owner) {
    const auto slot = slotOf(ref);
    if (!slot || owner == 0) return false;
    std::optional<ipc::Event> old;
    {
        std::lock_guard guard(lock_);
        if (!slots_[*slot] || owners_[*slot] != owner) return false;
        slots_[*slot].swap(old);
        owners_[*slot] = 0;
    }
    // `old` is released here, outside the lock.
    return true;
}

void EventTable::releaseAll() {
    std::array<std::optional<ipc::Event>, kSlotCount> old;
    {
        std::lock_guard guard(lock_);
        old.swap(slots_);
        owners_.fill(0);
    }
}

std::size_t EventTable::size() const {
    std::lock_guard guard(lock_);
    std::size_t n = 0;
    for (const auto& e : slots_)
        n += e.has_value() ? 1 : 0;
    return n;
}

void EventTable::setEvent(engine::EventRef ref) {
    const auto slot = slotOf(ref);
    if (!slot) return;
    std::lock_guard guard(lock_);
    if (slots_[*slot]) slots_[*slot]->set();
}

// ---- PointerPortDevice -------------------------------------------------------------------------

void PointerPortDevice::deliver(const engine::MouseInputData& record) {
    // The engine calls this with link_.Lock held, which also guards service_.
    if (service_ != nullptr) service_->deliver(record);
    if (watchers_.active()) watchers_.pointer(WatchList::ReadingUnit::current(), record);
}

bool PointerPortDevice::connect(const PointerConnectData& data) {
    if (data.ClassService == nullptr) return false;
    std::lock_guard guard(link_.Lock);
    if (service_ != nullptr) return false;
    classDevice_ = data.ClassDeviceObject;
    service_ = data.ClassService;
    connected_.store(true, std::memory_order_release);
    return true;
}

void PointerPortDevice::setDesktop(const PointerDesktop& desktop) {
    std::lock_guard guard(link_.Lock);
    if (service_ != nullptr) service_->setDesktop(desktop);
}

PointerDesktop DesktopOfDisplayTable(
    const std::array<engine::DisplayPartitionEntry, engine::kDisplayPartitionCount>& table,
    std::uint16_t entries) {
    const auto taken = [&](std::size_t k) { return (entries & (1u << k)) != 0; };
    std::int64_t pixelX = 1, pixelY = 1;
    for (std::size_t k = 0; k < table.size(); ++k) {
        const auto& e = table[k];
        if (taken(k) && e.originX == 0 && e.originY == 0) {
            pixelX = std::max<std::int64_t>(1, std::int64_t(engine::kPointerSpan) + 1 - e.extentX);
            pixelY = std::max<std::int64_t>(1, std::int64_t(engine::kPointerSpan) + 1 - e.extentY);
            break;
        }
    }
    std::int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
    for (std::size_t k = 0; k < table.size(); ++k) {
        if (!taken(k)) continue;
        const auto& e = table[k];
        left = std::min<std::int64_t>(left, e.originX);
        top = std::min<std::int64_t>(top, e.originY);
        right = std::max(right, std::int64_t(e.originX) + e.extentX + pixelX);
        bottom = std::max(bottom, std::int64_t(e.originY) + e.extentY + pixelY);
    }
    if (left >= right || top >= bottom) return {}; // no entry, or only empty ones
    const auto fit = [](std::int64_t v) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
    };
    return {fit(left), fit(top), fit(right), fit(bottom)};
}

void* PointerPortDevice::classDeviceObject() const {
    std::lock_guard guard(link_.Lock);
    return classDevice_;
}

// ---- DriverContext -----------------------------------------------------------------------------

void DriverContext::displayEntrySet(std::uint8_t index, bool startsTable) {
    if (index >= engine::kDisplayPartitionCount) return;
    const auto bit = static_cast<std::uint16_t>(1u << index);
    tableEntries_ = startsTable ? bit : static_cast<std::uint16_t>(tableEntries_ | bit);
    pointer_.setDesktop(DesktopOfDisplayTable(ext_.DisplayPartition, tableEntries_));
}

DriverContext::DriverContext(const DriverRole& role)
    : role_(role), pointer_(ext_.Pointer, watchers_) {
    ext_.Pointer.Port = &pointer_;
    ext_.Signaller = &events_;
}

DriverContext::~DriverContext() {
    // Nothing may set an event once the table is gone; the daemon has stopped every read
    // thread before it destroys the context.
    ext_.Signaller = nullptr;
    ext_.Pointer.Port = nullptr;
    events_.releaseAll();
}

std::uint8_t DriverContext::comPort(std::uint8_t index) {
    std::lock_guard guard(device(index).Lock);
    return controls_[index].ComPort;
}

std::uint32_t DriverContext::baudRate(std::uint8_t index) {
    std::lock_guard guard(device(index).Lock);
    return controls_[index].BaudRate;
}

void DriverContext::setComSettings(std::uint8_t index, std::uint8_t port, std::uint32_t baud) {
    std::lock_guard guard(device(index).Lock);
    controls_[index].ComPort = port;
    controls_[index].BaudRate = baud;
}

std::uint8_t DriverContext::doubleClick(std::uint8_t index) {
    std::lock_guard guard(device(index).Lock);
    return controls_[index].DoubleClick;
}

std::string DriverContext::productKeyPath() const {
    return std::string(kProductKeyPath);
}

std::string DriverContext::typeKeyPath() const {
    std::string path(kProductKeyPath);
    path += '\\';
    path += role_.typeKeyName;
    return path;
}

std::string DriverContext::deviceKeyPath(std::uint8_t index) const {
    char name[16];
    std::snprintf(name, sizeof name, "\\Device%u", static_cast<unsigned>(index));
    return typeKeyPath() + name;
}

std::string DriverContext::markerName(std::uint8_t index) const {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(index));
    return std::string(role_.markerPrefix) + digits;
}

} // namespace kvr::driver
