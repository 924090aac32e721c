// GS, XG and GM2 effect messages reach the effect stores with their reports, kept in range.
#include "effect_fixture.h"

#include "effects/effect_tables.h"
#include "readmidi/eventlist.h"
#include "readmidi/sysex.h"
#include "support/midi_bytes.h"

namespace {

Bytes gs(uint8 b, uint8 c, const Bytes& data) { return gs_data_set(0x40, b, c, data); }
const auto xg = xg_param_change;

class EffectStores : public EffectTest {
protected:
    // Applies a message's effect parameters as playback does; returns how many there were.
    static int apply(const Bytes& msg)
    {
        MidiEvent ev[MAX_SYSEX_EVENTS];
        int n = parse_sysex_event_multi(msg.data(), (int32)msg.size(), ev);
        int applied = 0, slot_id = -1, slot_val = 0;
        for (int i = 0; i < n; i++) {
            if (ev[i].type == ME_SYSEX_GS_LSB)
                applied += set_effect_param_gs(ev[i].b, ev[i].a);
            else if (ev[i].type == ME_SYSEX_LSB)
                applied += set_effect_param_gm2(ev[i].b, ev[i].a);
            else if (ev[i].type == ME_SYSEX_XG_MSB)
                slot_id = ev[i].b, slot_val = ev[i].a;
            else if (ev[i].type == ME_SYSEX_XG_LSB) {
                applied += set_effect_param_xg(slot_id, slot_val, ev[i].b, ev[i].a);
                slot_id = -1;
            }
        }
        return applied;
    }
    // Applies the message and checks that its reports name each text.
    static void expect_reports(const Bytes& msg, std::initializer_list<const char*> texts)
    {
        std::string m = messages_of([&] { EXPECT_GT(apply(msg), 0); });
        for (const char* t : texts)
            EXPECT_NE(m.find(t), std::string::npos) << t << " in " << m;
    }
};

}  // namespace

