// Inputs on which a fuzz program once found a fault (tests/data/fuzz/<target>/), run again
// through the same target functions: each must now pass the target's own checks. The faults
// they found were sanitizer reports, so this test is worth most in the sanitizer build.
#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <string>
#include <vector>

#include "fuzz/fuzz_targets.h"
#include "support/tempdir.h"

namespace {

std::vector<std::string> findings(const char* target)
{
    std::string dir = std::string(CORVELLE_TEST_DATA) + "/fuzz/" + target;
    std::vector<std::string> files;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                files.push_back(dir + "/" + e->d_name);
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

void replay(const char* target, void (*input)(const uint8_t*, size_t))
{
    std::vector<std::string> files = findings(target);
    ASSERT_FALSE(files.empty()) << "no findings kept for " << target;
    PlayMode* saved = play_mode;
    fuzz_engine_init();
    for (const std::string& f : files) {
        std::string bytes = read_whole_file(f);
        ASSERT_FALSE(bytes.empty()) << f;
        SCOPED_TRACE(f);
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        input((const uint8_t*)bytes.data(), bytes.size());
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
    }
    play_mode = saved;
}

TEST(FuzzFindings, PatchLoader) { replay("patch", fuzz_patch_input); }
TEST(FuzzFindings, ConfigurationReader) { replay("config", fuzz_config_input); }
TEST(FuzzFindings, SoundFontReader) { replay("sf2", fuzz_sf2_input); }

}  // namespace
