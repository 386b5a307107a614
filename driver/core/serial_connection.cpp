#include "driver/core/serial_connection.h"

#include "driver/control/registry_params.h"
#include "engine/decode.h"
#include "engine/pipeline.h"
#include "engine/report_modes.h"
#include "platform/clock/clock.h"
#include "platform/common/log.h"
#include "platform/ipc/nt_status.h"
#include "platform/serial/dos_names.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <system_error>

namespace kvr::driver {

namespace {

// Line timeouts set at every opening: a read returns as soon as a byte is there. (The read
// loop itself blocks until bytes come or a stop is asked for, so an idle line costs nothing.)
constexpr serial::Timeouts kLineTimeouts{serial::kMaxDword, serial::kMaxDword, 10, 0, 0};

// A read that failed for no known reason is tried again, but not faster than this, so a
// port stuck in an error state cannot make the thread spin.
constexpr std::chrono::milliseconds kFailedReadRetry{10};

// The read thread runs at the lowest real-time priority when the system allows it; touches
// then reach the pointer even on a busy machine. Without the right to it, normal priority.
void RaiseToRealtime() {
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO);
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) != 0)
        KVR_LOG_DEBUG("read thread: real-time priority not permitted, staying at normal");
}

} // namespace

namespace command {
std::array<std::uint8_t, 4> reportModeCommand(std::uint8_t reportMode) {
    return {kSoh, 'M',
            static_cast<std::uint8_t>(reportMode == engine::kReportModeButton ? 'P' : 'S'), kCr};
}
} // namespace command

std::uint8_t PacketFormatFromIdentification(const std::uint8_t* reply, std::size_t taken,
                                            std::uint8_t current) {
    if (taken != kIdentificationBytes) return engine::kPacketFormatM;
    // Only these four positions of the tag are compared; controllers of the family vary the
    // others.
    for (std::size_t i : {0U, 4U, 5U, 7U})
        if (reply[i] != static_cast<std::uint8_t>(kVendorTag[i])) return engine::kPacketFormatM;
    if (reply[8] != '0') return current;
    switch (reply[9]) {
    case '0':
        return 0;
    case '1':
        return 1;
    case '2':
        return 2;
    case '3':
        return 3;
    default:
        return current;
    }
}

void Delay(std::chrono::milliseconds duration) {
    clock::sleepFor(duration);
}

SerialConnection::SerialConnection(DriverContext& context) : context_(context) {
    for (std::uint8_t n = 0; n < context_.deviceCount(); ++n) {
        Line& line = lines_[n];
        line.Reinit = ipc::Event::create(ipc::ResetMode::Auto);
        if (line.Reinit) {
            // The engine sets the twin in the event table when the controller announces a
            // restart; the read loop consumes it here.
            if (auto twin = line.Reinit->duplicate())
                context_.events().install(EventTable::reinitEvent(n), std::move(*twin));
            std::lock_guard guard(context_.device(n).Lock);
            context_.device(n).ReinitEvent = EventTable::reinitEvent(n);
        }
    }
}

SerialConnection::~SerialConnection() {
    disconnectAll();
    for (std::uint8_t n = 0; n < context_.deviceCount(); ++n) {
        {
            std::lock_guard guard(context_.device(n).Lock);
            context_.device(n).ReinitEvent = engine::kNoEvent;
        }
        for (auto& t : lines_[n].Stragglers)
            if (t.joinable()) t.join();
    }
}

std::shared_ptr<serial::Port> SerialConnection::portOf(std::uint8_t device) const {
    std::lock_guard guard(lines_[device].StateLock);
    return lines_[device].Port;
}

std::shared_ptr<SerialConnection::Session> SerialConnection::sessionOf(std::uint8_t device) const {
    std::lock_guard guard(lines_[device].StateLock);
    return lines_[device].Current;
}

bool SerialConnection::connected(std::uint8_t device) const {
    return context_.validDevice(device) && portOf(device) != nullptr;
}

