// Test main that prints the interoperability, rate, quality and listener
// tables collected by the tests once they have all run.
#include <gtest/gtest.h>

#include "aacinterop/aac_peers.h"
#include "enc_harness.h"

namespace {
class TablePrinter : public ::testing::Environment {
public:
    void TearDown() override {
        aurivane::aactest::PrintSnrTable();
        aurivane::enctest::PrintTables();
    }
};
}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new TablePrinter);
    return RUN_ALL_TESTS();
}
