// The view's frame step fed through the note hook at a set play position, and its note queue.
#include <atomic>
#include <thread>
#include "support/guards.h"
#include "vis/view_test_util.h"

using Box = std::vector<float>;

class NoteModel : public ::testing::Test {
protected:
    CGL_Window view{0, 0, 512, 503};

    void SetUp() override
    {
        view.end();
        reset_engine_defaults();
        test_now = 0;
        view.play_position = test_clock;
    }
    void TearDown() override { reset_engine_defaults(); }

    std::list<Glyph>& glyphs(int ch, int key) { return view.visuals[ch].glyphs[key]; }
    // The four corners of the key's first glyph: (x1, bottom) (x2, bottom) (x2, top) (x1, top).
    Box box(int ch, int key)
    {
        const float* c = &glyphs(ch, key).front().corners[0][0];
        return Box(c, c + 8);
    }
    void frames(int n)
    {
        for (int i = 0; i < n; i++)
            view.nextFrame();
    }
};

TEST_F(NoteModel, HeldGlyphGrowsThenRisesFadesAndLeavesOldestReleasedFirst)
{
    note(ME_NOTEON, 0, 60);
    frames(10);
    EXPECT_EQ(box(0, 60), (Box{240, 0, 244, 0, 244, 50, 240, 50}));
    EXPECT_FLOAT_EQ(glyphs(0, 60).front().alpha, 1.0f);
    note(ME_NOTEOFF, 0, 60);
    frames(1);
    EXPECT_FALSE(glyphs(0, 60).front().held);
    EXPECT_EQ(box(0, 60), (Box{240, 5, 244, 5, 244, 55, 240, 55}));
    EXPECT_NEAR(glyphs(0, 60).front().alpha, 0.985f, 1e-6);
    frames(90);  // the top edge is capped at the view's height, the bottom goes on rising
    EXPECT_EQ(box(0, 60), (Box{240, 455, 244, 455, 244, 503, 240, 503}));
    EXPECT_FLOAT_EQ(glyphs(0, 60).front().alpha, 0.0f);
    frames(9);
    ASSERT_TRUE(view.hasGlyphs());
    EXPECT_EQ(box(0, 60)[1], 500.0f);
    frames(1);  // it leaves in the frame its bottom reaches the top
    EXPECT_FALSE(view.hasGlyphs());  // the key's empty list stays but does not count
    EXPECT_EQ(view.visuals[0].glyphs.count(60), 1u);

    // A held glyph never leaves, and with fade 0 a released one keeps its opacity.
    view.fade = 0.0f;
    note(ME_NOTEON, 0, 61);
    note(ME_NOTEON, 0, 62);
    note(ME_NOTEOFF, 0, 62);
    frames(100);
    EXPECT_FLOAT_EQ(glyphs(0, 62).front().alpha, 1.0f);
    frames(200);
    EXPECT_EQ(std::make_tuple(glyphs(0, 62).size(), glyphs(0, 61).size()), std::make_tuple(0u, 1u));

    // A note-off releases the oldest held glyph of its key.
    note(ME_NOTEOFF, 0, 63);  // nothing held yet: nothing happens
    note(ME_NOTEON, 0, 63, 10);
    frames(2);
    note(ME_NOTEON, 0, 63, 20);
    note(ME_NOTEOFF, 0, 63);
    frames(1);
    std::list<Glyph>& list = glyphs(0, 63);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(std::make_tuple(list.front().held, list.front().value, list.back().held),
              std::make_tuple(false, 10, true));
    note(ME_NOTEOFF, 0, 63);
    note(ME_NOTEOFF, 0, 63);  // the third finds no held glyph
    frames(1);
    EXPECT_EQ(std::make_tuple(list.back().held, list.size()), std::make_tuple(false, 2u));
}

