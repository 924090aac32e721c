// The event list, its conversion to sample time and to text, and the instruments it marks.
#include "midi_image.h"

#include <cstdio>

#include "config/tonebank.h"
#include "frontend/options.h"
#include "instrum/instrum.h"
#include "play/sysmode.h"
#include "readmidi/event_print.h"

namespace {

struct EventListTest : ReaderTest {
    ~EventListTest() override { free_midi_list(); }
};

std::vector<MidiEvent> list_contents()
{
    std::vector<MidiEvent> v;
    for (EventListNode* n = evlist->next; n != nullptr; n = n->next)
        v.push_back(n->event);
    return v;
}

// Builds an array from events added by hand (ticks at 96 per quarter unless said).
std::vector<MidiEvent> build(const std::vector<MidiEvent>& in, int32_t* samples = nullptr,
                             int32_t divisions = 96)
{
    readmidi_read_init();
    for (const MidiEvent& e : in)
        readmidi_add_event(&e);
    int32 n = 0, s = 0;
    MidiEvent* arr = build_event_array(divisions, &n, &s);
    std::vector<MidiEvent> out(arr, arr + (arr != nullptr ? n : 0));
    free(arr);
    if (samples != nullptr)
        *samples = s;
    return out;
}

TEST_F(EventListTest, InsertionOrderAndTheEventLimit)
{
    readmidi_read_init();
    // c is found by walking back from b, d by walking forward from c; a negative time is 0.
    for (MidiEvent e : {make(10, ME_NOTEON, 0, 1), make(20, ME_NOTEON, 0, 2), make(10, ME_NOTEON, 0, 3),
                        make(10, ME_NOTEON, 0, 4), make(-5, ME_NOTEON, 0, 5)})
        readmidi_add_event(&e);
    std::vector<int> order;
    for (const MidiEvent& e : list_contents())
        order.push_back(e.a);
    EXPECT_EQ(order, (std::vector<int>{5, 1, 3, 4, 2}));
    EXPECT_EQ(std::make_tuple(list_contents()[0].time, event_count), std::make_tuple(0, 6));
    // Events beyond the limit are dropped with one report.
    readmidi_read_init();
    MidiEvent ev = make(0, ME_NOTEON, 0, 60, 100);
    std::string msg = stderr_of([&] {
        for (ev.time = 0; ev.time < MAX_MIDI_EVENT + 10; ev.time++)
            readmidi_add_event(&ev);
    });
    EXPECT_EQ(std::make_tuple(event_count, readmidi_error_flag), std::make_tuple(MAX_MIDI_EVENT, 1));
    size_t first = msg.find("Maxmum number of events is exceeded");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(msg.find("Maxmum number of events is exceeded", first + 1), std::string::npos);
    EXPECT_EQ((int32_t)list_contents().size(), MAX_MIDI_EVENT - 1);
}

TEST_F(EventListTest, ControllerTranslationAndTheStringTable)
{
    MidiEvent ev;
    ASSERT_EQ(convert_midi_control_change(5, 7, 100, &ev), 1);
    EXPECT_TRUE(is_event(ev, ME_MAINVOLUME, 5, 100));
    ASSERT_EQ(convert_midi_control_change(0, 64, 200, &ev), 1);
    EXPECT_TRUE(is_event(ev, ME_SUSTAIN, 0, 127));
    ASSERT_EQ(convert_midi_control_change(0, 101, 0, &ev), 1);
    EXPECT_TRUE(is_event(ev, ME_RPN_MSB));
    int translated = 0;
    for (int c = 0; c < 256; c++)
        translated += convert_midi_control_change(0, c, 0, &ev);
    EXPECT_EQ(translated, 40);
    readmidi_read_init();
    std::string msg = stderr_of([] {
        for (int c : {3, 9, 122})
            readmidi_add_ctl_event(0, 1, c, 5);
    });
    EXPECT_EQ(event_count, 1);
    EXPECT_TRUE(has(msg, "(Control ch=1 3: 5)"));
    readmidi_read_init();
    char* s = readmidi_make_string_event(ME_LYRIC, "hello", &ev, 1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::string(s), (char)ME_LYRIC + std::string("hello"));
    EXPECT_TRUE(is_event(ev, ME_LYRIC, -1, 1, 0));  // index 0 is the empty text
    make_string_event_table();
    EXPECT_EQ(string_event_table_size, 2);
    EXPECT_STREQ(event2string(0), "");
    EXPECT_STREQ(event2string(1) + 1, "hello");
    EXPECT_TRUE(event2string(2) == nullptr && event2string(-1) == nullptr);
    // A full table stores nothing more and gives index 0.
    readmidi_read_init();
    for (int i = 1; i < MAX_STRING_EVENT; i++)
        ASSERT_NE(readmidi_make_string_event(ME_TEXT, "x", &ev, 0), nullptr);
    EXPECT_EQ(ev.a | (ev.b << 8), MAX_STRING_EVENT - 1);
    EXPECT_EQ(readmidi_make_string_event(ME_TEXT, "y", &ev, 0), nullptr);
    EXPECT_EQ(ev.a | (ev.b << 8), 0);
    free_midi_list();
    free_string_event_table();
}

TEST_F(EventListTest, SampleIncrementTimeSignaturesAndBeats)
{
    compute_sample_increment(500000, 96);  // 229.6875 samples per tick in 16.16
    EXPECT_EQ(std::make_tuple(sample_increment, sample_correction), std::make_tuple(229, 0xB000));
    // A tick longer than the step can hold is limited instead of wrapping around.
    compute_sample_increment(0xFFFFFF, 1);
    EXPECT_EQ(std::make_tuple(sample_increment, sample_correction), std::make_tuple(0x7FFF, 0xFFFF));
    readmidi_read_init();
    for (MidiEvent e : {make(480, ME_TIMESIG, 0, 3, 4), make(960, ME_TIMESIG, 0, 3, 4),
                        make(1000, ME_NOTEOFF, 0, 60)})
        readmidi_add_event(&e);
    TimeSigRecord rec[8];
    auto sigs = [&rec](int n) {
        std::string s;
        for (int i = 0; i < n; i++)
            s += std::to_string(rec[i].time) + ": " + std::to_string(rec[i].numerator) + "/" +
                 std::to_string(rec[i].denominator) + " ";
        return s;
    };
    ASSERT_EQ(dump_current_timesig(rec, 8), 2);
    EXPECT_EQ(sigs(2), "0: 4/4 480: 3/4 ");
    EXPECT_EQ(dump_current_timesig(rec, 1) * 10 + dump_current_timesig(rec, 0), 10);
    // A later signature at the same tick replaces the earlier one; the 3/4 at 960 then
    // differs from the signature before it.
    MidiEvent six = make(480, ME_TIMESIG, 0, 6, 8);
    readmidi_add_event(&six);
    ASSERT_EQ(dump_current_timesig(rec, 8), 3);
    EXPECT_EQ(sigs(3), "0: 4/4 480: 6/8 960: 3/4 ");

    // Beat events count measures and restart at a new signature: 3/4 from the start, 2/4 from
    // tick 336 (in the middle of the second measure).
    std::vector<MidiEvent> steps = only(build({make(0, ME_TIMESIG, 0, 3, 4), make(0, ME_NOTEON, 0, 60, 100),
                                               make(336, ME_TIMESIG, 0, 2, 4), make(600, ME_NOTEOFF, 0, 60)}),
                                        ME_NOTE_STEP);
    const int want[][3] = {{0, 1, 1}, {96, 1, 2}, {192, 1, 3}, {288, 2, 1}, {336, 3, 1}, {432, 3, 2},
                           {528, 4, 1}};
    ASSERT_EQ(steps.size(), 7u);
    for (int i = 0; i < 7; i++)
        EXPECT_EQ(std::make_tuple(steps[i].time, steps[i].a | ((steps[i].b & 0x0F) << 8), steps[i].b >> 4),
                  std::make_tuple((int32_t)(want[i][0] * 229.6875), want[i][1], want[i][2])) << i;
    // A signature of no beats (a damaged file) counts four to the measure.
    steps = only(build({make(0, ME_TIMESIG, 0, 0, 4), make(0, ME_NOTEON, 0, 60, 100), make(400, ME_NOTEOFF, 0, 60)}),
                 ME_NOTE_STEP);
    ASSERT_EQ(steps.size(), 5u);
    EXPECT_TRUE(steps[3].b >> 4 == 4 && steps[4].a == 2 && steps[4].b >> 4 == 1);
    // With one tick per quarter an eighth-note beat is shorter than a tick; the walk still
    // advances one tick a beat.
    steps = build({make(0, ME_TIMESIG, 0, 4, 8), make(0, ME_NOTEON, 0, 1, 1), make(40, ME_NOTEOFF, 0, 1)},
                  nullptr, 1);
    EXPECT_EQ(only(steps, ME_NOTE_STEP).size(), 40u);
}

TEST_F(EventListTest, DroppedEventsPortsAndOverflow)
{
    quietchannels = 1 << 3;
    std::vector<MidiEvent> out = build({make(0, ME_NOTEON, 0, 60, 100), make(0, ME_NOTEON, 3, 60, 100),
                                        make(0, ME_TEXT, 0, 0, 0), make(0, ME_NONE, 0, 0),
                                        make(0, ME_GSLCD, 0, 1), make(10, ME_NOTEOFF, 0, 60)});
    quietchannels = 0;
    EXPECT_EQ(only(out, ME_NOTEON).size(), 1u);
    // Texts and empty events are dropped, and the interface does not trace playing.
    EXPECT_EQ(only(out, ME_TEXT).size() + only(out, ME_NONE).size() + only(out, ME_GSLCD).size(), 0u);
    // Channels of later ports fill free channels: 16 keeps its number (0 is taken); 200 finds
    // 8 taken by 40 and takes 24.
    std::vector<int> channels;
    for (const MidiEvent& e : only(build({make(0, ME_NOTEON, 0, 60, 100), make(0, ME_NOTEON, 16, 61, 100),
                                          make(0, ME_NOTEON, 17, 62, 100), make(0, ME_NOTEON, 40, 63, 100),
                                          make(0, ME_NOTEON, 200, 64, 100), make(10, ME_NOTEOFF, 0, 60)}),
                                   ME_NOTEON))
        channels.push_back(e.channel);
    EXPECT_EQ(channels, (std::vector<int>{0, 16, 1, 8, 24}));
    std::string msg = stderr_of([&] {
        out = build({make(0, ME_TEMPO, 0xFF, 0xFF, 0xFF), make(0, ME_NOTEON, 0, 60, 100),
                     make(0x7FFFFFF, ME_NOTEOFF, 0, 60)});
    });
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(has(msg, "Overflow the sample counter"));
    EXPECT_EQ(evlist, nullptr);
}

TEST(EventPrint, OneLinePerEventAndWriteErrors)
{
    MidiEvent ev[] = {{0, ME_NOTEON, 0, 60, 100},  {22050, ME_NOTEOFF, 9, 36, 0},
                      {22050, ME_TEMPO, 0x20, 0x07, 0xA1},
                      {30000, 200, 1, 2, 3}, {30000, ME_LAST, 0, 0, 0},   {44100, ME_EOT, 0, 0, 0}};
    for (int n : {6, 0}) {
        FILE* fp = tmpfile();
        ASSERT_NE(fp, nullptr);
        EXPECT_EQ(write_event_list(fp, ev, n), 0);
        std::string s(1000, '\0');
        rewind(fp);
        s.resize(fread(&s[0], 1, s.size(), fp));
        fclose(fp);
        EXPECT_EQ(s, n == 0 ? "" : "0 ME_NOTEON 0 60 100\n22050 ME_NOTEOFF 9 36 0\n22050 ME_TEMPO 32 7 161\n"
                                   "30000 Unknown 1 2 3\n30000 ME_LAST 0 0 0\n44100 ME_EOT 0 0 0\n");
    }
    if (FILE* full = fopen("/dev/full", "w")) {
        EXPECT_EQ(write_event_list(full, ev, 1), -1);
        fclose(full);
    }
}

// Instruments a song needs are marked in the banks while the event array is built.
class InstrumentMarksTest : public ReaderTest {
protected:
    const std::vector<int> saved_programs_{default_program, default_program + MAX_CHANNELS};
    Restore<int> mode_{play_system_mode};
    InstrumentMarksTest()
    {
        clear_marks();
        std::fill(default_program, default_program + MAX_CHANNELS, 0);
    }
    ~InstrumentMarksTest() override
    {
        clear_marks();
        std::copy(saved_programs_.begin(), saved_programs_.end(), default_program);
    }
    static void clear_marks()
    {
        for (ToneBank* b : {tonebank[0], drumset[0]})
            for (ToneBankElement& t : b->tone)
                t.instrument = t.instrument == MAGIC_LOAD_INSTRUMENT ? nullptr : t.instrument;
    }
    // The marked programs of the bank.
    static std::vector<int> marked(ToneBank* b)
    {
        std::vector<int> n;
        for (int i = 0; i < 128; i++)
            if (b->tone[i].instrument == MAGIC_LOAD_INSTRUMENT)
                n.push_back(i);
        return n;
    }
};

// A program without a note, a channel on the default instrument and an undefined bank (bank 0
// stands in, reported once) mark nothing more.
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
    EXPECT_FALSE(has(r.messages, "Tone bank 77")) << r.messages;
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

TEST_F(EventListTest, SilenceBeforeTheFirstNoteIsNotCountedAndTempoChangesCount)
{
    // One second per quarter from tick 0; the first note after 10 quarters of nothing; half a
    // second per quarter from the middle of the note on.
    int32_t samples = 0;
    std::vector<MidiEvent> out = build({make(0, ME_TEMPO, 0x40, 0x0F, 0x42), make(480, ME_PROGRAM, 0, 5),
                                        make(960, ME_NOTEON, 0, 60, 100), make(1008, ME_TEMPO, 0x20, 0x07, 0xA1),
                                        make(1056, ME_NOTEOFF, 0, 60)}, &samples);
    auto on = only(out, ME_NOTEON), off = only(out, ME_NOTEOFF), steps = only(out, ME_NOTE_STEP);
    ASSERT_TRUE(on.size() == 1 && off.size() == 1);
    EXPECT_EQ(std::make_tuple(on[0].time, only(out, ME_PROGRAM)[0].time, samples, out.back().type),
              std::make_tuple(0, 0, off[0].time, (uint8)ME_EOT));
    EXPECT_NEAR(off[0].time, 22050 + 11025, 1);
    // Of the beats at 0, 96, ..., 960 only the one that comes with the first note is kept: the
    // eleventh beat of 4/4, measure 3 beat 3.
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_TRUE(is_event(steps[0], ME_NOTE_STEP, -1, 3));
    EXPECT_EQ(std::make_tuple(steps[0].time, steps[0].b >> 4), std::make_tuple(0, 3));
}
