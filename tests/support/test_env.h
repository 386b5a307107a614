#pragma once
// Test support: private state folders per test process, waiting on conditions, built programs.

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

namespace kvr::test {

// The temporary KVR_STATE_DIR and KVR_RUNTIME_DIR of this test process (made by the test main
// before any test runs, removed after the last).
std::filesystem::path stateDir();
std::filesystem::path runtimeDir();

// A fresh empty folder below this process's temporary root.
std::filesystem::path makeTempDir(const std::string& prefix);

// Path of a program built into the build tree's bin/ folder.
std::filesystem::path program(const std::string& name);
std::filesystem::path sourceDir();

// Polls `condition` until it holds or `deadline` passes; true when it held. The deadline is
// generous by design: tests must never depend on the machine's speed.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds deadline = std::chrono::seconds(20),
               std::chrono::milliseconds step = std::chrono::milliseconds(5));

// Runs every test of the program with the private folders set up (the test mains call it).
int runAllTests(int& argc, char** argv);

} // namespace kvr::test
