// Reading a real configuration: the free patch set's patches.cfg through a corvelle.cfg.
#include <gtest/gtest.h>

#include <filesystem>

#include "config_fixture.h"
#include "support/patch_set.h"

namespace {

const std::string patch_dir = CORVELLE_SOURCE_DIR "/data/freepats";

using FreePats = ConfigTest;

TEST_F(FreePats, CorvelleCfgSourcingPatchesCfgFillsBankAndDrumSetZero)
{
    // Fails (where other tests skip) so that a set-up that lost the patch set is noticed.
    ASSERT_TRUE(std::filesystem::exists(patch_dir + "/patches.cfg"))
        << "the patch set is not installed: run scripts/setup.sh (make test does)";
    TempDir t;
    std::string cfg = t.write("corvelle.cfg", "dir " + patch_dir + "\nsource " + patch_dir +
                                                  "/patches.cfg\n");
    ReadResult r = read_config_named(cfg);
    EXPECT_EQ(std::make_tuple(r.status, r.messages), std::make_tuple(0, std::string()));

    // Each "number name" line names its element's patch, found through the search path.
    size_t lines = 0, tones = 0, drums = 0;
    for (const PatchEntry& e : read_patch_set(patch_dir + "/patches.cfg")) {
        ToneBank* bank = (e.drum ? drumset : tonebank)[e.bank];
        const char* name = bank != nullptr ? bank->tone[e.number].name : nullptr;
        ASSERT_NE(name, nullptr) << e.name;
        EXPECT_EQ(name, e.name);
        InputFile* tf = open_file(name, 1, OF_NORMAL);
        ASSERT_NE(tf, nullptr) << name;
        char magic[12] = {};
        EXPECT_EQ(tf_read(magic, 1, 11, tf), 11);
        EXPECT_EQ(std::string(magic, 8), "GF1PATCH");
        close_file(tf);
        lines++;
    }
    for (int i = 0; i < 128; i++)
        tones += tonebank[0]->tone[i].name != nullptr, drums += drumset[0]->tone[i].name != nullptr;
    EXPECT_TRUE(tones > 50 && drums > 30) << tones << " " << drums;
    EXPECT_EQ(tones + drums, lines);  // no element the file does not name
    EXPECT_EQ(drumset[0]->tone[35].amp, 100);
}

}  // namespace
