// The event list: insertion order, limits, controller translation, the string table, time
// signatures, beat events and the conversion to sample time.
#include "midi_image.h"

#include <cstdlib>
#include <vector>

#include "frontend/options.h"
#include "readmidi/eventlist.h"
#include "readmidi/readmidi.h"

namespace {

class EventListTest : public ReaderTest {
protected:
    void TearDown() override
    {
        free_midi_list();
        ReaderTest::TearDown();
    }
};

MidiEvent make(int32_t time, int type, int ch, int a, int b = 0)
{
    MidiEvent e;
    e.time = time;
    e.type = (uint8_t)type;
    e.channel = (uint8_t)ch;
    e.a = (uint8_t)a;
    e.b = (uint8_t)b;
    return e;
}

std::vector<MidiEvent> list_contents()
{
    std::vector<MidiEvent> v;
    for (EventListNode* n = evlist->next; n != nullptr; n = n->next)
        v.push_back(n->event);
    return v;
}

TEST_F(EventListTest, EqualTimesKeepInsertionOrderInBothSearchDirections)
{
    readmidi_read_init();
    MidiEvent a = make(10, ME_NOTEON, 0, 1), b = make(20, ME_NOTEON, 0, 2),
              c = make(10, ME_NOTEON, 0, 3), d = make(10, ME_NOTEON, 0, 4),
              e = make(-5, ME_NOTEON, 0, 5);
    readmidi_add_event(&a);
    readmidi_add_event(&b);
    readmidi_add_event(&c);  // found by walking back from b
    readmidi_add_event(&d);  // found by walking forward from c
    readmidi_add_event(&e);  // a negative time becomes 0
    std::vector<MidiEvent> v = list_contents();
    ASSERT_EQ(v.size(), 5u);
    int order[] = {5, 1, 3, 4, 2};
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(v[i].a, order[i]) << i;
    EXPECT_EQ(v[0].time, 0);
    EXPECT_EQ(event_count, 6);
}

TEST_F(EventListTest, EventsBeyondTheLimitAreDroppedWithOneReport)
{
    readmidi_read_init();
    testing::internal::CaptureStderr();
    MidiEvent ev = make(0, ME_NOTEON, 0, 60, 100);
    for (int32_t i = 0; i < MAX_MIDI_EVENT + 10; i++) {
        ev.time = i;
        readmidi_add_event(&ev);
    }
    std::string msg = testing::internal::GetCapturedStderr();
    EXPECT_EQ(event_count, MAX_MIDI_EVENT);
    EXPECT_EQ(readmidi_error_flag, 1);
    size_t first = msg.find("Maxmum number of events is exceeded");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(msg.find("Maxmum number of events is exceeded", first + 1), std::string::npos);
    EXPECT_EQ((int32_t)list_contents().size(), MAX_MIDI_EVENT - 1);
}

TEST_F(EventListTest, ControllerTranslation)
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
    testing::internal::CaptureStderr();
    readmidi_add_ctl_event(0, 1, 3, 5);
    readmidi_add_ctl_event(0, 1, 9, 5);
    readmidi_add_ctl_event(0, 1, 122, 5);
    std::string msg = testing::internal::GetCapturedStderr();
    EXPECT_EQ(event_count, 1);
    EXPECT_NE(msg.find("(Control ch=1 3: 5)"), std::string::npos);
    EXPECT_NE(msg.find("(Control ch=1 122: 5)"), std::string::npos);
}

