// The play position the note view times its glyphs by: it starts when the device is given its
// first frames, however long before that someone last looked at it.
#include <algorithm>
#include <chrono>
#include <unistd.h>

#include "synth/play/player_fixture.h"

static int traced_acntl(int request, void* arg)
{
    if (request == PM_REQ_GETQSIZ) {
        *(int*)arg = 8 * 16384;
        return 0;
    }
    return recording_acntl(request, arg);
}

class AudioClock : public PlayerTest {};

TEST_F(AudioClock, StartsWhenTheDeviceGetsItsFirstFrames)
{
    PlayMode& pm = recording_mode();
    pm.flag = PF_PCM_STREAM | PF_CAN_TRACE;
    pm.acntl = traced_acntl;
    aq_setup();
    aq_set_soft_queue(1.0, 0.0);

    EXPECT_EQ(aq_samples(), 0);  // the view looks while nothing plays
    usleep(80000);
    std::vector<int32> block(2 * 4096, 0);
    auto added = std::chrono::steady_clock::now();
    ASSERT_EQ(aq_add(block.data(), 4096), 0);
    ASSERT_FALSE(recording().writes.empty());
    // Just after the first frames went out the device has played next to nothing (80 ms would
    // be 3528 frames).
    EXPECT_LT(aq_samples(), 441);
    usleep(50000);
    int32 later = aq_samples();
    // The clock counts from the first frames, not from the first look 80 ms before; the sleep
    // may last longer than asked on a busy machine, so the frames are compared with the time
    // that really passed (+-20 ms; the 4096 frames last 93 ms, then the clock waits for more).
    double since_add = std::chrono::duration<double>(std::chrono::steady_clock::now() - added).count();
    EXPECT_GT(later, std::min(since_add - 0.020, 0.070) * 44100) << since_add;
    EXPECT_LT(later, (since_add + 0.020) * 44100) << since_add;

    aq_flush(1);
    pm.acntl = recording_acntl;
}
