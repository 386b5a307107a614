// Controller discovery and access through libtsapi against the real driver daemon and
// emulated controllers.

#include "tests/integration/tsapi/tsapi_harness.h"
#include "tsapi/tsapi.h"

#include <gtest/gtest.h>

namespace kvr::test::tsapi {
namespace {

TEST(TsapiDiscovery, NoControllerKeyMeansNoController) {
    EXPECT_EQ(GetExistControllers(), 0);
    EXPECT_EQ(OpenController("RS232_DEVICE0"), -1);
}

} // namespace
} // namespace kvr::test::tsapi
