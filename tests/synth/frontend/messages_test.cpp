// Messages through the dumb interface, the MIDI trace and the allocation helpers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "frontend/controls.h"
#include "frontend/memory.h"
#include "frontend/miditrace.h"
#include "frontend/transport.h"
#include "output/output.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "support/guards.h"

// Failed allocations give null (not abort) under the address sanitizer too: the helpers' own path.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

struct Messages : ::testing::Test {
    Restore<PlayMode*> mode_{play_mode};
    Messages()
    {
        ctl = &dumb_control_mode, ctl->verbosity = 1, ctl->trace_playing = ctl->opened = dumb_error_count = 0;
        init_midi_trace();
    }
    ~Messages() override
    {
        if (ctl->opened)
            ctl_close();
        ctl->trace_playing = 0;
        init_midi_trace();
    }
};

// Errors pass every verbosity and count with shown warnings; messages go to stdout only while open.
TEST_F(Messages, VerbosityCountsStreamsAndEvents)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    for (int type : {CMSG_INFO, CMSG_TEXT, CMSG_WARNING})
        cmsg(type, VERB_NOISY, "above verbosity");
    cmsg(CMSG_INFO, VERB_VERBOSE, "info at %d", 1);
    cmsg(CMSG_ERROR, VERB_DEBUG_SILLY, "error at level %d", 4);
    cmsg(CMSG_FATAL, VERB_DEBUG_SILLY, "fatal at level 4");
    EXPECT_EQ(dumb_error_count, 2);
    cmsg(CMSG_WARNING, VERB_NORMAL, "counted warning");
    cmsg(CMSG_INFO, VERB_NORMAL, "info is not counted");
    EXPECT_EQ(dumb_error_count, 3);
    EXPECT_EQ(ctl->open(0, 0), 0);  // no ASSERT while the streams are captured
    EXPECT_EQ(ctl->opened, 1);
    cmsg(CMSG_INFO, VERB_NORMAL, "after open");
    ctl->close();
    EXPECT_EQ(ctl->opened, 0);
    std::string word(5000, 'x');  // long messages are not cut
    cmsg(CMSG_ERROR, VERB_NORMAL, "%s: end", word.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "info at 1\nerror at level 4\nfatal at level 4\ncounted warning\ninfo is not counted\n" + word +
                  ": end\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "after open\n");

    // Control events print only what the interface shows: the total and the time only when tracing.
    PlayMode mode = {};
    mode.rate = 44100, play_mode = &mode;
    ctl->open(0, 0);
    ControlEvent total = {CTLE_PLAY_START, 3969000, 0, 0, 0}, time = {CTLE_CURRENT_TIME, 75, 3, 0, 0};
    ControlEvent loading = {CTLE_NOW_LOADING, (long)"song.mid", 0, 0, 0};
    testing::internal::CaptureStdout();
    for (int trace : {0, 1})
        ctl->trace_playing = trace, ctl->event(&total);
    ctl->trace_playing = 0;
    ctl->event(&loading);
    ctl->event(&time);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Total playing time:   1 min 30 s\nPlaying song.mid\n");
}

int trace_calls = 0, trace_last_arg = 0, refreshes = 0;
void count_call(int v) { trace_calls++, trace_last_arg = v; }
void count_refresh(ControlEvent* e) { refreshes += e->type == CTLE_REFRESH; }

using Trace = Messages;

// Untimed calls run at once, and only while the interface is open; timed calls queue while
// tracing and run when the play position is unknown (there is no audio queue here).
TEST_F(Trace, CallsRunWhenDueAndOnlyWhileTheInterfaceIsOpen)
{
    EXPECT_EQ(current_trace_samples(), -1);
    trace_offset(1000);
    EXPECT_EQ(current_trace_samples(), -1);
    trace_calls = refreshes = 0;
    push_midi_trace1(count_call, 7);
    EXPECT_EQ(trace_calls, 0);
    ctl->open(0, 0);
    push_midi_trace1(count_call, 8);
    EXPECT_EQ(std::make_tuple(trace_calls, trace_last_arg), std::make_tuple(1, 8));
    EXPECT_EQ(trace_loop(), 0);
    EXPECT_EQ(trace_wait_samples(), -1);

    ctl->trace_playing = 1;
    Restore event(ctl->event, count_refresh);
    push_midi_time_vp(500, count_call, 1);
    push_midi_time_vp(900, count_call, 2);
    EXPECT_EQ(trace_calls, 1);
    EXPECT_EQ(trace_wait_samples(), 0);
    EXPECT_EQ(trace_loop(), 0);
    EXPECT_EQ(std::make_tuple(trace_calls, trace_last_arg), std::make_tuple(3, 2));

    push_midi_time_vp(100, count_call, 3);
    MidiTraceNode node = {};
    node.start = 50, node.argc = 4;
    node.a.ce = {CTLE_PAUSE, 1, 2, 0, 0};
    node.f.fce = count_refresh;
    ASSERT_NE(midi_trace_setfunc(&node), nullptr);
    trace_flush();
    EXPECT_EQ(trace_calls, 4);
    EXPECT_GE(refreshes, 1);
    EXPECT_TRUE(midi_trace.head == nullptr && midi_trace.free_list == nullptr);
}