TEST_F(EventListTest, StringTable)
{
    readmidi_read_init();
    MidiEvent ev;
    char* s = readmidi_make_string_event(ME_LYRIC, "hello", &ev, 1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s[0], ME_LYRIC);
    EXPECT_STREQ(s + 1, "hello");
    EXPECT_TRUE(is_event(ev, ME_LYRIC, -1, 1, 0));  // index 0 is the empty text
    make_string_event_table();
    EXPECT_EQ(string_event_table_size, 2);
    EXPECT_STREQ(event2string(0), "");
    EXPECT_STREQ(event2string(1) + 1, "hello");
    EXPECT_EQ(event2string(2), nullptr);
    EXPECT_EQ(event2string(-1), nullptr);

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

TEST_F(EventListTest, SampleIncrementIsTempoTimesRateInSixteenSixteen)
{
    compute_sample_increment(500000, 96);
    long double exact = 500000.0L * 44100 * 0.065536L / 96;
    EXPECT_EQ(sample_increment, (int32_t)exact >> 16);
    EXPECT_EQ(sample_correction, (int32_t)exact & 0xFFFF);
    EXPECT_EQ(sample_increment, 229);  // 229.6875 samples per tick

    // A tick longer than the step can hold is limited instead of wrapping around.
    compute_sample_increment(0xFFFFFF, 1);
    EXPECT_EQ(sample_increment, 0x7FFF);
    EXPECT_EQ(sample_correction, 0xFFFF);
}

// Builds an array from events added by hand (ticks at 96 per quarter).
std::vector<MidiEvent> build(const std::vector<MidiEvent>& in, int32_t* samples = nullptr,
                             int32_t divisions = 96)
{
    readmidi_read_init();
    for (const MidiEvent& e : in)
        readmidi_add_event(&e);
    int32 n = 0, s = 0;
    MidiEvent* arr = build_event_array(divisions, &n, &s);
    std::vector<MidiEvent> out;
    if (arr != nullptr) {
        out.assign(arr, arr + n);
        free(arr);
    }
    if (samples != nullptr)
        *samples = s;
    return out;
}

std::vector<MidiEvent> only(const std::vector<MidiEvent>& v, int type)
{
    std::vector<MidiEvent> out;
    for (const MidiEvent& e : v)
        if (e.type == type)
            out.push_back(e);
    return out;
}

TEST_F(EventListTest, TimeSignatureTableStartsWithFourFour)
{
    readmidi_read_init();
    MidiEvent ts = make(480, ME_TIMESIG, 0, 3, 4);
    MidiEvent same = make(960, ME_TIMESIG, 0, 3, 4);
    MidiEvent last = make(1000, ME_NOTEOFF, 0, 60);
    readmidi_add_event(&ts);
    readmidi_add_event(&same);
    readmidi_add_event(&last);
    TimeSigRecord rec[8];
    auto sig = [&rec](int i) {
        return std::to_string(rec[i].time) + ": " + std::to_string(rec[i].numerator) + "/" +
               std::to_string(rec[i].denominator);
    };
    ASSERT_EQ(dump_current_timesig(rec, 8), 2);
    EXPECT_EQ(sig(0), "0: 4/4");
    EXPECT_EQ(sig(1), "480: 3/4");
    EXPECT_EQ(dump_current_timesig(rec, 1), 1);
    EXPECT_EQ(dump_current_timesig(rec, 0), 0);

    // A later signature at the same tick replaces the earlier one; the 3/4 at 960 then
    // differs from the signature before it.
    MidiEvent six = make(480, ME_TIMESIG, 0, 6, 8);
    readmidi_add_event(&six);
    ASSERT_EQ(dump_current_timesig(rec, 8), 3);
    EXPECT_EQ(sig(1), "480: 6/8");
    EXPECT_EQ(sig(2), "960: 3/4");
}

TEST_F(EventListTest, BeatEventsCountMeasuresAndRestartAtANewSignature)
{
    // 3/4 from the start, 2/4 from tick 336 (in the middle of the second measure).
    std::vector<MidiEvent> out =
        build({make(0, ME_TIMESIG, 0, 3, 4), make(0, ME_NOTEON, 0, 60, 100),
               make(336, ME_TIMESIG, 0, 2, 4), make(600, ME_NOTEOFF, 0, 60)});
    std::vector<MidiEvent> steps = only(out, ME_NOTE_STEP);
    struct Beat {
        int tick, measure, beat;
    } want[] = {{0, 1, 1}, {96, 1, 2}, {192, 1, 3}, {288, 2, 1}, {336, 3, 1},
                {432, 3, 2}, {528, 4, 1}};
    ASSERT_EQ(steps.size(), 7u);
    for (int i = 0; i < 7; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(steps[i].time, (int32_t)(want[i].tick * 229.6875));
        EXPECT_EQ(steps[i].a | ((steps[i].b & 0x0F) << 8), want[i].measure);
        EXPECT_EQ(steps[i].b >> 4, want[i].beat);
    }

    // With one tick per quarter an eighth-note beat is shorter than a tick; the walk still
    // advances one tick a beat.
    std::vector<MidiEvent> tiny = build({make(0, ME_TIMESIG, 0, 4, 8), make(0, ME_NOTEON, 0, 1, 1),
                                         make(40, ME_NOTEOFF, 0, 1)},
                                        nullptr, 1);
    EXPECT_EQ(only(tiny, ME_NOTE_STEP).size(), 40u);
}

TEST_F(EventListTest, SilenceBeforeTheFirstNoteIsNotCountedAndTempoChangesCount)
{
    // Tempo 1 second per quarter at tick 0; first note after 10 quarters of nothing; half a
    // second per quarter from the middle of the note on.
    int32_t samples = 0;
    std::vector<MidiEvent> out =
        build({make(0, ME_TEMPO, 0x40, 0x0F, 0x42), make(480, ME_PROGRAM, 0, 5),
               make(960, ME_NOTEON, 0, 60, 100), make(1008, ME_TEMPO, 0x20, 0x07, 0xA1),
               make(1056, ME_NOTEOFF, 0, 60)},
              &samples);
    auto on = only(out, ME_NOTEON);
    auto off = only(out, ME_NOTEOFF);
    ASSERT_EQ(on.size(), 1u);
    ASSERT_EQ(off.size(), 1u);
    EXPECT_EQ(on[0].time, 0);
    EXPECT_EQ(only(out, ME_PROGRAM)[0].time, 0);
    EXPECT_NEAR(off[0].time, 22050 + 11025, 1);
    EXPECT_EQ(samples, off[0].time);
    EXPECT_EQ(out.back().type, ME_EOT);
    // Of the beats at 0, 96, ..., 960 only the one that comes with the first note is kept.
    auto steps = only(out, ME_NOTE_STEP);
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].time, 0);
    EXPECT_EQ(steps[0].a, 3);  // the eleventh beat of 4/4: measure 3, beat 3
    EXPECT_EQ(steps[0].b >> 4, 3);
}

