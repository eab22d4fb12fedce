// The end-to-end tests get the programs they run as command-line arguments.
#include <gtest/gtest.h>

#include "harness.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    bed::registerFixtures(argc, argv);
    return RUN_ALL_TESTS();
}
