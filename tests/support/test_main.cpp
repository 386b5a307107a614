#include "tests/support/test_env.h"

int main(int argc, char** argv) {
    return kvr::test::runAllTests(argc, argv);
}
