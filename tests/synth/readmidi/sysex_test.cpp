// System-exclusive decoding: resets, volumes, GS and XG parameters, tunings and texts.
#include "midi_image.h"

#include "readmidi/sysex.h"

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
    ~SysexTest() override
    {
        free_midi_list();
        delete_string_table(&string_event_strtab);
    }
    MidiEvent ev = {};
    // The one-event decoder: whether it gave an event (in ev).
    bool single(const Bytes& msg) { return parse_sysex_event(msg.data(), (int32)msg.size(), &ev) == 1; }
    static std::vector<MidiEvent> multi(const Bytes& msg)
    {
        MidiEvent buf[MAX_SYSEX_EVENTS];
        return std::vector<MidiEvent>(buf, buf + parse_sysex_event_multi(msg.data(), (int32)msg.size(), buf));
    }
    // The events of the many-event decoder: type, channel, a, b each (-1: any value).
    static void expect_multi(const Bytes& msg, const std::vector<std::vector<int>>& want)
    {
        std::vector<MidiEvent> v = multi(msg);
        ASSERT_EQ(v.size(), want.size());
        for (size_t i = 0; i < v.size(); i++)
            EXPECT_TRUE(is_event(v[i], want[i][0], want[i][1], want[i][2], want[i][3])) << "event " << i;
    }
};

const Bytes kXgOn = {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};