TEST_F(EventListTest, DroppedEvents)
{
    quietchannels = 1 << 3;
    std::vector<MidiEvent> out =
        build({make(0, ME_NOTEON, 0, 60, 100), make(0, ME_NOTEON, 3, 60, 100),
               make(0, ME_TEXT, 0, 0, 0), make(0, ME_NONE, 0, 0), make(0, ME_GSLCD, 0, 1),
               make(10, ME_NOTEOFF, 0, 60)});
    quietchannels = 0;
    EXPECT_EQ(only(out, ME_NOTEON).size(), 1u);
    EXPECT_TRUE(only(out, ME_TEXT).empty());
    EXPECT_TRUE(only(out, ME_NONE).empty());
    EXPECT_TRUE(only(out, ME_GSLCD).empty());  // the interface does not trace playing
}

TEST_F(EventListTest, SampleCounterOverflowFailsTheLoad)
{
    testing::internal::CaptureStderr();
    std::vector<MidiEvent> out =
        build({make(0, ME_TEMPO, 0xFF, 0xFF, 0xFF), make(0, ME_NOTEON, 0, 60, 100),
               make(0x7FFFFFF, ME_NOTEOFF, 0, 60)});
    std::string msg = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(out.empty());
    EXPECT_NE(msg.find("Overflow the sample counter"), std::string::npos);
    EXPECT_EQ(evlist, nullptr);
}

TEST_F(EventListTest, ChannelsOfLaterPortsFillFreeChannels)
{
    std::vector<MidiEvent> out =
        build({make(0, ME_NOTEON, 0, 60, 100), make(0, ME_NOTEON, 16, 61, 100),
               make(0, ME_NOTEON, 17, 62, 100), make(0, ME_NOTEON, 40, 63, 100),
               make(0, ME_NOTEON, 200, 64, 100), make(10, ME_NOTEOFF, 0, 60)});
    auto on = only(out, ME_NOTEON);
    ASSERT_EQ(on.size(), 5u);
    // 16 keeps its number (0 is taken); 200 finds 8 taken by 40 and takes 24.
    const int want[] = {0, 16, 1, 8, 24};
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(on[i].channel, want[i]) << i;
}

}  // namespace
