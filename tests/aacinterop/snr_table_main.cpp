// Test main that prints the collected SNR table after all tests.
#include <gtest/gtest.h>

#include "aac_peers.h"

namespace {
class SnrTablePrinter : public ::testing::Environment {
public:
    void TearDown() override { aurivane::aactest::PrintSnrTable(); }
};
}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new SnrTablePrinter);
    return RUN_ALL_TESTS();
}