TEST_F(EffectStores, GsXgAndGm2Messages)
{
    expect_reports(gs(0x01, 0x30, {0x00}), {"Reverb Macro (0)"});  // Room 1
    EXPECT_EQ(std::make_tuple(reverb_status_gs.character, reverb_status_gs.pre_lpf), std::make_tuple(0, 3));
    EXPECT_NEAR(freeverb_status.roomsize, 0.98, 1e-9);  // the running reverb follows
    // Consecutive addresses in one message.
    expect_reports(gs(0x01, 0x33, {0x50, 0x60}), {"Reverb Level (80)", "Reverb Time (96)"});
    EXPECT_EQ(std::make_tuple(reverb_status_gs.level, reverb_status_gs.time), std::make_tuple(80, 96));
    for (uint8 macro = 0; macro < 8; macro++) {  // each macro is the character of its number
        apply(gs(0x01, 0x30, {macro}));
        EXPECT_EQ(reverb_status_gs.character, macro);
    }
    expect_reports(gs(0x01, 0x38, {0x05}), {"Chorus Macro (5)"});  // Flanger
    EXPECT_EQ(chorus_status_gs.feedback, 112);
    expect_reports(gs(0x01, 0x3B, {0x20}), {"Chorus Feedback (32)"});
    EXPECT_EQ(chorus_status_gs.feedback, 32);
    expect_reports(gs(0x01, 0x50, {0x04}), {"Delay Macro (4)"});  // Pan Delay 1
    EXPECT_TRUE(delay_status_gs.level_left == 125 && delay_status_gs.sample[2] > delay_status_gs.sample[1]);
    expect_reports(gs(0x02, 0x01, {0x4C}), {"EQ LOW GAIN (12 dB)"});
    EXPECT_DOUBLE_EQ(eq_status_gs.lsf.gain, 12.0);

    // An insertion type loads its defaults.
    expect_reports(gs(0x03, 0x00, {0x01, 0x10}), {"EFX TYPE (01 10)", "GS EFX: Overdrive"});
    EXPECT_EQ(std::make_tuple(insertion_effect_gs.type, insertion_effect_gs.parameter[0]),
              std::make_tuple(0x0110, 48));
    expect_reports(gs(0x03, 0x03, {0x7F}), {"EFX Parameter 1 (127)"});
    EXPECT_EQ(insertion_effect_gs.parameter[0], 127);
    EXPECT_EQ(apply(gs(0x03, 0x17, {0x10, 0x20})), 2);
    EXPECT_EQ(std::make_tuple(insertion_effect_gs.send_reverb, insertion_effect_gs.send_chorus),
              std::make_tuple(0x10, 0x20));
    // An unknown type leaves no effect to run: the insertion buffer passes unchanged.
    apply(gs(0x03, 0x00, {0x7E, 0x7E}));
    int32 b[4] = {1, 2, 3, 4};
    do_insertion_effect_gs(b, 4);
    EXPECT_EQ(b[3], 4);

    init_effect_status();  // back to power-on for a new song
    EXPECT_EQ(std::make_tuple(reverb_status_gs.character, reverb_status_gs.time, chorus_status_gs.feedback),
              std::make_tuple(4, 64, 8));
    EXPECT_NEAR(freeverb_status.roomsize, 0.938, 1e-9);

    // GM2 reverb type 8 (plate) is GS macro 5 with time 50; types beyond the last are the last.
    expect_reports({0x7F, 0x7F, 0x04, 0x05, 0x01, 0x01, 0x01, 0x01, 0x01, 0x00, 0x08, 0xF7},
                   {"Reverb Type (8)"});
    EXPECT_EQ(std::make_tuple(reverb_status_gs.character, reverb_status_gs.time), std::make_tuple(5, 50));
    std::string m = messages_of([] {
        set_effect_param_gm2(SYSEX_GM2_REVERB_TYPE, 30);
        set_effect_param_gm2(SYSEX_GM2_CHORUS_TYPE, 9);
    });
    EXPECT_NE(m.find("Reverb Type (8)"), std::string::npos) << m;
    EXPECT_NE(m.find("Chorus Type (5)"), std::string::npos) << m;
    EXPECT_EQ(chorus_status_gs.macro, 5);

    // XG reverb type Room 1 becomes GS reverb macro 0.
    expect_reports(xg(0x02, 0x01, 0x00, {0x02, 0x00}), {"Reverb Macro (0)"});
    EXPECT_EQ(reverb_status_gs.character, 0);
    expect_reports(xg(0x02, 0x01, 0x0C, {0x30}), {"Reverb Return (48)"});
    EXPECT_EQ(reverb_status_gs.level, 48);
    expect_reports(xg(0x02, 0x01, 0x20, {0x43, 0x01}), {"Chorus Type MSB (43)", "XG EFX: Flanger 2"});
    EXPECT_EQ(xg_effect_param(&chorus_status_xg, 1), 32);
    // Variation: type, then parameter 1 as MSB and LSB (a delay time in 0.1 ms).
    expect_reports(xg(0x02, 0x01, 0x40, {0x06, 0x00}), {"Variation Type MSB (06)", "XG EFX: Delay L,R"});
    EXPECT_EQ(xg_effect_param(&variation_effect_xg[0], 1), 2500);
    expect_reports(xg(0x02, 0x01, 0x42, {0x20, 0x10}), {"Variation Parameter 1 (4112)"});
    expect_reports(xg(0x02, 0x01, 0x5A, {0x01}), {"Variation Connection (1)"});
    EXPECT_EQ(variation_effect_xg[0].connection, 1);
    EXPECT_NEAR(xg_lfo_freq(127), 39.7, 0.1);  // the fastest modulation an XG effect has
    // Insertion block 1; a block the engine does not have is not taken.
    expect_reports(xg(0x03, 0x01, 0x00, {0x4A, 0x00}),
                   {"Insertion Effect Type MSB (1 4A)", "XG EFX: Overdrive"});
    EXPECT_EQ(insertion_effect_xg[1].type_msb, 0x4A);
    EXPECT_EQ(apply(xg(0x03, 0x05, 0x00, {0x49})), 0);
    // Multi equaliser: a type with gains switches it on; flat switches it off.
    EXPECT_FALSE(multi_eq_xg_active());
    expect_reports(xg(0x02, 0x40, 0x00, {0x02}), {"EQ type (2: Pops)"});
    EXPECT_TRUE(multi_eq_xg_active());
    expect_reports(xg(0x02, 0x40, 0x11, {0x4C}), {"EQ gain5 (12 dB)"});
    EXPECT_EQ(multi_eq_xg.gain[4], 0x4C);
    apply(xg(0x02, 0x40, 0x00, {0x00}));
    EXPECT_FALSE(multi_eq_xg_active());

    // Bytes above 127 are kept in range before they index a table or size a delay line.
    set_effect_param_gs(GS_REVERB_TIME, 200);
    EXPECT_EQ(reverb_status_gs.time, 127);
    set_effect_param_gs(GS_REVERB_MACRO, 0xF0);
    EXPECT_EQ(reverb_status_gs.character, 7);
    set_effect_param_gs(GS_CHORUS_DELAY, 0xFF);
    set_effect_param_gs(GS_DELAY_TIME_CENTER, 0xFF);
    set_effect_param_xg(XG_SLOT_INSERTION, 0, 0x30, 0xFF);
    std::vector<int32> buf(2048, 1 << 20);
    for (const Stage& s : {sent(set_ch_reverb, do_ch_reverb, 127, true),
                           sent(set_ch_chorus, do_ch_chorus, 127, true),
                           sent(set_ch_delay, do_ch_delay, 127, true), Stage(xg_insertion)})
        s(buf.data(), 2048);
}
