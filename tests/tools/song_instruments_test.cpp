// corvelle-render loads exactly the instruments each test song's notes need (an undefined kit or
// bank falls back to set 0, a missing program to bank 0), reporting each once, and nothing else.
#include "song_analysis.h"
#include "support/patch_set.h"

#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

using namespace songtest;

namespace {

// A tone-bank (drum 0) or drum-set (drum 1) entry: kind, bank or kit, program or note.
typedef std::tuple<int, int, int> Entry;

// What loading a song should report.
struct Loads {
    std::map<Entry, std::string> loaded;  // entry -> patch name
    std::set<Entry> unheard;              // bank 0 entries without a patch
    std::set<Entry> fallbacks;            // entries of other banks that fell back to bank 0
    std::set<int> undefined_kits;
    std::map<Entry, int> times_reported;  // loads and not-heard reports of each entry
};

// The loads a song needs as a General MIDI player sees them: channel 10 plays drums; a program
// change takes the last bank-select MSB as the bank and, on the drum channel, selects the kit.
Loads expected_loads(const std::vector<MidiEvent>& events, const std::map<Entry, std::string>& patches)
{
    std::set<std::pair<int, int>> banks;  // kind, bank defined by the configuration
    for (const auto& p : patches)
        banks.insert({std::get<0>(p.first), std::get<1>(p.first)});
    int msb[256] = {}, bank[256] = {}, program[256] = {};
    Loads out;
    for (const MidiEvent& e : events) {
        const int ch = e.channel;
        const bool drum = ch % 16 == 9;
        if (e.type == ME_TONE_BANK_MSB)
            msb[ch] = e.a;
        if (e.type == ME_PROGRAM) {
            bank[ch] = drum ? e.a : msb[ch];
            program[ch] = e.a;
        }
        if (e.type != ME_NOTEON)
            continue;
        int b = bank[ch];
        if (!banks.count({drum, b})) {
            if (drum)
                out.undefined_kits.insert(b);
            b = 0;
        }
        Entry want(drum, b, drum ? e.a : program[ch]);
        if (!patches.count(want) && b != 0) {
            out.fallbacks.insert(want);
            std::get<1>(want) = 0;
        }
        if (patches.count(want))
            out.loaded[want] = patches.at(want);
        else
            out.unheard.insert(want);
    }
    return out;
}

// The loads the tool reported for one song. A pattern counts only when it takes the whole line.
Loads reported_loads(const std::string& messages)
{
    Loads out;
    std::istringstream in(messages);
    std::string line;
    while (std::getline(in, line)) {
        const char* l = line.c_str();
        const int size = (int)line.size();
        int bank = 0, prog = 0, n = -1;
        char name[512], kind[16], note[4];
        if ((sscanf(l, "Tonebank %d %d: %511s%n", &bank, &prog, name, &n) == 3 && n == size) ||
            (sscanf(l, "Drumset %d %d(%3[A-G#]): %511s%n", &bank, &prog, note, name, &n) == 4 && n == size)) {
            Entry e(line[0] == 'D', bank, prog);
            out.loaded[e] = name;
            out.times_reported[e]++;
        } else if (sscanf(l, "No instrument mapped to %15[a-z ]%d, program %d%n", kind, &bank, &prog,
                          &n) == 3) {
            const Entry e(std::string(kind) == "drum set ", bank, prog);
            if (line.substr((size_t)n) == " - this instrument will not be heard") {
                out.unheard.insert(e);
                out.times_reported[e]++;
            } else if ((size_t)n == line.size()) {
                out.fallbacks.insert(e);
            }
        } else if (sscanf(l, "Drum set %d is undefined%n", &bank, &n) == 1 && n == size) {
            out.undefined_kits.insert(bank);
        }
    }
    return out;
}

}  // namespace

using SongInstruments = SongToolTest;

TEST_F(SongInstruments, EverySongLoadsExactlyTheInstrumentsItsNotesNeed)
{
    std::map<Entry, std::string> patches;  // the patch set's names by entry
    for (const PatchEntry& e : read_patch_set(pats + "/patches.cfg"))
        patches[Entry(e.drum, e.bank, e.number)] = e.name;
    ASSERT_GT(patches.size(), 100u);

    const std::string song_dir = CORVELLE_TEST_DATA "/songs";
    const std::vector<std::string> songs = files_ending(song_dir, ".mid");
    ASSERT_EQ(songs.size(), 11u);
    size_t fallbacks = 0, unheard = 0;
    for (const std::string& n : songs) {
        SCOPED_TRACE(n);
        const std::string path = song_dir + "/" + n;
        const SongEvents song = read_song(path);
        ASSERT_GT(song.ons.size(), 0u);
        for (const MidiEvent& e : song.events)  // the expected loads follow General MIDI only
            ASSERT_NE(e.type, ME_DRUMPART);
        const Loads want = expected_loads(song.events, patches);

        // One run per song, so that nothing is loaded before it; the output rate does not
        // change what is loaded.
        ToolRun r = render("--verbose=1 -s 8000 -Or -o /dev/null '" + path + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("Couldn't load"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("can't be found"), std::string::npos) << r.err;
        const Loads got = reported_loads(r.err);

        // Entries are (drum set?, bank or kit, program or note).
        EXPECT_EQ(got.loaded, want.loaded) << "(reported, then needed)";
        for (const auto& t : got.times_reported)
            EXPECT_EQ(t.second, 1) << ::testing::PrintToString(t.first) << " reported more than once";
        EXPECT_EQ(got.unheard, want.unheard);
        EXPECT_EQ(got.fallbacks, want.fallbacks);
        EXPECT_EQ(got.undefined_kits, want.undefined_kits);
        fallbacks += want.undefined_kits.size() + want.fallbacks.size();
        unheard += want.unheard.size();
    }
    // The songs reach both the kit fallback and programs the patch set lacks.
    EXPECT_GT(fallbacks, 0u);
    EXPECT_GT(unheard, 0u);
}