bool SerialConnection::started(std::uint8_t device) const {
    if (!context_.validDevice(device)) return false;
    const auto session = sessionOf(device);
    return session && session->Started.load();
}

// ---- opening the port ---------------------------------------------------------------------------

bool SerialConnection::ConnectCOMMPortObject(std::uint8_t device) {
    const std::uint8_t comPort = context_.comPort(device);
    const std::uint32_t baud = context_.baudRate(device);
    std::filesystem::path path;
    if (context_.role().servesDoubleClick)
        path = serial::usbLinkPath(device); // the USB role: unit n is the tty linked as usbN
    else
        path = serial::comDevicePath(comPort);

    serial::OpenOptions options; // 9600 8N1 first; the stored rate is set just below
    options.line = serial::LineControl{serial::StopBits::One, serial::Parity::None, 8};
    serial::Error error;
    std::unique_ptr<serial::Port> port = serial::Port::open(path, options, &error);
    if (!port) {
        std::string& last = lines_[device].LastOpenFailure;
        if (last != error.text)
            KVR_LOG_WARN("device %u: cannot open %s: %s", device, path.c_str(), error.text.c_str());
        else
            KVR_LOG_DEBUG("device %u: cannot open %s: %s", device, path.c_str(),
                          error.text.c_str());
        last = error.text;
        return false;
    }
    lines_[device].LastOpenFailure.clear();
    // As with the serial driver's requests, the results of the settings are not checked: a
    // rate the line does not know leaves it at 9600.
    if (!port->setBaudRate(baud, &error))
        KVR_LOG_WARN("device %u: baud rate %u refused: %s", device, baud, error.text.c_str());
    port->setLineControl(options.line);
    port->setTimeouts(kLineTimeouts);
    // Bytes that waited in the line's buffer while nobody had the port open (a pty keeps
    // them) belong to no connection: a freshly opened serial port has received nothing.
    port->discard(serial::Queue::Input);
    std::lock_guard guard(lines_[device].StateLock);
    lines_[device].Port = std::shared_ptr<serial::Port>(std::move(port));
    return true;
}

bool SerialConnection::InitSerialPort(std::uint8_t device) {
    if (portOf(device)) return true;
    return ConnectCOMMPortObject(device);
}

// ---- connect ------------------------------------------------------------------------------------

std::uint32_t SerialConnection::connect(std::uint8_t device) {
    if (!context_.validDevice(device)) return ipc::status::kUnsuccessful;
    Line& line = lines_[device];
    std::lock_guard connectGuard(line.ConnectLock);

    const std::uint8_t comPort = context_.comPort(device);
    const bool usb = context_.role().servesDoubleClick;
    if (!usb && (comPort < 1 || comPort > kMaxComPort)) return ipc::status::kUnsuccessful;
    if (const auto running = sessionOf(device); running && running->Running.load())
        return ipc::status::kSuccess;
    // A device whose read ended on a serial error still holds its port; only a disconnect
    // (code 12) followed by a new connect brings it back.
    if (portOf(device)) return ipc::status::kSuccess;

    if (!InitSerialPort(device)) return ipc::status::kObjectNameNotFound;
    std::shared_ptr<serial::Port> port = portOf(device);
    auto stop = ipc::Event::create(ipc::ResetMode::Manual);
    auto startSignal = ipc::Event::create(ipc::ResetMode::Manual);
    auto ended = ipc::Event::create(ipc::ResetMode::Manual);
    if (!port || !stop || !startSignal || !ended) return ipc::status::kInsufficientResources;
    auto session = std::shared_ptr<Session>(
        new Session{port, std::move(*stop), std::move(*startSignal), std::move(*ended)});

    engine::Rs232Device& record = context_.device(device);
    {
        std::lock_guard guard(record.Lock);
        record.ReplyWatcher = 0;
        record.DeviceIndex = device;
    }

    // Registry parameters, COMPORT and the connect marker.
    RegistryAtConnect(context_, device);

    if (line.Reinit) line.Reinit->reset();
    {
        std::lock_guard guard(line.StateLock);
        if (line.Thread.joinable()) line.Thread.join(); // an earlier thread that has ended
        try {
            line.Thread = std::thread(&SerialConnection::ReadThreadRoutine, this, device, session);
        } catch (const std::system_error& e) {
            KVR_LOG_ERROR("device %u: cannot start the read thread: %s", device, e.what());
            // The port stays open, as a disconnect (code 12) expects to close it.
            return ipc::status::kInsufficientResources;
        }
        line.Current = session;
    }
    session->StartSignal.wait();
    session->Started.store(session->Running.load());

    Greet(device, *session);
    KVR_LOG_INFO("device %u connected on %s", device, port->path().c_str());
    return ipc::status::kSuccess;
}

