// The render loop: whole blocks to the queue, flushing, failures, muted channels, a low device.
#include "synth/play/player_fixture.h"

class RenderLoop : public PlayerTest {};

TEST_F(RenderLoop, WholeBlocksAreQueuedFailuresEndAndMutedChannelsLoseTheirVoices)
{
    ASSERT_EQ(compute_data(0), RC_NONE);
    ASSERT_EQ(compute_data(4095), RC_NONE);
    EXPECT_EQ(std::make_tuple(fake_output().writes, buffered_count, buffer_pointer),
              std::make_tuple(std::vector<int32>{}, 4095, common_buffer + 2 * 4095));
    ASSERT_EQ(compute_data(1), RC_NONE);
    EXPECT_EQ(std::make_tuple(fake_output().writes, buffered_count, buffer_pointer),
              std::make_tuple(std::vector<int32>{4096 * 4}, 0, common_buffer));
    // A long span goes out block by block, the rest waits.
    ASSERT_EQ(compute_data(3 * 4096 + 10), RC_NONE);
    EXPECT_EQ(std::make_tuple(fake_output().writes.size(), buffered_count, current_sample),
              std::make_tuple(4ul, 10, 4 * 4096 + 10));
    // Silence (and the output stage's dither) is what it renders while no voice sounds.
    const std::vector<int32> values = recorded();
    for (size_t i = 0; i < values.size(); i++)
        ASSERT_LE(std::abs(values[i]), 8) << "value " << i;
    // A flush queues only what is buffered, and nothing when nothing is.
    ASSERT_EQ(compute_data(0), RC_NONE);
    ASSERT_EQ(compute_data(0), RC_NONE);
    ASSERT_EQ(fake_output().writes.size(), 5u);
    EXPECT_EQ(fake_output().writes[4], 10 * 4);

    fake_output().fail = true;
    EXPECT_EQ(compute_data(5000), RC_ERROR);
    ASSERT_EQ(compute_data(10), RC_NONE);
    EXPECT_EQ(compute_data(0), RC_ERROR);
    fake_output().fail = false;

    int muted = sounding_voice(3, 60), heard = sounding_voice(4, 62);
    channel_mute = 1u << 3;
    ASSERT_EQ(compute_data(10), RC_NONE);
    channel_mute = 0;
    // The heard channel had a voice in this span.
    EXPECT_EQ(std::make_tuple(voice[muted].status, voice[heard].status, channel[4].lasttime),
              std::make_tuple((uint8)VOICE_FREE, (uint8)VOICE_ON, current_sample));
    Restore interrupted(intr, 1);
    EXPECT_EQ(compute_data(5000), RC_QUIT);
}

// A device queue running low makes rendering cheaper and cuts releasing voices; a full one not.
static const int kQueueBytes = 1 << 20;  // 262144 frames

TEST_F(RenderLoop, ALowQueueLowersQualityAndCutsReleasingVoices)
{
    Restore quality(no_4point_interpolation, 0);
    Restore reduced(reduce_quality_flag);
    fake_output().qsize = kQueueBytes;
    fake_mode().flag = PF_PCM_STREAM | PF_CAN_TRACE;
    aq_setup();
    const int released = 40;
    for (int i = 0; i < released; i++)
        sounding_voice(i % 16, 40 + i, VOICE_OFF);
    for (bool full : {true, false}) {
        fake_output().filled = full ? kQueueBytes / 4 : 0;
        aq_fill_buffer_flag = 0;  // past the initial fill
        ASSERT_EQ(compute_data(4096), RC_NONE);
        EXPECT_EQ(reduce_quality_flag, full ? 0 : 1);
        const int in_use = count_active_voices();
        EXPECT_TRUE(full ? in_use == released : in_use < released / 2) << in_use << " voices";
    }
}
