// The note queue between the playback thread (pushing through the note hook) and the
// toolkit thread (popping in frames).
#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include "vis/CGL_Window.h"
#include "vis/view_test_util.h"

static std::atomic<int32> shared_now{0};
static int32 shared_clock() { return shared_now.load(); }

// Every event pushed on one thread arrives once, in order, on the other.
TEST(NoteQueueThread, PushWhileFramesPop)
{
    reset_engine_defaults();
    CGL_Window view(0, 0, 512, 503);
    view.end();
    view.play_position = shared_clock;
    const int per_channel = 256, channels = 16, total = per_channel * channels;
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (int i = 0; i < total; i++) {
            MidiEvent ev = note_event(ME_NOTEON, i, i % channels, 60, (i / channels) % 128);
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
}
