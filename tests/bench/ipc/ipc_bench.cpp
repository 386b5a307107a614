// ipc_bench: how fast the platform layer's control devices and registry store are.
//
//   ipc_bench [--requests N] [--registry-ops N]
//
// Runs in a private temporary KVR_RUNTIME_DIR / KVR_STATE_DIR (removed at the end), so it never
// touches the machine's state. Reports
//   - the control-device round trip (p50, p99, mean) and requests per second with 1 client and
//     with 8 clients at once, on a trivial code (4 bytes in, the same 4 bytes back);
//   - registry reads (queryDword) and writes (setDword) per second on one key.
// Targets on a 2-core machine: p50 under 50 us and at least 20,000 requests/s for one client.

#include "platform/clock/clock.h"
#include "platform/ipc/control_device.h"
#ifdef KVR_BENCH_REGISTRY
#include "platform/registry/registry.h"
#endif

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdlib.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using kvr::ipc::ControlDevice;
using kvr::ipc::ControlServer;
using kvr::ipc::Reply;
using kvr::ipc::Request;

constexpr std::uint32_t kTrivialCode = 0x220000; // leaves the buffer as it is
constexpr char kDeviceName[] = "KvrBenchD";

struct Figures {
    std::vector<std::int64_t> latencyNs; // one per request
    double seconds = 0;
    std::uint64_t failures = 0;
};

double percentileUs(std::vector<std::int64_t>& ns, double p) {
    if (ns.empty()) return 0;
    std::size_t k = static_cast<std::size_t>(p * static_cast<double>(ns.size() - 1));
    std::nth_element(ns.begin(), ns.begin() + static_cast<std::ptrdiff_t>(k), ns.end());
    return static_cast<double>(ns[k]) / 1000.0;
}

// Each client thread: its own handle, `count` requests, every round trip timed.
Figures runClients(int clients, int count) {
    std::vector<Figures> perClient(static_cast<std::size_t>(clients));
    std::vector<std::thread> threads;
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    auto client = [&](Figures& f) {
        auto dev = ControlDevice::open(kDeviceName);
        ++ready;
        while (!go.load())
            std::this_thread::yield(); // start together (only at the start)
        if (!dev) {
            f.failures += static_cast<std::uint64_t>(count);
            return;
        }
        f.latencyNs.reserve(static_cast<std::size_t>(count));
        std::uint32_t in = 0x12345678, out = 0, returned = 0;
        for (int i = 0; i < count; ++i) {
            auto t0 = kvr::clock::now();
            bool ok = dev->ioctl(kTrivialCode, &in, 4, &out, 4, &returned);
            auto t1 = kvr::clock::now();
            if (!ok || returned != 4 || out != in) ++f.failures;
            f.latencyNs.push_back(
                std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count());
        }
    };
    for (auto& f : perClient)
        threads.emplace_back(client, std::ref(f));
    while (ready.load() < clients)
        std::this_thread::yield();
    kvr::clock::Stopwatch wall;
    go = true;
    for (auto& t : threads)
        t.join();
    Figures all;
    all.seconds = std::chrono::duration<double>(wall.elapsed()).count();
    for (auto& f : perClient) {
        all.latencyNs.insert(all.latencyNs.end(), f.latencyNs.begin(), f.latencyNs.end());
        all.failures += f.failures;
    }
    return all;
}

void report(const char* label, Figures f) {
    double rps = f.seconds > 0 ? static_cast<double>(f.latencyNs.size()) / f.seconds : 0;
    double mean = 0;
    for (auto v : f.latencyNs)
        mean += static_cast<double>(v);
    mean = f.latencyNs.empty() ? 0 : mean / static_cast<double>(f.latencyNs.size()) / 1000.0;
    double p50 = percentileUs(f.latencyNs, 0.50);
    double p99 = percentileUs(f.latencyNs, 0.99);
    std::printf("%-28s %9zu req  p50 %7.1f us  p99 %7.1f us  mean %7.1f us  %9.0f req/s%s\n", label,
                f.latencyNs.size(), p50, p99, mean, rps, f.failures ? "  (FAILURES)" : "");
}

#ifdef KVR_BENCH_REGISTRY
void benchRegistry(int ops) {
    const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\KvrBench";
    if (kvr::reg::createKey(key) != kvr::reg::Status::Ok) {
        std::printf("registry: cannot create %s\n", key.c_str());
        return;
    }
    std::uint64_t failures = 0;
    kvr::clock::Stopwatch watch;
    for (int i = 0; i < ops; ++i) {
        if (kvr::reg::setDword(key, "Counter", static_cast<std::uint32_t>(i)) !=
            kvr::reg::Status::Ok) {
            ++failures;
        }
    }
    double writeSeconds = std::chrono::duration<double>(watch.elapsed()).count();
    watch.restart();
    std::uint32_t value = 0;
    for (int i = 0; i < ops; ++i) {
        if (kvr::reg::queryDword(key, "Counter", value) != kvr::reg::Status::Ok) ++failures;
    }
    double readSeconds = std::chrono::duration<double>(watch.elapsed()).count();
    std::printf("%-28s %9d ops  %9.0f writes/s (setDword)\n", "registry, one key", ops,
                ops / writeSeconds);
    std::printf("%-28s %9d ops  %9.0f reads/s  (queryDword)%s\n", "registry, one key", ops,
                ops / readSeconds, failures ? "  (FAILURES)" : "");
}
#endif

int parseCount(const char* text, int fallback) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    return (end != text && *end == '\0' && v > 0 && v <= 10000000) ? static_cast<int>(v) : fallback;
}

} // namespace

int main(int argc, char** argv) {
    int requests = 50000;
    int registryOps = 5000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--requests") == 0) requests = parseCount(argv[i + 1], requests);
        if (std::strcmp(argv[i], "--registry-ops") == 0) {
            registryOps = parseCount(argv[i + 1], registryOps);
        }
    }

    std::string root = (std::filesystem::temp_directory_path() / "kvrbench.XXXXXX").string();
    if (::mkdtemp(root.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    ::setenv("KVR_RUNTIME_DIR", (root + "/run").c_str(), 1);
    ::setenv("KVR_STATE_DIR", (root + "/state").c_str(), 1);

    int rc = 0;
    {
        std::string error;
        auto server = ControlServer::start(
            kDeviceName,
            [](Request& r) {
                return Reply{kvr::ipc::status::kSuccess, r.inLength};
            },
            "", error);
        if (!server) {
            std::fprintf(stderr, "ipc_bench: %s\n", error.c_str());
            rc = 1;
        } else {
            unsigned cores = std::thread::hardware_concurrency();
            std::printf("control device round trip, trivial code, %u cores\n", cores);
            runClients(1, 2000); // warm-up: threads, pages, caches
            Figures one = runClients(1, requests);
            report("1 client", one);
            Figures eight = runClients(8, requests / 8);
            report("8 clients (total)", eight);
            server->stop();
        }
    }
#ifdef KVR_BENCH_REGISTRY
    benchRegistry(registryOps);
    kvr::reg::closeStore();
#else
    std::printf("registry: not measured (the registry store is not part of this build)\n");
#endif

    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return rc;
}
