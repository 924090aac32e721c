// System-exclusive decoding: resets, master and part volumes, GS and XG parameter writes,
// tunings, display messages and the chorus-text state.
#include "midi_image.h"

#include <cstring>

#include "readmidi/eventlist.h"
#include "readmidi/readmidi.h"
#include "readmidi/sysex.h"
#include "support/midi_bytes.h"

namespace {

class SysexTest : public ReaderTest {
protected:
    void SetUp() override
    {
        ReaderTest::SetUp();
        current_file_info = get_midi_file_info("sysex.mid", 1);
        readmidi_read_init();
        readmidi_set_track(0, 1);
    }
    void TearDown() override
    {
        free_midi_list();
        delete_string_table(&string_event_strtab);
        ReaderTest::TearDown();
    }

    // One-event decoder; ok is false when it gave none.
    bool single(const Bytes& msg, MidiEvent* ev)
    {
        return parse_sysex_event(msg.data(), (int32)msg.size(), ev) == 1;
    }
    std::vector<MidiEvent> multi(const Bytes& msg)
    {
        MidiEvent buf[MAX_SYSEX_EVENTS];
        int n = parse_sysex_event_multi(msg.data(), (int32)msg.size(), buf);
        return std::vector<MidiEvent>(buf, buf + n);
    }
};

Bytes gs(uint8_t a, uint8_t b, uint8_t c, const Bytes& data, int device = 0x10)
{
    return gs_data_set(a, b, c, data, (uint8_t)device);
}

TEST_F(SysexTest, GsResetNeedsItsChecksum)
{
    MidiEvent ev;
    Bytes reset = {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    ASSERT_TRUE(single(reset, &ev));
    EXPECT_TRUE(is_event(ev, ME_RESET, -1, 3));
    EXPECT_EQ(current_file_info->mid, 0x41);
    EXPECT_TRUE(multi(reset).empty());

    Bytes bad = reset;
    bad[8] = 0x42;
    EXPECT_FALSE(single(bad, &ev));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(multi(bad).empty());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("GS SysEx: Checksum Error."),
              std::string::npos);

    // The broadcast device number is accepted as well.
    ASSERT_TRUE(single(gs(0x40, 0x00, 0x7F, {0x00}, 0x7F), &ev));
    EXPECT_TRUE(is_event(ev, ME_RESET));
}

TEST_F(SysexTest, GsDrumPartChange)
{
    MidiEvent ev;
    Bytes msg = {0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x15, 0x02, 0x18, 0xF7};
    ASSERT_TRUE(single(msg, &ev));
    EXPECT_TRUE(is_event(ev, ME_DRUMPART, 0, 2, 255));  // block 1 is part #0
    EXPECT_TRUE(multi(msg).empty());
    EXPECT_EQ(rhythm_part[1], 0);  // drum map 2 now plays on part #0
    EXPECT_EQ(rhythm_part[0], 9);

    // Block 0 is part #9, blocks 1 to 9 parts #0 to #8, 10 to 15 themselves; 50 is port B.
    EXPECT_EQ(block_to_part(0, 0), 9);
    EXPECT_EQ(block_to_part(9, 0), 8);
    EXPECT_EQ(block_to_part(10, 0), 10);
    ASSERT_TRUE(single(gs(0x50, 0x12, 0x16, {0x48}), &ev));
    EXPECT_TRUE(is_event(ev, ME_KEYSHIFT, 17, 0x48));
}

TEST_F(SysexTest, UniversalSystemModes)
{
    MidiEvent ev;
    const struct {
        uint8_t sub;
        int mode;
        const char* message;
    } modes[] = {{1, 1, "SysEx: GM System On"}, {3, 2, "SysEx: GM2 System On"},
                 {2, 0, "SysEx: GM System Off"}};
    for (const auto& m : modes) {
        testing::internal::CaptureStderr();
        ASSERT_TRUE(single({0x7E, 0x7F, 0x09, m.sub, 0xF7}, &ev)) << m.message;
        std::string msg = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(is_event(ev, ME_RESET, -1, m.mode));
        EXPECT_NE(msg.find(m.message), std::string::npos) << msg;
    }

    // Real-time sub-ID 09 sets controller destinations and leaves the system mode alone.
    Bytes dest = {0x7F, 0x7F, 0x09, 0x01, 0x02, 0x00, 0x50, 0x02, 0x7F, 0xF7};
    EXPECT_FALSE(single(dest, &ev));
    std::vector<MidiEvent> v = multi(dest);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_TRUE(is_event(v[0], ME_SYSEX_LSB, 2, 0x50, SYSEX_CAF_BASE + CTRL_DEPTH_PITCH));
    EXPECT_EQ(v[1].b, SYSEX_CAF_BASE + CTRL_DEPTH_AMPLITUDE);
    // GM2 global parameter control, chorus slot: type and depth in one message.
    v = multi({0x7F, 0x7F, 0x04, 0x05, 1, 1, 1, 1, 0x02, 0x00, 0x03, 0x02, 0x40, 0xF7});
    ASSERT_EQ(v.size(), 2u);
    EXPECT_TRUE(is_event(v[0], ME_SYSEX_LSB, 0, 3, SYSEX_GM2_CHORUS_TYPE));
    EXPECT_TRUE(is_event(v[1], ME_SYSEX_GS_LSB, 0, 0x40, GS_CHORUS_DEPTH));

    ASSERT_TRUE(single({0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}, &ev));
    EXPECT_TRUE(is_event(ev, ME_RESET, -1, 4));
    EXPECT_TRUE(multi({0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}).empty());
}

// Master volume (GS and universal), and the universal volume sent to one channel, which
// stays a channel volume.
TEST_F(SysexTest, Volumes)
{
    const struct {
        Bytes msg;
        int want;
    } cases[] = {{gs(0x40, 0x00, 0x04, {127}), 65535},
                 {gs(0x40, 0x00, 0x04, {64}), 33025},
                 {{0x7F, 0x7F, 0x04, 0x01, 0x7F, 0x7F, 0xF7}, 65535},
                 {{0x7F, 0x7F, 0x04, 0x01, 0x00, 0x00, 0xF7}, 3}};
    MidiEvent ev;
    for (const auto& c : cases) {
        ASSERT_TRUE(single(c.msg, &ev)) << c.want;
        EXPECT_EQ(ev.type, ME_MASTER_VOLUME);
        EXPECT_EQ(ev.a + 256 * ev.b, c.want) << "case " << &c - cases;
    }
    struct {
        int ll, mm, want;
    } channel[] = {{0x00, 0x20, 64}, {0x7F, 0x3F, 127}, {0x00, 0x40, 127}, {0x7F, 0x7F, 127}};
    for (const auto& c : channel) {
        ASSERT_TRUE(single({0x7F, 0x03, 0x04, 0x01, (uint8_t)c.ll, (uint8_t)c.mm, 0xF7}, &ev));
        EXPECT_TRUE(is_event(ev, ME_MAINVOLUME, 3, c.want, 255)) << c.mm * 128 + c.ll;
    }
}

TEST_F(SysexTest, XgPartParameters)
{
    std::vector<MidiEvent> v = multi({0x43, 0x10, 0x4C, 0x08, 0x03, 0x01, 0x7F, 0xF7});
    ASSERT_EQ(v.size(), 1u);
    EXPECT_TRUE(is_event(v[0], ME_TONE_BANK_MSB, 3, 127, 255));

    // Consecutive addresses: bank MSB, bank LSB, program; then a part mode of drum setup 2.
    v = multi({0x43, 0x10, 0x4C, 0x08, 0x05, 0x01, 0x00, 0x40, 0x10, 0xF7});
    ASSERT_EQ(v.size(), 3u);
    EXPECT_TRUE(is_event(v[1], ME_TONE_BANK_LSB, -1, 0x40));
    EXPECT_TRUE(is_event(v[2], ME_PROGRAM, -1, 0x10));
    v = multi({0x43, 0x10, 0x4C, 0x08, 0x05, 0x07, 0x02, 0xF7});
    ASSERT_EQ(v.size(), 1u);
    EXPECT_TRUE(is_event(v[0], ME_DRUMPART));
    EXPECT_EQ(drum_setup_xg[1], 5);

    // Drum setup 2, note 36, level: an NRPN sequence on the part that uses the setup.
    v = multi({0x43, 0x10, 0x4C, 0x31, 0x24, 0x02, 0x50, 0xF7});
    ASSERT_EQ(v.size(), 3u);
    EXPECT_TRUE(is_event(v[0], ME_NRPN_MSB, -1, 0x1A));
    EXPECT_TRUE(is_event(v[1], ME_NRPN_LSB, -1, 36));
    EXPECT_TRUE(is_event(v[2], ME_DATA_ENTRY_MSB, 5, 0x50));

    // Reverb type MSB then LSB: a GS reverb macro.
    v = multi({0x43, 0x10, 0x4C, 0x02, 0x01, 0x00, 0x02, 0x01, 0xF7});
    ASSERT_EQ(v.size(), 1u);
    EXPECT_TRUE(is_event(v[0], ME_SYSEX_GS_LSB, 1, 1, GS_REVERB_MACRO));  // Room 2
    EXPECT_EQ(set_xg_reverb_type(0x01, 0), 3);
    EXPECT_EQ(set_xg_reverb_type(0x03, 1), 4);
    EXPECT_EQ(set_xg_reverb_type(0x02, 2), 2);
    EXPECT_EQ(set_xg_reverb_type(0x10, 0), 4);
    EXPECT_EQ(set_xg_reverb_type(0x05, 0), -1);
    EXPECT_EQ(set_xg_reverb_type(0x14, 0), -1);
}

TEST_F(SysexTest, GsPartParameters)
{
    // Tone number (bank then program) on part #2 (block 3).
    std::vector<MidiEvent> v = multi(gs(0x40, 0x13, 0x00, {0x08, 0x19}));
    ASSERT_EQ(v.size(), 2u);
    EXPECT_TRUE(is_event(v[0], ME_TONE_BANK_MSB, 2, 8));
    EXPECT_TRUE(is_event(v[1], ME_PROGRAM, -1, 0x19));

    v = multi(gs(0x40, 0x10, 0x1C, {0x00}));
    ASSERT_EQ(v.size(), 1u);
    EXPECT_TRUE(is_event(v[0], ME_RANDOM_PAN, 9));
    v = multi(gs(0x40, 0x10, 0x1D, {0x24, 0x60}));  // key range low, then high
    ASSERT_EQ(v.size(), 2u);
    EXPECT_TRUE(is_event(v[0], ME_SYSEX_LSB, 9, 0x24, SYSEX_NOTE_LIMIT_LOW));
    EXPECT_TRUE(is_event(v[1], ME_SYSEX_LSB, 9, 0x60, SYSEX_NOTE_LIMIT_HIGH));
    v = multi(gs(0x40, 0x11, 0x02, {0x10}));
    ASSERT_EQ(v.size(), 1u);
    EXPECT_TRUE(is_event(v[0], ME_SYSEX_GS_LSB, -1, 0x80, GS_RECEIVE_CHANNEL));  // no channel
    // Modulation LFO1 pitch depth of part #0 (40 21 04).
    v = multi(gs(0x40, 0x21, 0x04, {0x30}));
    ASSERT_EQ(v.size(), 1u);
    EXPECT_TRUE(is_event(v[0], ME_SYSEX_LSB, -1, -1, SYSEX_MOD_BASE + CTRL_DEPTH_LFO1_PITCH));
}

TEST_F(SysexTest, ScaleTuning)
{
    Bytes data = {0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x7F};
    testing::internal::CaptureStderr();
    std::vector<MidiEvent> v = multi(gs(0x40, 0x11, 0x40, data));
    std::string msg = testing::internal::GetCapturedStderr();
    ASSERT_EQ(v.size(), 12u);
    for (int k = 0; k < 12; k++)  // b: cents, signed
        EXPECT_TRUE(is_event(v[k], ME_SCALE_TUNING, 0, k, (uint8_t)(data[k] - 64))) << k;
    EXPECT_NE(msg.find("Scale Tuning C# (CH:0 1 cent)"), std::string::npos);
    EXPECT_NE(msg.find("Scale Tuning B (CH:0 63 cent)"), std::string::npos);

    // The universal form, for channels 0 and 15.
    Bytes uni = {0x7F, 0x7F, 0x08, 0x08, 0x02, 0x00, 0x01};
    uni.insert(uni.end(), data.begin(), data.end());
    uni.push_back(0xF7);
    v = multi(uni);
    ASSERT_EQ(v.size(), 24u);
    EXPECT_EQ(v[0].channel, 0);
    EXPECT_EQ(v[12].channel, 15);
    EXPECT_EQ(v[23].b, 63);  // 0x7F: +63 cents
    // Cut short: nothing.
    uni.resize(12);
    EXPECT_TRUE(multi(uni).empty());
}

TEST_F(SysexTest, BulkTuningDump)
{
    Bytes msg = {0x7E, 0x00, 0x08, 0x01, 0x05};
    for (int i = 0; i < 16; i++)
        msg.push_back('a' + i);
    for (int n = 0; n < 128; n++) {
        msg.push_back((uint8_t)n);
        msg.push_back((uint8_t)(n / 2));
        msg.push_back((uint8_t)(127 - n));
    }
    msg.push_back(0x00);  // checksum
    msg.push_back(0xF7);
    std::vector<MidiEvent> v = multi(msg);
    ASSERT_EQ(v.size(), 257u);
    EXPECT_TRUE(is_event(v[0], ME_BULK_TUNING_DUMP, -1, 5));
    EXPECT_TRUE(is_event(v[1 + 2 * 7], ME_BULK_TUNING_DUMP, 1, 7, 7));
    EXPECT_TRUE(is_event(v[2 + 2 * 7], ME_BULK_TUNING_DUMP, 2, 3, 120));

    msg.resize(300);
    EXPECT_TRUE(multi(msg).empty());

    // Single-note changes: two events per note.
    v = multi({0x7F, 0x00, 0x08, 0x02, 0x01, 0x02, 60, 61, 0, 0, 62, 63, 0x10, 0x20, 0xF7});
    ASSERT_EQ(v.size(), 5u);
    EXPECT_TRUE(is_event(v[0], ME_SINGLE_NOTE_TUNING));
    EXPECT_TRUE(is_event(v[3], ME_SINGLE_NOTE_TUNING, -1, 62));
    EXPECT_EQ(v[4].b, 0x20);
}

TEST_F(SysexTest, LongWritesStopAtTheEventBuffer)
{
    // 128 drum levels of drum map 1 would be 384 events.
    Bytes data(128, 0x40);
    std::vector<MidiEvent> v = multi(gs(0x41, 0x02, 0x00, data));
    EXPECT_EQ(v.size(), (size_t)MAX_SYSEX_EVENTS);
}

TEST_F(SysexTest, DisplayTextAndBitmap)
{
    MidiEvent ev;
    Bytes text = {0x41, 0x10, 0x45, 0x12, 0x10, 0x00, 0x00, 'H', 'i', '!', 0x00, 0xF7};
    ASSERT_TRUE(single(text, &ev));
    EXPECT_TRUE(is_event(ev, ME_INSERT_TEXT));
    char* stored = string_event_strtab.tail->string;
    EXPECT_EQ(stored[0], ME_INSERT_TEXT);
    EXPECT_STREQ(stored + 1, "Hi!");

    Bytes bitmap = {0x41, 0x10, 0x45, 0x12, 0x10, 0x01, 0x00};
    for (int i = 0; i < 64; i++)
        bitmap.push_back((uint8_t)(i == 0 ? 0x1F : i == 63 ? 0x0A : 0));
    bitmap.push_back(0x00);
    bitmap.push_back(0xF7);
    ASSERT_TRUE(single(bitmap, &ev));
    EXPECT_TRUE(is_event(ev, ME_GSLCD, -1, 2, 0));  // string number 2
    stored = string_event_strtab.tail->string;
    EXPECT_EQ(strlen(stored + 1), 128u);
    EXPECT_EQ(std::string(stored + 1, 2), "1F");
    EXPECT_EQ(std::string(stored + 127, 2), "0A");
}

TEST_F(SysexTest, ChorusTextStartsWhenItsStateIsFilled)
{
    MidiEvent ev;
    Bytes tail(20, 'x');
    EXPECT_FALSE(single(gs(0x40, 0x01, 0x10, tail), &ev));
    EXPECT_FALSE(chorus_text_started());
    EXPECT_FALSE(single(gs(0x40, 0x01, 0x37, {0, 0, 0}), &ev));  // next to the slots: no effect
    for (int a = 0x38; a <= 0x3F; a++) {
        EXPECT_FALSE(chorus_text_started());
        EXPECT_FALSE(single(gs(0x40, 0x01, (uint8_t)a, {1, 2, 3}), &ev));
    }
    EXPECT_TRUE(chorus_text_started());
    readmidi_set_track(1, 1);
    EXPECT_FALSE(chorus_text_started());
}

}  // namespace