void SerialConnection::Greet(std::uint8_t device, Session& session) {
    engine::Rs232Device& record = context_.device(device);

    SerialPortWriteBuff(device, command::kZ);
    Delay(kAfterZ);
    engine::FlushQueueData(record);

    // Identification. The reply is ten plain ASCII bytes, unframed: the E decoder would drop
    // them all, so a device already on E packets (code 11 asked for them, or a reconnect)
    // would fall back to M. The read thread therefore decodes the line with the M decoder
    // for this exchange only, reporting no packet (a touch meanwhile may be in E packets); a
    // reply that leaves the format unchanged keeps the one in force before the exchange.
    std::uint8_t formatBefore = 0;
    {
        std::lock_guard guard(record.Lock);
        formatBefore = record.PacketFormat;
    }
    session.DecodeAsM.store(true);
    SerialPortWriteBuff(device, command::kIdentify);
    Delay(kIdentifyWait);
    std::uint8_t id[kIdentificationBytes] = {};
    const std::size_t idTaken = engine::ReadQueueData(record, id, sizeof id);
    std::uint8_t format = 0;
    {
        std::lock_guard guard(record.Lock);
        // A packet begun under the M decoder is no packet of the format now in force.
        session.DecodeAsM.store(false);
        record.PacketIndex = 0;
        record.PacketFormat = PacketFormatFromIdentification(id, idTaken, formatBefore);
        format = record.PacketFormat;
    }

    // Display setting: which partition entry the controller reports into.
    engine::FlushQueueData(record);
    SerialPortWriteBuff(device, command::kGetDisplay);
    Delay(kDisplayWait);
    std::uint8_t reply[kDisplayReplyBytes] = {};
    const std::size_t taken = engine::ReadQueueData(record, reply, sizeof reply);
    std::uint8_t arrangement = 0, index = 0;
    {
        std::lock_guard guard(record.Lock);
        engine::SetDisplayLayoutFromReply(record, reply, taken);
        arrangement = record.DisplayArrangement;
        index = record.DisplayIndex;
        // Device lock, then driver-wide lock: the documented order.
        std::lock_guard extGuard(context_.extension().Lock);
        engine::ArrangeDisplayPartition(context_.extension(), arrangement, index);
        if (arrangement != 0) context_.displayEntrySet(index, false);
    }
    // How much of each reply was there when its wait ended: a controller that answers late
    // (or not at all) is told apart from one whose answer chose these values.
    KVR_LOG_DEBUG("device %u: identification reply %zu bytes, display reply %zu bytes", device,
                  idTaken, taken);
    KVR_LOG_INFO("device %u: packet format %u, display arrangement %u index %u", device, format,
                 arrangement, index);
}

// ---- the read thread ----------------------------------------------------------------------------

