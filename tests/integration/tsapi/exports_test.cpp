// The library's export list and its public header: exactly the names of the touch API and
// nothing else (no helper, no static library's symbol), one C++ name, and a header that
// compiles as C and as C++.

#include "tests/support/child_process.h"
#include "tsapi/tsapi.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <string>

extern "C" int tsapi_header_c_export_count(void);

namespace kvr::test::tsapi {
namespace {

// The touch API: 92 functions under 93 names.
const std::set<std::string> kExpectedNames = {
    // discovery and access
    "GetExistControllers",
    "GetControllerName",
    "OpenController",
    "CloseController",
    "WriteBuffer",
    "ReadBuffer",
    "ReadLength",
    "FlushReadBuffer",
    "IsPenUp",
    "DisableTouchReport",
    "GetReportStatus",
    "_Z16SetUpEventHandlePvS_",
    "CurrentCOMPort",
    "ChangeCOMPort",
    "CloseCOMPort",
    "ReopenCOMPort",
    "GetDriverInterface",
    "GetDriverVersion",
    "GetDriverPort",
    // controller and driver settings
    "SetRotation",
    "GetRotation",
    "EnableDownSound",
    "EnableUpSound",
    "GetDownSoundStatus",
    "GetUpSoundStatus",
    "SetReportMode",
    "GetReportMode",
    "EnableRightClick",
    "GetRightClickEnabled",
    "EnableDoubleClick",
    "GetDoubleClickEnabled",
    "SetExpandValue",
    "GetExpandValue",
    "SetDoubleClickSpeed",
    "GetDoubleClickSpeed",
    "SetDoubleClickArea",
    "GetDoubleClickArea",
    "GetRightClickTime",
    "SetRightClickTime",
    "GetMeasureTime",
    "SetMeasureTime",
    "GetInfocus",
    "SetInfocus",
    "GetMeasureDelay",
    "SetMeasureDelay",
    "GetOutfocus",
    "SetOutfocus",
    "GetTouchSensitivity",
    "SetTouchSensitivity",
    "GetNoiseLevel",
    "SetNoiseLevel",
    "GetAccLevel",
    "SetAccLevel",
    // calibration and linearity
    "SetCalPoint",
    "SetLinearityPoint",
    "CalCurrentPointReady",
    "GetLinearityData",
    "StoreCalibrationData",
    "SetCalibrationPoint",
    "GetCalibrationData",
    "SaveCalibrationData",
    "SetBasePoint",
    "GetBasePoint",
    // displays
    "GetExistDisplays",
    "GetDisplayName",
    "GetDisplayArea",
    "PartitionDisplay",
    "GetPartitioned_Display",
    "GetPartition_Mode",
    "GetPartition_Parts",
    "AskToSetDisplayNumber",
    "QueryDisplayBeTouched",
    "AskToSetMultiMonitor",
    "QueryMultiMonitorSetOK",
    "GetDisplayNumber",
    "GetMultiMonitorNumber",
    "GetMultiMonitorLayout",
    "SetDisplayChange",
    "GetDisplayChange",
    // application settings
    "Set_Sound_Type",
    "Get_Sound_Type",
    "Set_BuzzerFreq",
    "Get_BuzzerFreq",
    "Set_BuzzerDuration",
    "Get_BuzzerDuration",
    "DownBeep",
    "UpBeep",
    "Set_Touch_Access_Timeout",
    "Touch_Access_Timeout",
    "Set_MRightClick_App",
    "Get_Manual_RightClick_Status",
    "SetManualRightClick",
    "SetManualRightEvent",
};

struct Symbol {
    std::string address;
    std::string type;
    std::string name;
};

// `nm -D --defined-only` of the built library, one entry per line.
std::vector<Symbol> definedDynamicSymbols() {
    const RunResult nm = runProgram("/usr/bin/nm", {"-D", "--defined-only", KVR_TSAPI_LIBRARY});
    EXPECT_EQ(nm.exitCode, 0) << nm.err;
    std::vector<Symbol> out;
    std::istringstream lines(nm.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        Symbol s;
        if (fields >> s.address >> s.type >> s.name) {
            // A versioned name shows as name@VERSION; the library has no version nodes.
            out.push_back(s);
        }
    }
    return out;
}

TEST(TsapiExports, ExactlyTheNinetyThreeNames) {
    ASSERT_EQ(kExpectedNames.size(), 93U);
    std::set<std::string> names;
    for (const auto& s : definedDynamicSymbols())
        names.insert(s.name);
    std::vector<std::string> missing, extra;
    std::set_difference(kExpectedNames.begin(), kExpectedNames.end(), names.begin(), names.end(),
                        std::back_inserter(missing));
    std::set_difference(names.begin(), names.end(), kExpectedNames.begin(), kExpectedNames.end(),
                        std::back_inserter(extra));
    EXPECT_TRUE(missing.empty()) << "missing: " << ::testing::PrintToString(missing);
    EXPECT_TRUE(extra.empty()) << "not part of the API: " << ::testing::PrintToString(extra);
    EXPECT_EQ(names.size(), 93U);
}

TEST(TsapiExports, EveryNameIsAFunctionAndTheSecondDisplayNameIsTheSameFunction) {
    std::string displayNumber, multiMonitorNumber;
    for (const auto& s : definedDynamicSymbols()) {
        EXPECT_EQ(s.type, "T") << s.name << " is not a text symbol";
        if (s.name == "GetDisplayNumber") displayNumber = s.address;
        if (s.name == "GetMultiMonitorNumber") multiMonitorNumber = s.address;
    }
    EXPECT_FALSE(displayNumber.empty());
    EXPECT_EQ(displayNumber, multiMonitorNumber);
}

TEST(TsapiExports, TheUpEventRegistrationHasOnlyItsCxxName) {
    bool plain = false, mangled = false;
    for (const auto& s : definedDynamicSymbols()) {
        plain = plain || s.name == "SetUpEventHandle";
        mangled = mangled || s.name == "_Z16SetUpEventHandlePvS_";
    }
    EXPECT_FALSE(plain);
    EXPECT_TRUE(mangled);
}

TEST(TsapiHeader, CompilesAsCAndAsCxx) {
    // The C translation unit of this program takes the address of every C export.
    EXPECT_EQ(tsapi_header_c_export_count(), 92);
    // This C++ translation unit sees the C++-only declaration too, with the types its name
    // is mangled from.
    std::uint8_t (*upEvent)(void*, void*) = &SetUpEventHandle;
    EXPECT_NE(upEvent, nullptr);
    std::int32_t (*open)(const char*) = &OpenController;
    EXPECT_NE(open, nullptr);
}

} // namespace
} // namespace kvr::test::tsapi
