// Reading Standard MIDI File images: containers, header, tracks and meta events.
#include "midi_image.h"

#include "readmidi/eventlist.h"
#include "readmidi/readmidi.h"

namespace {

class SmfReaderTest : public ReaderTest {};

Bytes note(uint32_t delta, int ch, int key, int vel)
{
    return cat({vlq(delta), {(uint8_t)(0x90 | ch), (uint8_t)key, (uint8_t)vel}});
}

TEST_F(SmfReaderTest, SmokeSingleNote)
{
    Bytes body = cat({note(0, 0, 60, 100), note(96, 0, 60, 0), end_of_track()});
    ReadResult r = read_image(smf(0, 96, {body}));
    ASSERT_TRUE(r.ok) << r.messages;
    ASSERT_FALSE(r.events.empty());
    EXPECT_EQ(r.events.back().type, ME_EOT);
    auto on = r.of_type(ME_NOTEON);
    ASSERT_EQ(on.size(), 1u);
    EXPECT_EQ(on[0].time, 0);
    auto off = r.of_type(ME_NOTEOFF);
    ASSERT_EQ(off.size(), 1u);
    EXPECT_EQ(off[0].time, 22050);  // a quarter note at 120 beats per minute
    EXPECT_EQ(off[0].b, 0);
    EXPECT_EQ(r.samples, 22050);
}

}  // namespace