bool SerialConnection::ReadPacketCompletion(std::uint8_t device, Session& session,
                                            const serial::IoResult& r, const std::uint8_t* buffer) {
    switch (r.status) {
    case serial::IoStatus::Stopped:
        return false;
    case serial::IoStatus::Disconnected:
        // The line hung up or the adapter went away: the thread ends, the port stays held
        // until a disconnect releases it.
        KVR_LOG_INFO("device %u: line hung up", device);
        session.HungUp.store(true);
        session.Stop.set();
        ReleaseTouch(device);
        return false;
    case serial::IoStatus::Ok:
        if (r.count > 0) {
            engine::Rs232Device& record = context_.device(device);
            WatchList& watchers = context_.watchers();
            if (watchers.active()) watchers.raw(device, buffer, r.count);
            const WatchList::ReadingUnit reading(device);
            // Judged under the device lock, where the identification ends: no chunk is
            // decoded half by one decoder and half by the other.
            std::lock_guard guard(record.Lock);
            if (session.DecodeAsM.load())
                engine::MDecodeReplyOnly(record, buffer, r.count);
            else
                engine::DecodeChunkLocked(record, buffer, r.count);
        }
        return true;
    case serial::IoStatus::TimedOut:
        return true;
    case serial::IoStatus::Failed:
    default:
        // Read again without decoding, but not faster than the retry pace.
        KVR_LOG_DEBUG("device %u: read failed (errno %d), trying again", device, r.error);
        return !session.Stop.wait(kFailedReadRetry);
    }
}

void SerialConnection::ReadThreadRoutine(std::uint8_t device, std::shared_ptr<Session> session) {
    // Nothing may leave the thread: whatever goes wrong ends this connection's reading only.
    try {
        ReadLoop(device, *session);
    } catch (const std::exception& e) {
        KVR_LOG_ERROR("device %u: read thread ended: %s", device, e.what());
    } catch (...) {
        KVR_LOG_ERROR("device %u: read thread ended", device);
    }
    session->Leaving.store(true);
    if (session->ReleaseOnEnd.load()) ReleaseTouch(device);
    session->StartSignal.set(); // a connect waiting for the start is not left hanging
    session->Started.store(false);
    session->Running.store(false);
    session->Ended.set();
}

void SerialConnection::ReadLoop(std::uint8_t device, Session& sessionRef) {
    Session* session = &sessionRef;
    Line& line = lines_[device];
    engine::Rs232Device& record = context_.device(device);
    serial::Port& port = *session->Port;
    char name[16];
    std::snprintf(name, sizeof name, "kvr-read%u", device);
    pthread_setname_np(pthread_self(), name);
    RaiseToRealtime();

    session->StartSignal.set();
    std::uint8_t buffer[engine::kReadBufferBytes];
    // Re-initialisation: the second report-mode command is due at this time (the read goes on
    // meanwhile, so touches are not held up by the gap).
    bool secondCommandDue = false;
    clock::TimePoint secondCommandAt{};
    std::array<std::uint8_t, 4> reinitCommand{};

    for (;;) {
        std::optional<std::chrono::milliseconds> timeout;
        if (secondCommandDue) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(secondCommandAt - clock::now());
            timeout = std::max(left, std::chrono::milliseconds(0));
        }
        const serial::IoResult r = port.read(buffer, session->Stop, timeout);

        if (!ReadPacketCompletion(device, *session, r, buffer)) break;

        // Stop first, then the read, then the re-initialisation (the wait order).
        if (session->Stop.isSet()) break;
        if (secondCommandDue && clock::now() >= secondCommandAt) {
            secondCommandDue = false;
            port.write(reinitCommand);
        }
        if (line.Reinit && line.Reinit->wait(std::chrono::milliseconds(0))) {
            std::uint8_t mode = 0;
            {
                std::lock_guard guard(record.Lock);
                mode = record.ReportMode;
            }
            reinitCommand = command::reportModeCommand(mode);
            KVR_LOG_INFO("device %u: controller restarted, sending M%c again", device,
                         static_cast<char>(reinitCommand[2]));
            port.write(reinitCommand);
            secondCommandAt = clock::now() + kReinitGap;
            secondCommandDue = true;
        }
    }
}

