// Reading a real configuration: the free patch set's patches.cfg through a corvelle.cfg.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "config_fixture.h"
#include "support/tempdir.h"

namespace {

const std::string patch_dir = CORVELLE_SOURCE_DIR "/data/freepats";

// program -> patch file, for "bank 0" and "drumset 0", read here from the file itself.
struct ExpectedBanks {
    std::map<int, std::string> tone0, drum0;
};

ExpectedBanks parse_patches_cfg(const std::string& file)
{
    ExpectedBanks e;
    std::ifstream in(file);
    std::string line;
    std::map<int, std::string>* current = nullptr;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string first, second;
        if (!(words >> first) || first[0] == '#')
            continue;
        if (first == "bank" || first == "drumset") {
            words >> second;
            current = second == "0" ? (first == "bank" ? &e.tone0 : &e.drum0) : nullptr;
            continue;
        }
        if (isdigit((unsigned char)first[0]) && (words >> second) && current != nullptr)
            (*current)[std::stoi(first)] = second;
    }
    return e;
}

using FreePats = ConfigTest;

TEST_F(FreePats, CorvelleCfgSourcingPatchesCfgFillsBankAndDrumSetZero)
{
    // The other tests on real patches skip without them; this one fails, so that a set-up
    // that lost the patch set cannot pass unnoticed.
    ASSERT_TRUE(std::filesystem::exists(patch_dir + "/patches.cfg"))
        << "the patch set is not installed: run scripts/setup.sh (make test does)";
    ExpectedBanks expected = parse_patches_cfg(patch_dir + "/patches.cfg");
    ASSERT_GT(expected.tone0.size(), 50u);
    ASSERT_GT(expected.drum0.size(), 30u);

    TempDir t;
    std::string cfg = t.write("corvelle.cfg", "dir " + patch_dir + "\nsource " + patch_dir +
                                                  "/patches.cfg\n");
    ReadResult r = read_config_named(cfg);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.messages, "");

    size_t tones = 0, drums = 0;
    for (int i = 0; i < 128; i++) {
        const ToneBankElement& tone = tonebank[0]->tone[i];
        auto it = expected.tone0.find(i);
        if (it == expected.tone0.end()) {
            EXPECT_EQ(tone.name, nullptr) << "program " << i;
        } else {
            ASSERT_NE(tone.name, nullptr) << "program " << i;
            EXPECT_EQ(std::string(tone.name), it->second);
            tones++;
        }
        const ToneBankElement& drum = drumset[0]->tone[i];
        auto dt = expected.drum0.find(i);
        if (dt == expected.drum0.end()) {
            EXPECT_EQ(drum.name, nullptr) << "drum " << i;
        } else {
            ASSERT_NE(drum.name, nullptr) << "drum " << i;
            EXPECT_EQ(std::string(drum.name), dt->second);
            drums++;
        }
    }
    EXPECT_EQ(tones, expected.tone0.size());
    EXPECT_EQ(drums, expected.drum0.size());
    EXPECT_EQ(drumset[0]->tone[35].amp, 100);

    // Every patch named is found through the search path the configuration set up.
    for (const auto& kv : expected.tone0) {
        InputFile* tf = open_file(kv.second.c_str(), 1, OF_NORMAL);
        ASSERT_NE(tf, nullptr) << kv.second;
        char magic[12] = {};
        EXPECT_EQ(tf_read(magic, 1, 11, tf), 11);
        EXPECT_EQ(std::string(magic, 8), "GF1PATCH");
        close_file(tf);
    }
}

}  // namespace
