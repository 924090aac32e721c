// The play position the note view times its glyphs by: it starts when the device is given its
// first frames, however long before that someone last looked at it.
#include <algorithm>
#include <unistd.h>

#include "support/device_trace.h"
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
    Span added = timed([&] { ASSERT_EQ(aq_add(block.data(), 4096), 0); });
    ASSERT_FALSE(recording().writes.empty());
    // The clock counts from the first frames, not from the first look 80 ms before (which
    // would put it 3528 frames ahead).
    for (int k = 0; k < 2; k++) {
        int32 now = 0;
        Span read = timed([&] { now = aq_samples(); });
        EXPECT_GE(now, fewest_frames(added, read, 44100, 4096) - 1) << k;
        EXPECT_LE(now, most_frames(added, read, 44100, 4096) + 1) << k;
        usleep(50000);
    }

    aq_flush(1);
    pm.acntl = recording_acntl;
}