// ---- disconnect ---------------------------------------------------------------------------------

void SerialConnection::DisconnectLocked(std::uint8_t device) {
    Line& line = lines_[device];
    const std::shared_ptr<Session> session = sessionOf(device);
    bool gaveUp = false;
    if (portOf(device)) {
        if (session) {
            session->Stop.set();
            // The thread leaves its read at once on the stop; the bound only matters for a
            // thread held up elsewhere (a pointer sink that blocks).
            if (session->Running.load()) session->Ended.wait(kStopWait);
        }
        std::lock_guard guard(line.StateLock);
        if (line.Thread.joinable()) {
            if (session && session->Running.load()) {
                KVR_LOG_WARN("device %u: read thread did not stop in time; port released", device);
                line.Stragglers.push_back(std::move(line.Thread));
                gaveUp = true;
            } else {
                line.Thread.join();
            }
        }
        // The thread holds its own share of the port (through its session), so a straggler
        // never sees it closed; once the thread has ended the port closes here.
        line.Port.reset();
        line.Current.reset();
    }
    if (session) session->Started.store(false);
    if (gaveUp) {
        // The thread holds the device lock: waiting for it here would hold this connection
        // (and every later connect of the device) as long as the thread is held up.
        session->ReleaseOnEnd.store(true);
        if (!session->Leaving.load()) return;
    }
    ReleaseTouch(device);
}

void SerialConnection::ReleaseTouch(std::uint8_t device) {
    engine::Rs232Device& record = context_.device(device);
    std::lock_guard guard(record.Lock);
    engine::ReleaseTouch(record);
}

void SerialConnection::disconnect(std::uint8_t device) {
    if (!context_.validDevice(device)) return;
    std::lock_guard connectGuard(lines_[device].ConnectLock);
    DisconnectLocked(device);
}

void SerialConnection::disconnectAll() {
    for (std::uint8_t n = 0; n < context_.deviceCount(); ++n)
        disconnect(n);
}

void SerialConnection::scanHotplug() {
    for (std::uint8_t n = 0; n < context_.deviceCount(); ++n) {
        Line& line = lines_[n];
        {
            std::lock_guard connectGuard(line.ConnectLock);
            // A unit whose line hung up is gone: release it so that it can come back.
            const auto session = sessionOf(n);
            if (session && session->HungUp.load() && portOf(n)) {
                DisconnectLocked(n);
                KVR_LOG_INFO("unit %u: gone", n);
            }
            if (portOf(n)) continue;
            std::error_code ec;
            // exists() follows the link: a link to a tty that has gone is not a unit.
            if (!std::filesystem::exists(serial::usbLinkPath(n), ec)) continue;
        }
        connect(n);
    }
}

// ---- writing
// --------------------------------------------------------------------------------------

std::uint32_t SerialConnection::SerialPortWriteBuff(std::uint8_t device,
                                                    std::span<const std::uint8_t> bytes) {
    std::shared_ptr<serial::Port> port = portOf(device);
    if (!port) return ipc::status::kDeviceNotConnected;
    // The port serialises its writers, so two commands never interleave on the line.
    const serial::IoResult r = port->write(bytes);
    switch (r.status) {
    case serial::IoStatus::Ok:
        return ipc::status::kSuccess;
    case serial::IoStatus::Disconnected:
        return ipc::status::kDeviceNotConnected;
    case serial::IoStatus::TimedOut:
        return ipc::status::kIoTimeout;
    default:
        return ipc::status::kUnsuccessful;
    }
}

// RS232_VendorCommand: the control interface's writer.
std::uint32_t SerialConnection::write(std::uint8_t device, std::span<const std::uint8_t> bytes) {
    if (!context_.validDevice(device)) return ipc::status::kUnsuccessful;
    return SerialPortWriteBuff(device, bytes);
}

} // namespace kvr::driver
