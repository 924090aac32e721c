// The render loop watches how full the device queue is: when it runs low, rendering turns
// cheaper and releasing voices are cut; when it is full, nothing changes. The output here
// reports whatever fill level the test sets.
#include "synth/play/player_fixture.h"

#include "frontend/options.h"

namespace {

int device_filled = 0;           // frames the device says it still holds
const int kQueueBytes = 1 << 20;  // the device queue: 262144 frames

int tracing_acntl(int request, void* arg)
{
    switch (request) {
    case PM_REQ_GETQSIZ: *(int*)arg = kQueueBytes; return 0;
    case PM_REQ_GETFILLED: *(int*)arg = device_filled; return 0;
    case PM_REQ_DISCARD:
    case PM_REQ_FLUSH:
    case PM_REQ_OUTPUT_FINISH: return 0;
    default: return -1;
    }
}

class AdaptiveRendering : public PlayerTest {
protected:
    int saved_quality = 0;
    void SetUp() override
    {
        PlayerTest::SetUp();
        saved_quality = no_4point_interpolation;
        no_4point_interpolation = 0;
        PlayMode& pm = recording_mode();
        pm.flag = PF_PCM_STREAM | PF_CAN_TRACE;
        pm.acntl = tracing_acntl;
        aq_setup();
    }
    void TearDown() override
    {
        recording_mode().acntl = recording_acntl;
        no_4point_interpolation = saved_quality;
        reduce_quality_flag = 0;
        PlayerTest::TearDown();
    }
    int voices_in_use() const
    {
        int n = 0;
        for (int i = 0; i < upper_voices; i++)
            n += voice[i].status != VOICE_FREE;
        return n;
    }
};

// One block rendered with the device full, then one with it empty: the second asks for
// cheaper rendering and cuts the releasing voices; the first does neither.
TEST_F(AdaptiveRendering, ALowQueueLowersQualityAndCutsReleasingVoices)
{
    const int released = 40;
    for (int i = 0; i < released; i++)
        sounding_voice(i % 16, 40 + i, VOICE_OFF);
    struct Step {
        int filled;
        int quality;
        bool cut;
    } steps[] = {{kQueueBytes / 4, 0, false}, {0, 1, true}};
    for (const Step& s : steps) {
        device_filled = s.filled;
        aq_fill_buffer_flag = 0;  // past the initial fill
        ASSERT_EQ(compute_data(4096), RC_NONE);
        EXPECT_EQ(reduce_quality_flag, s.quality) << "filled " << s.filled;
        if (s.cut) {
            EXPECT_LT(voices_in_use(), released / 2);
        } else {
            EXPECT_EQ(voices_in_use(), released);
        }
    }
}

}  // namespace
