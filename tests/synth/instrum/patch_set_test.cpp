// Every patch of the installed patch set loads without a message, with the drum-set and
// tone-bank settings its patches.cfg gives, and each sample is safe to render.
#include "instrum_fixture.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <vector>

#include "config/files.h"

namespace {

const std::string patch_dir = CORVELLE_SOURCE_DIR "/data/freepats";

struct PatchEntry {
    bool drum;
    int program;
    std::string name;
    int amp = -1, pan = -1;
};

// The program lines of patches.cfg under "drumset" and "bank", with the two options the
// file uses.
std::vector<PatchEntry> read_patch_list(const std::string& cfg)
{
    std::vector<PatchEntry> list;
    std::ifstream in(cfg);
    std::string line;
    bool drum = false;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string first;
        if (!(words >> first))
            continue;
        if (first == "drumset" || first == "bank") {
            drum = first == "drumset";
            continue;
        }
        PatchEntry e;
        e.drum = drum;
        e.program = atoi(first.c_str());
        words >> e.name;
        std::string opt;
        while (words >> opt) {
            if (opt.rfind("amp=", 0) == 0)
                e.amp = atoi(opt.c_str() + 4);
            else if (opt == "pan=center")
                e.pan = 64;
            else
                ADD_FAILURE() << "option the test does not know: " << opt;
        }
        list.push_back(e);
    }
    return list;
}

}  // namespace

TEST_F(InstrumTest, EveryPatchOfThePatchSetLoads)
{
    struct stat st;
    if (stat((patch_dir + "/patches.cfg").c_str(), &st) != 0)
        GTEST_SKIP() << "no patch set at " << patch_dir;

    std::vector<PatchEntry> list = read_patch_list(patch_dir + "/patches.cfg");
    ASSERT_GT(list.size(), 100u);  // the file names well over a hundred programs

    add_to_pathlist(patch_dir.c_str());
    // At the default rate, and at half of it with the anti-aliasing filter on (most patches
    // are recorded above 22.05 kHz, so the filter runs over nearly all of the set).
    for (int32 rate : {44100, 22050}) {
        SCOPED_TRACE("output rate " + std::to_string(rate));
        mode_.rate = rate;
        antialiasing_allowed = rate < 44100;
        clear_instrument_cache(nullptr);
        TestBank drums, tones;
        int loaded = 0, drum_count = 0;
        const int errors_before = dumb_error_count;
        for (const PatchEntry& e : list) {
            TestBank& bank = e.drum ? drums : tones;
            ToneBankElement& elem = bank[e.program];
            elem.amp = (int16)e.amp;
            elem.pan = (int8)e.pan;
            std::string msg;
            Instrument* ip = load(e.name, &msg, bank.get(), e.drum, e.program);
            EXPECT_EQ(msg, "") << e.name;
            if (ip == nullptr) {
                ADD_FAILURE() << e.name << " did not load";
                continue;
            }
            loaded++;
            drum_count += e.drum;
            ASSERT_GT(ip->samples, 0) << e.name;
            for (int i = 0; i < ip->samples; i++) {
                const Sample& sp = ip->sample[i];
                SCOPED_TRACE(e.name + " sample " + std::to_string(i));
                ASSERT_NE(sp.data, nullptr);
                EXPECT_GT(sp.sample_rate, 0);
                EXPECT_GT(sp.root_freq, 0);
                EXPECT_GT(sp.data_length, 0u);
                EXPECT_LE(sp.loop_start, sp.loop_end);
                EXPECT_LE(sp.loop_end, sp.data_length);
                EXPECT_EQ(sp.modes & (MODES_REVERSE | MODES_UNSIGNED), 0);
                EXPECT_TRUE(std::isfinite(sp.volume));
                size_t n = sp.data_length >> FRACTION_BITS;
                EXPECT_EQ(sp.data[n], 0);
                EXPECT_EQ(sp.data[n + 1], 0);
                if (e.drum) {
                    EXPECT_EQ(sp.note_to_use, e.program);
                    EXPECT_EQ(sp.modes & (MODES_LOOPING | MODES_ENVELOPE), 0);
                }
                if (e.amp >= 0) {
                    EXPECT_DOUBLE_EQ(sp.volume, e.amp / 100.0);
                }
                if (e.pan >= 0) {
                    EXPECT_EQ(sp.panning, e.pan);
                }
            }
        }
        EXPECT_EQ(loaded, (int)list.size());
        EXPECT_GT(drum_count, 0);
        EXPECT_EQ(dumb_error_count, errors_before);
    }
    clean_up_pathlist();
}
