// Every patch that the installed patch set's patches.cfg names loads without a message, with
// the drum-set and tone-bank settings the file gives, into samples that are safe to render.
#include "instrum_test_support.h"

#include <cmath>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "config/files.h"

// Checks what the renderer relies on in every sample of a loaded instrument.
void expect_renderable(const Instrument* ip);

TEST_F(InstrumTest, EveryPatchOfThePatchSetLoads)
{
    const std::string dir = CORVELLE_SOURCE_DIR "/data/freepats";
    struct stat st;
    if (stat((dir + "/patches.cfg").c_str(), &st) != 0)
        GTEST_SKIP() << "no patch set at " << dir;

    // The program lines under "drumset" and "bank", with the two options the file uses.
    struct Entry {
        bool drum;
        int prog, amp = -1, pan = -1;
        std::string name;
    };
    std::vector<Entry> list;
    std::ifstream in(dir + "/patches.cfg");
    bool drum = false;
    for (std::string line, word; std::getline(in, line);) {
        std::istringstream words(line);
        if (!(words >> word))
            continue;
        if (word == "drumset" || word == "bank") {
            drum = word == "drumset";
            continue;
        }
        Entry e;
        e.drum = drum;
        e.prog = std::stoi(word);
        words >> e.name;
        while (words >> word) {
            if (word.rfind("amp=", 0) == 0)
                e.amp = std::stoi(word.substr(4));
            else if (word == "pan=center")
                e.pan = 64;
            else
                ADD_FAILURE() << "option the test does not know: " << word;
        }
        list.push_back(e);
    }
    ASSERT_GT(list.size(), 100u);

    add_to_pathlist(dir.c_str());
    // At the usual rate, and at half of it with the anti-aliasing filter on (most of these
    // patches are recorded above 22.05 kHz, so the filter runs over most of the set).
    for (int32 rate : {44100, 22050}) {
        mode_.rate = rate;
        antialiasing_allowed = rate < 44100;
        clear_instrument_cache(nullptr);
        TestBank drums, tones;
        size_t loaded = 0;
        for (const Entry& e : list) {
            ToneBankElement& elem = (e.drum ? drums : tones)[e.prog];
            elem.amp = (int16)e.amp;
            elem.pan = (int8)e.pan;
            std::string msg;
            Instrument* ip = load(e.name, &msg, (e.drum ? drums : tones).get(), e.drum, e.prog);
            EXPECT_EQ(msg, "") << e.name;
            if (ip == nullptr)
                continue;
            loaded++;
            SCOPED_TRACE(e.name);
            expect_renderable(ip);
            for (int i = 0; i < ip->samples; i++) {
                const Sample& sp = ip->sample[i];
                EXPECT_TRUE(!e.drum || sp.note_to_use == e.prog);
                EXPECT_TRUE(e.amp < 0 || sp.volume == e.amp / 100.0);
                EXPECT_TRUE(e.pan < 0 || sp.panning == e.pan);
            }
        }
        EXPECT_EQ(loaded, list.size()) << "at " << rate;
    }
    clean_up_pathlist();
}
