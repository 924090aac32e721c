// The fixture of the tests that drive the real program: they skip where it cannot run (no
// display, tools or patch set), have a folder of their own, and stop the program after.
#ifndef CORVELLE_TESTS_E2E_REAL_VISUALISER_H
#define CORVELLE_TESTS_E2E_REAL_VISUALISER_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/tempdir.h"
#include "tests/e2e/visualizer_driver.h"
#include "vis/view_test_util.h"

class RealVisualiser : public ::testing::Test {
protected:
    TempDir dir;
    std::unique_ptr<Visualizer> v;

    void SetUp() override
    {
        REQUIRE_DISPLAY();
        std::string missing = missing_for_visualiser();
        if (!missing.empty())
            GTEST_SKIP() << missing;
        ASSERT_TRUE(build_configuration_ready());
    }
    void TearDown() override { v.reset(); }
};

#endif