TEST_F(NoteModel, EventsWaitForThePlayPositionInQueueOrder)
{
    note(ME_NOTEON, 0, 60, 100, 100);
    note(ME_NOTEON, 0, 61, 100, 50);  // due earlier, but behind a later event
    test_now = 99;
    frames(1);
    EXPECT_EQ(std::make_tuple(view.hasGlyphs(), view.events.size()), std::make_tuple(false, 2u));
    test_now = 100;
    frames(1);
    EXPECT_EQ(std::make_tuple(glyphs(0, 60).size(), glyphs(0, 61).size(), view.events.size()),
              std::make_tuple(1u, 1u, 0u));

    // An unknown position takes nothing, while glyphs already there go on moving.
    note(ME_NOTEOFF, 0, 60);
    test_now = -1;
    frames(1);
    EXPECT_EQ(std::make_tuple(view.events.size(), glyphs(0, 60).front().held, box(0, 60)[5]),
              std::make_tuple(1u, true, 10.0f));

    // Event times are scaled by the tempo ratio and rounded to the nearest sample.
    view.events.pop();
    midi_time_ratio = 2.0;
    note(ME_NOTEON, 1, 60, 100, 30);
    test_now = 59;
    frames(1);
    EXPECT_FALSE(view.events.empty());
    test_now = 60;
    frames(1);
    EXPECT_EQ(glyphs(1, 60).size(), 1u);

    // A late event starts taller by the whole seconds it is late; with no output, no lag.
    midi_time_ratio = 1.0;
    note(ME_NOTEON, 2, 60, 100, 1000);
    test_now = 1000 + 2 * 44100 + 44099;
    frames(1);
    PlayMode mode{};
    mode.rate = 44100;
    Restore<PlayMode*> output(play_mode, &mode);
    note(ME_NOTEON, 2, 61, 100, 1000);
    frames(1);
    EXPECT_EQ(std::make_tuple(box(2, 60)[5], box(2, 61)[5]), std::make_tuple(10.0f, 7.0f));
}

TEST_F(NoteModel, UnusableLimitsChannelsAndEventTypesMakeNoGlyph)
{
    channel[4].note_limit_low = channel[4].note_limit_high = 60;
    channel[5].note_limit_low = 80, channel[5].note_limit_high = 40;
    note(ME_NOTEON, 4, 60);
    note(ME_NOTEON, 5, 60);
    note(ME_NOTEOFF, 4, 60);
    note(ME_NOTEON, 40, 60);  // no such channel
    note(ME_PROGRAM, 7, 60);
    note(ME_NOTEON, 6, 60);  // still taken: the queue moved on past the others
    frames(1);
    EXPECT_TRUE(view.events.empty());
    for (int ch : {4, 5})
        for (auto& entry : view.visuals[ch].glyphs)
            EXPECT_TRUE(entry.second.empty()) << "channel " << ch << " key " << entry.first;
    EXPECT_TRUE(view.visuals[7].glyphs.empty());
    EXPECT_EQ(glyphs(6, 60).size(), 1u);
}

static std::atomic<int32> shared_now{0};
static int32 shared_clock() { return shared_now.load(); }

// Every event pushed on one thread arrives once, in order, on the other.
TEST_F(NoteModel, PushesOnAnotherThreadWhileFramesPop)
{
    view.play_position = shared_clock;
    const int per_channel = 256, channels = 16, total = per_channel * channels;
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (int i = 0; i < total; i++) {
            MidiEvent ev = make_event(i, ME_NOTEON, i % channels, 60, (i / channels) % 128);
            enqueue_event(&ev);
            shared_now = i - 20;  // the device lags behind what was rendered
            if (i % 64 == 0)
                std::this_thread::yield();
        }
        shared_now = total;
        done = true;
    });
    while (!done || !view.events.empty()) {
        view.nextFrame();
        std::this_thread::yield();
    }
    producer.join();
    view.nextFrame();
    for (int ch = 0; ch < channels; ch++) {
        const std::list<Glyph>& list = view.visuals[ch].glyphs[60];
        ASSERT_EQ(list.size(), (size_t)per_channel) << "channel " << ch;
        int i = 0;
        for (const Glyph& g : list)
            ASSERT_EQ(g.value, (i++) % 128) << "channel " << ch << " glyph " << i;
    }
}

// A frame reads the epoch, then the play position: once a seek has cleared the queue, the
// events pushed after it are not taken against the position read before.
TEST(NoteQueueEpoch, ClearedQueueTakesNothingForAnOlderEpoch)
{
    NoteQueue q;
    auto due_by = [](int32 now) { return [now](const MidiEvent& e) { return e.time <= now; }; };
    MidiEvent ev{}, got{};
    ev.time = 100;
    q.push(ev);
    unsigned before = q.epoch();
    q.clear();
    EXPECT_TRUE(q.empty());
    ev.time = 50;  // after a seek back
    q.push(ev);
    EXPECT_FALSE(q.pop_if(due_by(1000), &got, before));
    EXPECT_FALSE(q.pop_if(due_by(49), &got, q.epoch()));
    EXPECT_TRUE(q.pop_if(due_by(50), &got, q.epoch()));
    EXPECT_EQ(got.time, 50);
    EXPECT_TRUE(q.empty());
    // Once playback ends, what was never heard is drained with front and pop.
    q.push(ev);
    ASSERT_TRUE(q.front(&got));
    q.pop();
    EXPECT_TRUE(q.empty());
    EXPECT_FALSE(q.front(&got));
    q.pop();
    EXPECT_EQ(q.size(), 0u);
}
