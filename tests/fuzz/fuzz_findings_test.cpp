// Inputs on which a fuzz program once found a fault (tests/data/fuzz/<target>/), run again
// through the same target functions: each must now pass the target's own checks. The faults
// they found were sanitizer reports, so this test is worth most in the sanitizer build.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "fuzz/fuzz_targets.h"
#include "support/capture.h"
#include "support/guards.h"
#include "support/tempdir.h"

TEST(FuzzFindings, PatchLoaderConfigurationReaderAndSoundFontReader)
{
    const std::pair<const char*, void (*)(const uint8_t*, size_t)> targets[] = {
        {"patch", fuzz_patch_input}, {"config", fuzz_config_input}, {"sf2", fuzz_sf2_input},
        {"sf3", fuzz_sf3_input}};
    Restore keep(play_mode);
    for (const auto& target : targets) {
        fuzz_engine_init();
        const std::string dir = std::string(CORVELLE_TEST_DATA) + "/fuzz/" + target.first + "/";
        const std::vector<std::string> files = files_ending(dir, "");
        EXPECT_FALSE(files.empty()) << "no findings kept for " << target.first;
        for (const std::string& f : files) {
            std::string bytes = read_whole_file(dir + f);
            ASSERT_FALSE(bytes.empty()) << f;
            SCOPED_TRACE(f);
            output_of([&] { target.second((const uint8_t*)bytes.data(), bytes.size()); });
        }
    }
}