TEST_F(SysexTest, ResetsAndSystemModes)
{
    Bytes reset = {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    ASSERT_TRUE(single(reset));
    EXPECT_TRUE(is_event(ev, ME_RESET, -1, 3));
    EXPECT_EQ(current_file_info->mid, 0x41);
    EXPECT_TRUE(multi(reset).empty());
    reset[8] = 0x42;  // a wrong checksum
    EXPECT_FALSE(single(reset));
    EXPECT_TRUE(has(stderr_of([&] { EXPECT_TRUE(multi(reset).empty()); }), "GS SysEx: Checksum Error."));
    ASSERT_TRUE(single(gs_data_set(0x40, 0x00, 0x7F, {0x00}, 0x7F)));  // the broadcast device number
    EXPECT_TRUE(is_event(ev, ME_RESET));
    ASSERT_TRUE(single(kXgOn));
    EXPECT_TRUE(is_event(ev, ME_RESET, -1, 4));
    EXPECT_TRUE(multi(kXgOn).empty());
    EXPECT_TRUE(multi({0x7F, 0x7F, 0x08}).empty());  // too short to name its kind: not read past
    const uint8_t modes[][2] = {{1, 1}, {3, 2}, {2, 0}};  // GM on, GM2 on, GM off
    for (const auto& m : modes) {
        stderr_of([&] { EXPECT_TRUE(single({0x7E, 0x7F, 0x09, m[0], 0xF7})) << (int)m[0]; });
        EXPECT_TRUE(is_event(ev, ME_RESET, -1, m[1])) << (int)m[0];
    }
    // Real-time sub-ID 09 sets controller destinations and leaves the system mode alone.
    Bytes dest = {0x7F, 0x7F, 0x09, 0x01, 0x02, 0x00, 0x50, 0x02, 0x7F, 0xF7};
    EXPECT_FALSE(single(dest));
    expect_multi(dest, {{ME_SYSEX_LSB, 2, 0x50, SYSEX_CAF_BASE + CTRL_DEPTH_PITCH},
                        {ME_SYSEX_LSB, 2, -1, SYSEX_CAF_BASE + CTRL_DEPTH_AMPLITUDE}});
    // GM2 global parameter control, chorus slot: type and depth in one message.
    expect_multi({0x7F, 0x7F, 0x04, 0x05, 1, 1, 1, 1, 0x02, 0x00, 0x03, 0x02, 0x40, 0xF7},
                 {{ME_SYSEX_LSB, 0, 3, SYSEX_GM2_CHORUS_TYPE}, {ME_SYSEX_GS_LSB, 0, 0x40, GS_CHORUS_DEPTH}});
}

// Master volume (GS and universal); the universal one sent to one channel is a channel volume.
TEST_F(SysexTest, Volumes)
{
    const struct { Bytes msg; int type, want; } cases[] = {
        {gs_data_set(0x40, 0x00, 0x04, {127}), ME_MASTER_VOLUME, 65535},
        {gs_data_set(0x40, 0x00, 0x04, {64}), ME_MASTER_VOLUME, 33025},
        {{0x7F, 0x7F, 0x04, 0x01, 0x7F, 0x7F, 0xF7}, ME_MASTER_VOLUME, 65535},
        {{0x7F, 0x7F, 0x04, 0x01, 0x00, 0x00, 0xF7}, ME_MASTER_VOLUME, 3},
        {{0x7F, 0x03, 0x04, 0x01, 0x00, 0x20, 0xF7}, ME_MAINVOLUME, 64 + 256 * 255},
        {{0x7F, 0x03, 0x04, 0x01, 0x7F, 0x3F, 0xF7}, ME_MAINVOLUME, 127 + 256 * 255},
        {{0x7F, 0x03, 0x04, 0x01, 0x00, 0x40, 0xF7}, ME_MAINVOLUME, 127 + 256 * 255},
        {{0x7F, 0x03, 0x04, 0x01, 0x7F, 0x7F, 0xF7}, ME_MAINVOLUME, 127 + 256 * 255}};
    for (const auto& c : cases) {
        ASSERT_TRUE(single(c.msg)) << "case " << &c - cases;
        EXPECT_EQ(std::make_tuple((int)ev.type, ev.a + 256 * ev.b, (int)ev.channel),
                  std::make_tuple(c.type, c.want, c.type == ME_MAINVOLUME ? 3 : (int)ev.channel))
            << "case " << &c - cases;
    }
}

TEST_F(SysexTest, PartParameters)
{
    const struct { const char* what; Bytes msg; std::vector<std::vector<int>> events; } cases[] = {
        {"XG bank MSB", {0x43, 0x10, 0x4C, 0x08, 0x03, 0x01, 0x7F, 0xF7}, {{ME_TONE_BANK_MSB, 3, 127, 255}}},
        {"XG bank MSB, LSB, program", {0x43, 0x10, 0x4C, 0x08, 0x05, 0x01, 0x00, 0x40, 0x10, 0xF7},
         {{ME_TONE_BANK_MSB, 5, 0, -1}, {ME_TONE_BANK_LSB, -1, 0x40, -1}, {ME_PROGRAM, -1, 0x10, -1}}},
        {"XG part mode: drum setup 2", {0x43, 0x10, 0x4C, 0x08, 0x05, 0x07, 0x02, 0xF7},
         {{ME_DRUMPART, -1, -1, -1}}},
        {"XG drum setup 2, note 36, level: an NRPN sequence on the part that uses the setup",
         {0x43, 0x10, 0x4C, 0x31, 0x24, 0x02, 0x50, 0xF7},
         {{ME_NRPN_MSB, -1, 0x1A, -1}, {ME_NRPN_LSB, -1, 36, -1}, {ME_DATA_ENTRY_MSB, 5, 0x50, -1}}},
        {"XG reverb type MSB, LSB: GS macro Room 2", {0x43, 0x10, 0x4C, 0x02, 0x01, 0x00, 0x02, 0x01, 0xF7},
         {{ME_SYSEX_GS_LSB, 1, 1, GS_REVERB_MACRO}}},
        {"GS tone number", gs_data_set(0x40, 0x13, 0x00, {0x08, 0x19}),
         {{ME_TONE_BANK_MSB, 2, 8, -1}, {ME_PROGRAM, -1, 0x19, -1}}},
        {"GS random pan", gs_data_set(0x40, 0x10, 0x1C, {0x00}), {{ME_RANDOM_PAN, 9, -1, -1}}},
        {"GS key range low, high", gs_data_set(0x40, 0x10, 0x1D, {0x24, 0x60}),
         {{ME_SYSEX_LSB, 9, 0x24, SYSEX_NOTE_LIMIT_LOW}, {ME_SYSEX_LSB, 9, 0x60, SYSEX_NOTE_LIMIT_HIGH}}},
        {"GS receive channel: none", gs_data_set(0x40, 0x11, 0x02, {0x10}),
         {{ME_SYSEX_GS_LSB, -1, 0x80, GS_RECEIVE_CHANNEL}}},
        {"GS LFO1 pitch depth", gs_data_set(0x40, 0x21, 0x04, {0x30}),
         {{ME_SYSEX_LSB, -1, -1, SYSEX_MOD_BASE + CTRL_DEPTH_LFO1_PITCH}}},
        {"GS master tune, two nibbles", gs_data_set(0x40, 0x00, 0x00, {0x00, 0x04}),
         {{ME_SYSEX_MSB, 0, 0, SYSEX_MASTER_TUNE}, {ME_SYSEX_LSB, 0, 0, SYSEX_MASTER_TUNE},
          {ME_SYSEX_MSB, 0, 1, SYSEX_MASTER_TUNE}, {ME_SYSEX_LSB, 0, 4, SYSEX_MASTER_TUNE}}},
        {"GS pitch offset fine, both nibbles", gs_data_set(0x40, 0x11, 0x17, {0x08, 0x03}),
         {{ME_SYSEX_GS_MSB, 0, 8, GS_PITCH_OFFSET_FINE}, {ME_SYSEX_GS_LSB, 0, 3, GS_PITCH_OFFSET_FINE}}},
        {"GS fine tune, MSB and LSB", gs_data_set(0x40, 0x11, 0x2A, {0x41, 0x10}),
         {{ME_RPN_MSB, 0, 0, -1}, {ME_RPN_LSB, 0, 1, -1}, {ME_DATA_ENTRY_MSB, 0, 0x41, -1},
          {ME_DATA_ENTRY_LSB, 0, 0x10, -1}}},
        {"GS insertion send to reverb", gs_data_set(0x40, 0x03, 0x17, {0x50}),
         {{ME_SYSEX_GS_LSB, 0, 0x50, GS_INSERTION_SEND_REVERB}}},
        {"XG EQ treble gain", {0x43, 0x10, 0x4C, 0x08, 0x02, 0x73, 0x50, 0xF7},
         {{ME_NRPN_MSB, 2, 0x01, -1}, {ME_NRPN_LSB, 2, 0x31, -1}, {ME_DATA_ENTRY_MSB, 2, 0x50, -1}}},
        {"XG drum setup 2, note 36, variation send", {0x43, 0x10, 0x4C, 0x31, 0x24, 0x07, 0x50, 0xF7},
         {{ME_NRPN_MSB, -1, 0x1F, -1}, {ME_NRPN_LSB, -1, 36, -1}, {ME_DATA_ENTRY_MSB, -1, 0x50, -1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expect_multi(c.msg, c.events);
    }
    EXPECT_EQ(drum_setup_xg[1], 5);
    const int types[][3] = {{0x01, 0, 3}, {0x03, 1, 4}, {0x02, 2, 2}, {0x02, 0, 0}, {0x01, 2, 3},
                            {0x10, 0, 4}, {0x05, 0, -1}, {0x14, 0, -1}};
    for (const auto& t : types)
        EXPECT_EQ(set_xg_reverb_type(t[0], t[1]), t[2]) << t[0] << " " << t[1];
    const Bytes drum_part = {0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x15, 0x02, 0x18, 0xF7};
    ASSERT_TRUE(single(drum_part));
    EXPECT_TRUE(is_event(ev, ME_DRUMPART, 0, 2, 255));  // block 1 is part #0
    EXPECT_TRUE(multi(drum_part).empty());
    // Drum map 2 plays on part #0.
    EXPECT_EQ(std::make_tuple(rhythm_part[0], rhythm_part[1]), std::make_tuple(9, 0));
    // Block 0 is part #9, blocks 1 to 9 parts #0 to #8, 10 to 15 themselves; 50 is port B.
    EXPECT_EQ((std::vector<int>{block_to_part(0, 0), block_to_part(9, 0), block_to_part(10, 0)}),
              (std::vector<int>{9, 8, 10}));
    ASSERT_TRUE(single(gs_data_set(0x50, 0x12, 0x16, {0x48})));
    EXPECT_TRUE(is_event(ev, ME_KEYSHIFT, 17, 0x48));
}

TEST_F(SysexTest, ScaleAndBulkTunings)
{
    Bytes data = {0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x7F};
    std::vector<MidiEvent> v = multi(gs_data_set(0x40, 0x11, 0x40, data));
    ASSERT_EQ(v.size(), 12u);
    for (int k = 0; k < 12; k++)  // b: cents, signed
        EXPECT_TRUE(is_event(v[k], ME_SCALE_TUNING, 0, k, (uint8_t)(data[k] - 64))) << k;
    // The universal form, for channels 0 and 15; cut short it gives nothing.
    Bytes uni = cat({{0x7F, 0x7F, 0x08, 0x08, 0x02, 0x00, 0x01}, data, {0xF7}});
    v = multi(uni);
    ASSERT_EQ(v.size(), 24u);
    EXPECT_EQ((std::vector<int>{v[0].channel, v[12].channel, v[23].b}), (std::vector<int>{0, 15, 63}));
    uni.resize(12);
    EXPECT_TRUE(multi(uni).empty());
    Bytes dump = cat({{0x7E, 0x00, 0x08, 0x01, 0x05}, text("abcdefghijklmnop")});
    for (int n = 0; n < 128; n++)
        dump.insert(dump.end(), {(uint8_t)n, (uint8_t)(n / 2), (uint8_t)(127 - n)});
    dump.insert(dump.end(), {0x00, 0xF7});  // checksum
    v = multi(dump);
    ASSERT_EQ(v.size(), 257u);
    EXPECT_TRUE(is_event(v[0], ME_BULK_TUNING_DUMP, -1, 5));
    EXPECT_TRUE(is_event(v[1 + 2 * 7], ME_BULK_TUNING_DUMP, 1, 7, 7));
    EXPECT_TRUE(is_event(v[2 + 2 * 7], ME_BULK_TUNING_DUMP, 2, 3, 120));
    dump.resize(300);
    EXPECT_TRUE(multi(dump).empty());
    // Single-note changes: two events per note.
    v = multi({0x7F, 0x00, 0x08, 0x02, 0x01, 0x02, 60, 61, 0, 0, 62, 63, 0x10, 0x20, 0xF7});
    ASSERT_EQ(v.size(), 5u);
    EXPECT_TRUE(is_event(v[0], ME_SINGLE_NOTE_TUNING));
    EXPECT_TRUE(is_event(v[3], ME_SINGLE_NOTE_TUNING, -1, 62) && v[4].b == 0x20);
    // A user temperament that promises more entries than it holds gives only those it holds.
    EXPECT_EQ(multi(cat({{0x7F, 0x7F, 0x08, 0x0C, 0x01, 0x05}, Bytes(10, 0x40), {0xF7}})).size(), 6u);
    // 128 drum levels of drum map 1 would be 384 events: a long write stops at the buffer.
    EXPECT_EQ(multi(gs_data_set(0x41, 0x02, 0x00, Bytes(128, 0x40))).size(), (size_t)MAX_SYSEX_EVENTS);
}

TEST_F(SysexTest, DisplayTextBitmapAndChorusText)
{
    ASSERT_TRUE(single({0x41, 0x10, 0x45, 0x12, 0x10, 0x00, 0x00, 'H', 'i', '!', 0x00, 0xF7}));
    EXPECT_TRUE(is_event(ev, ME_INSERT_TEXT));
    EXPECT_EQ(std::string(string_event_strtab.tail->string), std::string(1, (char)ME_INSERT_TEXT) + "Hi!");
    Bytes bitmap = cat({{0x41, 0x10, 0x45, 0x12, 0x10, 0x01, 0x00, 0x1F}, Bytes(62, 0), {0x0A, 0x00, 0xF7}});
    ASSERT_TRUE(single(bitmap));
    EXPECT_TRUE(is_event(ev, ME_GSLCD, -1, 2, 0));  // string number 2
    EXPECT_EQ(std::string(string_event_strtab.tail->string + 1), "1F" + std::string(124, '0') + "0A");
    // The chorus text starts once all eight of its slots are filled, and stops at a new track.
    EXPECT_FALSE(single(gs_data_set(0x40, 0x01, 0x10, Bytes(20, 'x'))));
    EXPECT_FALSE(chorus_text_started());
    EXPECT_FALSE(single(gs_data_set(0x40, 0x01, 0x37, {0, 0, 0})));  // next to the slots: no effect
    for (int a = 0x38; a <= 0x3F; a++) {
        EXPECT_FALSE(chorus_text_started());
        EXPECT_FALSE(single(gs_data_set(0x40, 0x01, (uint8_t)a, {1, 2, 3})));
    }
    EXPECT_TRUE(chorus_text_started());
    readmidi_set_track(1, 1);
    EXPECT_FALSE(chorus_text_started());
}

}  // namespace