// A clock that stands still (a stalled device) brings the next call a sample nearer on each
// look, so the queue empties; the loop hook runs on every look.
TEST_F(Trace, AStalledClockStillRunsTheQueue)
{
    PlayMode mode = {};
    mode.rate = 44100;
    mode.acntl = [](int request, void* arg) { return request == PM_REQ_GETSAMPLES ? (*(int*)arg = 100, 0) : -1; };
    play_mode = &mode;
    ctl->open(0, 0);
    ctl->trace_playing = 1, trace_calls = 0;
    static int looks = 0;
    set_trace_loop_hook([] { looks++; });
    push_midi_time_vp(104, count_call, 5);
    for (int i = 0; i < 20 && trace_loop() != 0; i++) {
    }
    EXPECT_EQ(trace_calls, 1);
    EXPECT_GE(looks, 5);
    set_trace_loop_hook(nullptr);
}

// Events reach the interface directly when not tracing; a program change on any channel,
// the first included, publishes the channel's instrument name; requests keep their values.
TEST_F(Messages, ProgramEventsAndRequests)
{
    static std::vector<long> seen;
    Restore event(ctl->event,
                  [](ControlEvent* e) { seen.insert(seen.end(), {(long)e->type, e->v1, e->v2}); });
    Restore drums(drumchannels, 0u);
    channel[0].program = -1;
    ctl_prog_event(0);
    ctl_mode_event(CTLE_PAUSE, 1, 1, 2);  // a traced event goes straight on when not tracing
    EXPECT_EQ(seen, (std::vector<long>{CTLE_PROGRAM, 0, -1, CTLE_PAUSE, 1, 2}));
    char name[64];
    published_channel_instrum_name(0, name, sizeof name);
    EXPECT_STREQ(name, "Special Program");
    channel[0].program = 0;

    int32 val = 0;
    ctl_clear_requests();
    ctl_request(RC_FORWARD, 4410);
    EXPECT_EQ(ctl_take_request(&val, 0), RC_FORWARD);
    EXPECT_EQ(val, 4410);
}

TEST(SafeMalloc, NeverReturnsNothing)
{
    void* p = safe_realloc(safe_malloc(0), 1000);
    ASSERT_NE(p, nullptr);
    memset(p, 1, 1000);
    free(p);
    char* s = safe_strdup("abc");
    EXPECT_STREQ(s, "abc");
    free(s);
    // 8 MiB is the most the guarded allocators give; the large allocator has no guard.
    for (void* big : {safe_malloc(8u << 20), safe_large_malloc(9u << 20)}) {
        EXPECT_NE(big, nullptr);
        free(big);
    }
}

TEST(SafeMallocDeathTest, StrangeSizeOrFailedAllocationEndsTheProgramWithStatus10)
{
    EXPECT_EXIT(safe_malloc((8u << 20) + 1), ::testing::ExitedWithCode(10),
                "Strange, I feel like allocating 8388609 bytes. This must be a bug.");
    EXPECT_EXIT(safe_realloc(nullptr, 9u << 20), ::testing::ExitedWithCode(10),
                "Strange, I feel like allocating");
    // More than any address space can give.
    EXPECT_EXIT(safe_large_malloc((size_t)1 << 62), ::testing::ExitedWithCode(10), "Sorry. Couldn't malloc");
    // An output is told to discard what it holds (request 2) before the exit.
    PlayMode mode = {};
    mode.acntl = [](int request, void*) { return fprintf(stderr, "acntl %d\n", request); };
    Restore<PlayMode*> output(play_mode, &mode);
    EXPECT_EXIT(safe_malloc(9u << 20), ::testing::ExitedWithCode(10), "acntl 2");
}

}  // namespace
