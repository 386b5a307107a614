#pragma once
// A small service on the framework, for the framework's tests: it handles user control 150
// (counted) and leaves every other user control to the framework; its OnInit can be told to
// fail.

#include "platform/service/service_manager.h"
#include "service/framework/ntservice.h"

#include <atomic>

namespace kvr::test {

inline constexpr const char* kTestServiceName = "LumarconTouch Service";
inline constexpr std::uint32_t kHandledUserControl = 150;

class TestService : public CNTService {
public:
    explicit TestService(bool failInit = false)
        : CNTService(kTestServiceName), m_failInit(failInit) {}

    bool OnInit() override {
        CNTService::OnInit();
        if (m_failInit) svc::setLastError(0);
        return !m_failInit;
    }
    bool OnUserControl(std::uint32_t opcode) override {
        if (opcode != kHandledUserControl) return CNTService::OnUserControl(opcode);
        ++m_handled;
        return true;
    }

    std::atomic<int> m_handled{0};

private:
    bool m_failInit;
};

} // namespace kvr::test
