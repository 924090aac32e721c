// Instruments a song needs are marked in the banks while the event array is built.
#include "midi_image.h"

#include "config/tonebank.h"
#include "frontend/options.h"
#include "instrum/instrum.h"
#include "play/sysmode.h"

namespace {

Instrument* const load_mark = (Instrument*)(-1);

class InstrumentMarksTest : public ReaderTest {
protected:
    int saved_programs_[MAX_CHANNELS];
    Restore<int> mode_{play_system_mode};
    InstrumentMarksTest()
    {
        clear_marks();
        std::copy(default_program, default_program + MAX_CHANNELS, saved_programs_);
        std::fill(default_program, default_program + MAX_CHANNELS, 0);
    }
    ~InstrumentMarksTest() override
    {
        clear_marks();
        std::copy(saved_programs_, saved_programs_ + MAX_CHANNELS, default_program);
    }
    static void clear_marks()
    {
        for (ToneBank* b : {tonebank[0], drumset[0]})
            for (ToneBankElement& t : b->tone)
                t.instrument = t.instrument == load_mark ? nullptr : t.instrument;
    }
    // The marked programs of the bank.
    static std::vector<int> marked(ToneBank* b)
    {
        std::vector<int> n;
        for (int i = 0; i < 128; i++)
            if (b->tone[i].instrument == load_mark)
                n.push_back(i);
        return n;
    }
};

// Notes mark their programs and drums; a program without a note, a channel that plays the
// default instrument and an undefined bank (bank 0 stands in, reported once) mark nothing more.
TEST_F(InstrumentMarksTest, NotesMarkTheirProgramsAndDrums)
{
    ASSERT_EQ(tonebank[77], nullptr);
    default_program[2] = -1;
    Bytes body = cat({msg(0, {0xC0, 5}), note_on(0, 0, 60, 100), msg(0, {0xC1, 7}), note_on(0, 9, 36, 100),
                      note_on(0, 9, 38, 100), msg(0, {0xC2, 10}), note_on(0, 2, 60, 100), msg(0, {0xB3, 0, 77}),
                      msg(0, {0xC3, 3}), note_on(0, 3, 60, 100), note_on(0, 3, 62, 100), msg(96, {0x80, 60, 0}),
                      end_of_track()});
    ReadResult r = read_image(smf(0, 96, {body}));
    ASSERT_TRUE(r.ok) << r.messages;
    EXPECT_EQ(marked(tonebank[0]), (std::vector<int>{3, 5}));
    EXPECT_EQ(marked(drumset[0]), (std::vector<int>{36, 38}));
    size_t first = r.messages.find("Tone bank 77 is undefined");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(r.messages.find("Tone bank 77 is undefined", first + 1), std::string::npos);
    // The next song starts from the default bank, not from this one's bank select.
    r = read_image(smf(0, 96, {cat({note_on(0, 3, 60, 100), end_of_track(96)})}));
    EXPECT_EQ(r.messages.find("Tone bank 77"), std::string::npos) << r.messages;
    // A damaged GS tone number selects program 128, which no bank has: nothing is marked, and
    // nothing past the bank is touched (the sanitizers see it).
    clear_marks();
    r = read_image(smf(0, 96, {cat({sysex(0, gs_data_set(0x40, 0x11, 0x00, {0x00, 0x80})),
                                    note_on(0, 0, 60, 100), end_of_track(96)})}));
    ASSERT_TRUE(r.ok) << r.messages;
    EXPECT_TRUE(marked(tonebank[0]).empty());
}

TEST_F(InstrumentMarksTest, DrumPartsOfGsAndXg)
{
    Bytes gs_reset = {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    Bytes drum_part = {0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x15, 0x02, 0x18, 0xF7};
    ReadResult r = read_image(smf(0, 96, {cat({sysex(0, gs_reset), sysex(0, drum_part), msg(0, {0xC0, 0}),
                                               msg(0, {0x90, 42, 100}), msg(96, {0x80, 42, 0}),
                                               end_of_track()})}));
    ASSERT_TRUE(r.ok) << r.messages;
    EXPECT_EQ(marked(drumset[0]), std::vector<int>{42});
    EXPECT_TRUE(marked(tonebank[0]).empty());
    // The song starts with the first part melodic: neither the live flags nor the song's record
    // learn the drum part from the marking pass.
    EXPECT_FALSE((current_file_info->drumchannels | drumchannels) & 1u);
    EXPECT_EQ(play_system_mode, GS_SYSTEM_MODE);
    clear_marks();
    // XG: bank MSB 127 is a drum kit; the SFX voice (bank MSB 64, LSB 0, program 9) is melodic.
    Bytes xg_on = {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
    r = read_image(smf(0, 96,
                       {cat({sysex(0, xg_on), msg(0, {0xB3, 0, 127}), msg(0, {0xC3, 0}),
                             msg(0, {0x93, 40, 100}), msg(0, {0xB4, 0, 64}), msg(0, {0xC4, 9}),
                             msg(0, {0x94, 50, 100}), msg(96, {0x83, 40, 0}), end_of_track()})}));
    ASSERT_TRUE(r.ok) << r.messages;
    EXPECT_EQ(play_system_mode, XG_SYSTEM_MODE);
    EXPECT_FALSE(current_file_info->drumchannels & (1u << 3));
    EXPECT_EQ(marked(drumset[0]), std::vector<int>{40});
    EXPECT_EQ(marked(tonebank[0]), std::vector<int>{9});
}

}  // namespace
