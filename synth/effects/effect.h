// The effect stage: the final stage on every block (mono reverb, global reverb, left/right
// delay, noise shaping), the channel effects that the render loop feeds through send buffers
// (reverb, chorus, delay, equalisers, insertion and variation effects), and the GS/XG/GM2
// effect parameter stores that system-exclusive messages write.
//
// Order of calls for one block of count values (2 x frames on stereo output):
//   set_ch_reverb / set_ch_chorus / set_ch_delay / set_ch_eq_gs on each channel buffer
//   with a send, then set_dry_signal (or set_dry_signal_xg) on it; then mix_dry_signal on
//   the block; then the effects, each adding its return into the block: GS and other modes
//   do_ch_eq_gs, do_ch_chorus, do_ch_delay, do_ch_reverb; XG mode do_variation_effect1_xg,
//   do_ch_chorus_xg, do_ch_reverb, do_multi_eq_xg. The audio queue then calls do_effect on
//   the finished block. init_effect (audio queue set-up and flush) initialises everything;
//   init_effect_status (a new song) puts the parameter stores back to power-on.
#ifndef CORVELLE_EFFECTS_EFFECT_H
#define CORVELLE_EFFECTS_EFFECT_H

#include "sysdep.h"
#include "effects/effect_dsp.h"
#include "effects/reverb_comb.h"

// A send buffer holds one block of stereo values.
#define EFFECT_BUFFER_SIZE (4096 * 2)

// ---- reading the reverb switch ----

// Whether the reverb runs on the whole mix (2, 4, or a global kind with a fixed level).
int reverb_is_global(int control);
// Whether the reverb is the standard kind (not the comb-and-allpass kind).
int reverb_is_standard(int control);
// The send level of the global path: the fixed level, or 40.
int reverb_global_level(int control);

// ---- the final stage (effect_chain.cpp, noise_shaping.cpp) ----

// Clears the left/right delay, seeds the random generator, resets the noise shaping and
// initialises the reverb, delay, chorus and GS equaliser.
void init_effect(void);
// The final stage on a block of frames (interleaved stereo, or mono).
void do_effect(int32* buf, int32 frames);
// Widens the stereo image by delaying one side (effect_lr_mode); buf null clears the tail.
void effect_left_right_delay(int32* buf, int32 frames);
// Noise shaping of the block for the output encoding and noise_sharp_type.
void do_noise_shaping(int32* buf, int32 samples);
// The ninth-order shaper with dither for 16-bit output, on left/right pairs.
void ns_shaping16_9(int32* buf, int32 samples);
// Resets the noise-shaping state (the ninth-order coefficients for 16-bit output).
void init_noise_shaping(void);

// The shapers' state: the error feedback's last four cut-off low bits per side (left or mono
// in ns_z0), newest first, mix scale; the ninth-order shaper's weights (Q24), each side's last
// nine errors (mix scale, kept twice over) and position in them (1..9), and each side's last
// two random numbers of the dither.
extern int32 ns_z0[4], ns_z1[4];
extern int32 ns9_c[9];
extern int32 ns9_ehl[18], ns9_ehr[18];
extern int32 ns9_histposl, ns9_histposr;
extern uint32 ns9_r1l, ns9_r2l, ns9_r1r, ns9_r2r;

// ---- send buffers and the dry signal (send_buffers.cpp) ----

extern int32 reverb_effect_buffer[EFFECT_BUFFER_SIZE];
extern int32 chorus_effect_buffer[EFFECT_BUFFER_SIZE];
extern int32 delay_effect_buffer[EFFECT_BUFFER_SIZE];
extern int32 eq_buffer[EFFECT_BUFFER_SIZE];
// Scale of the reverb sends: the wet level factor of the reverb that ran last.
extern double REV_INP_LEV;

// Sends count values of a channel buffer at level (0..127) to an effect.
void set_ch_reverb(int32* buf, int32 count, int32 level);
void set_ch_chorus(int32* buf, int32 count, int32 level);
void set_ch_delay(int32* buf, int32 count, int32 level);
// A buffer of voices with sends of their own, in one pass: to the reverb by a share 0..1 of it
// (as a channel at send level 127 x share sends its buffer), to the chorus by a gain 0..16
// (a share times its font's chorus return), and to the dry signal at the XG dry level (0..127).
void set_group_sends(const int32* buf, int32 count, float reverb, float chorus, int32 dry_level);
// Sends a channel buffer through the GS equaliser instead of straight to the mix.
void set_ch_eq_gs(int32* buf, int32 count);
// The dry signal: channel buffers are added in, then it becomes the block.
void set_dry_signal(int32* buf, int32 count);
// With the XG dry level (0..127).
void set_dry_signal_xg(int32* buf, int32 count, int32 level);
void mix_dry_signal(int32* buf, int32 count);
// Clears every send buffer and the dry signal.
void init_send_buffers(void);

// ---- reverb (reverb.cpp, freeverb.cpp, reverb_delay.cpp) ----

// Initialises the reverb of the current kind and character; clears its send buffer.
void init_reverb(void);
// Reverb of the send buffer added into buf (count values).
void do_ch_reverb(int32* buf, int32 count);
// The reverb of a mono block (frames values), in place.
void do_mono_reverb(int32* buf, int32 count);

extern const float reverb_time_table[128];
double gs_revchar_to_rt(int character);
double gs_revchar_to_level(int character);
// The next prime at or above n (1 and 2 count as primes).
int32 next_prime(int32 n);

// The standard reverb: four pairs of delay lines with filters.
struct standard_reverb {
    simple_delay buf0_L, buf0_R, buf1_L, buf1_R, buf2_L, buf2_R, buf3_L, buf3_R;
    int32 spt0, spt1, spt2, spt3;  // lengths of the four pairs of lines, samples
    int32 rpt0, rpt1, rpt2, rpt3;  // positions in them, samples
    int32 ta, tb;                  // values read from lines 3 and 1 for the next side, mix scale
    int32 HPFL, HPFR, LPFL, LPFR, EPFL, EPFR;  // high-, low-pass and output filter states, mix scale
    double fbklev, nmixlev, cmixlev, monolev, hpflev, lpflev, lpfinp, epflev, epfinp, width,
        wet;  // gains and filter weights, linear
    int32 fbklevi, nmixlevi, cmixlevi, monolevi, hpflevi, lpflevi, lpfinpi, epflevi, epfinpi,
        widthi, weti;  // the same, Q24
};
// samples -1 initialises, -2 frees; otherwise reverb of the send buffer added into buf.
void do_ch_standard_reverb(int32* buf, int32 count, standard_reverb* rev);
extern standard_reverb std_reverb;

// The comb-and-allpass reverb (its combs and allpasses in reverb_comb.h).
struct freeverb_record {
    simple_delay pdelay;
    freeverb_comb combL[FREEVERB_COMBS], combR[FREEVERB_COMBS];
    freeverb_allpass allpassL[FREEVERB_ALLPASSES], allpassR[FREEVERB_ALLPASSES];
    double roomsize;   // feedback of the room, 0.7..0.98
    double damp;       // damping of the combs' low-passes, 0..1
    double wet_level;  // scale of the sends, linear
    double wet1, wet2; // each side's own and other side's share of the return, linear
    int32 wet1i, wet2i;  // the same, Q24
    int8 initialized;
};
extern const int32 combtunings[FREEVERB_COMBS];
extern const int32 allpasstunings[FREEVERB_ALLPASSES];
extern freeverb_record freeverb_status;
// samples -1 initialises from the GS reverb parameters, -2 frees; otherwise reverb of the
// send buffer added into buf.
void do_ch_freeverb(int32* buf, int32 count, freeverb_record* rev);
// rev's sixteen combs over the n inputs in the given form, their outputs added to outL and
// outR. False, with nothing done, where the processor or a gain outside 0..1 rules the form out.
bool run_freeverb_combs(freeverb_record* rev, const int32* in, int32* outL, int32* outR, int32 n,
                        freeverb_comb_form form);

// The plate reverb (GS reverb character 5).
struct plate_reverb {
    simple_delay pre, in_ap[4], tank_ap1[2], tank_dl1[2], tank_ap2[2], tank_dl2[2];
    lfo mod;          // sweeps the first tank allpasses
    int32 excursion;  // modulation depth of the first tank allpasses, samples
    int32 bw_state;       // the bandwidth filter's last output, mix scale
    int32 damp_state[2];  // each branch's damping filter output, mix scale
    int32 tank_out[2];    // each branch's output, fed to the other, mix scale
    int32 bwi, dampi, ibwi, idampi;  // bandwidth and damping filter weights, Q24
    int32 decayi, in_diff1i, in_diff2i, dec_diff1i, dec_diff2i, weti;  // gains, Q24
    double wet_level;  // scale of the sends, linear
    int32 tap[14];     // output taps, samples back in their lines: seven left, seven right
};
void do_ch_plate_reverb(int32* buf, int32 count, plate_reverb* rev);
extern plate_reverb plate_reverb_status;

// The normal and panning delays (GS reverb characters 6 and 7).
struct reverb_delay {
    simple_delay left, right;
    int32 feedbacki, leveli;  // feedback and return level, Q24
    int8 panning;             // 1: each echo comes back on the other side
};
void do_ch_reverb_normal_delay(int32* buf, int32 count, reverb_delay* rev);
void do_ch_reverb_panning_delay(int32* buf, int32 count, reverb_delay* rev);
extern reverb_delay reverb_delay_status;

// ---- chorus (chorus.cpp) ----

void init_ch_chorus(void);
// The GS stereo chorus on the chorus send buffer, added into buf.
void do_ch_chorus(int32* buf, int32 count);
// The XG chorus of the song's chorus type on the chorus send buffer, added into buf.
void do_ch_chorus_xg(int32* buf, int32 count);
extern const float chorus_delay_time_table[128];

struct stereo_chorus {
    simple_delay delayL, delayR;
    lfo lfoL, lfoR;
    int32 wpt0;          // write position in both lines, samples
    int32 spt0, spt1;    // each side's last read position, samples
    int32 hist0, hist1;  // each side's last interpolated output, mix scale
    int32 depth, pdelay;  // samples
    double level, feedback, send_reverb, send_delay;  // linear
    int32 leveli, feedbacki, send_reverbi, send_delayi;  // the same, Q24
};
// samples -1 initialises from the GS chorus parameters, -2 frees.
void do_ch_stereo_chorus(int32* buf, int32 count, stereo_chorus* info);

// ---- the GS delay (delay_gs.cpp) ----

void init_ch_delay(void);
// The three-tap delay on the delay send buffer, added into buf.
void do_ch_delay(int32* buf, int32 count);

// ---- equalisers (equalizer.cpp) ----

void init_eq_gs(void);
// The GS shelving equaliser on eq_buffer, added into buf.
void do_ch_eq_gs(int32* buf, int32 count);
// The XG part equaliser of channel ch on its buffer, in place.
void do_ch_eq_xg(int32* buf, int32 count, int ch);
// The XG five-band equaliser on the block, in place.
void do_multi_eq_xg(int32* buf, int32 count);
// Whether the song's XG multi equaliser changes anything.
int multi_eq_xg_active(void);

// ---- insertion and variation effects (insertion.cpp) ----

struct EffectList;

// The GS insertion effect on the insertion buffer, in place.
void do_insertion_effect_gs(int32* buf, int32 count);
struct effect_xg_t;
// An XG insertion effect (or the variation effect in insertion connection) on a channel
// buffer, in place.
void do_insertion_effect_xg(int32* buf, int32 count, effect_xg_t* st);
// The XG variation effect in system connection on the delay send buffer, added into buf.
void do_variation_effect1_xg(int32* buf, int32 count);

// Effect list operations.
EffectList* push_effect(EffectList* list, int type);
void free_effect_list(EffectList* list);
void do_effect_list(int32* buf, int32 count, EffectList* list);

// ---- parameter stores (effect_status.cpp) ----

struct reverb_status_gs_t {
    int8 character, pre_lpf, level, time, delay_feedback, pre_delay_time;
    filter_lowpass1 lpf;
};
struct chorus_status_gs_t {
    int8 macro, pre_lpf, level, feedback, delay, rate, depth, send_reverb, send_delay;
    filter_lowpass1 lpf;
};
struct delay_status_gs_t {
    int8 type, level, level_center, level_left, level_right, feedback, pre_lpf, send_reverb,
        time_c, time_l, time_r;
    double time_center;                // ms
    double time_ratio_left, time_ratio_right;  // of the centre time
    int32 sample[3];                   // centre, left, right delays in samples
    double level_ratio[3], feedback_ratio, send_reverb_ratio;
    filter_lowpass1 lpf;
};
struct eq_status_gs_t {
    int8 low_freq, high_freq, low_gain, high_gain;
    filter_biquad lsf, hsf;
};
struct insertion_effect_gs_t {
    int32 type;
    int8 type_lsb, type_msb, parameter[20], send_reverb, send_chorus, send_delay,
        control_source1, control_depth1, control_source2, control_depth2, send_eq_switch;
    EffectList* ef;
};
struct effect_xg_t {
    int8 use_msb, type_msb, type_lsb, param_lsb[16], param_msb[10], ret, pan, send_reverb,
        send_chorus, connection, part, mw_depth, bend_depth, cat_depth, ac1_depth, ac2_depth,
        cbc1_depth, cbc2_depth;
    EffectList* ef;
};
struct multi_eq_xg_t {
    int8 type, gain[5], freq[5], q[5], shape1, shape5;
    int8 valid, band_valid[5];
    filter_biquad eq[5];
};

extern reverb_status_gs_t reverb_status_gs;
extern chorus_status_gs_t chorus_status_gs;
extern delay_status_gs_t delay_status_gs;
extern eq_status_gs_t eq_status_gs;
extern insertion_effect_gs_t insertion_effect_gs;
extern effect_xg_t reverb_status_xg, chorus_status_xg;
#define XG_VARIATION_EFFECT_NUM 1
#define XG_INSERTION_EFFECT_NUM 2
extern effect_xg_t variation_effect_xg[XG_VARIATION_EFFECT_NUM];
extern effect_xg_t insertion_effect_xg[XG_INSERTION_EFFECT_NUM];
extern multi_eq_xg_t multi_eq_xg;

// Every store back to its power-on state, and the running effects with them (a new song).
void init_effect_status(void);
// Before the effects start: the stores at power-on the first time, afterwards the effects
// that depend on the output rate rebuilt from them.
void prepare_effect_status(void);

void init_reverb_status_gs(void);
void set_reverb_macro_gs(int macro);
void set_reverb_macro_gm2(int macro);
void recompute_reverb_status_gs(void);

void init_chorus_status_gs(void);
void set_chorus_macro_gs(int macro);
void recompute_chorus_status_gs(void);

void init_delay_status_gs(void);
void set_delay_macro_gs(int macro);
void recompute_delay_status_gs(void);

void init_eq_status_gs(void);
void recompute_eq_status_gs(void);

void init_insertion_effect_gs(void);
// Loads the defaults of the type in insertion_effect_gs and rebuilds its effect list.
void realloc_insertion_effect_gs(void);
// Rebuilds the effect list with the current parameters.
void recompute_insertion_effect_gs(void);

void init_effect_xg(effect_xg_t* st);
void init_all_effect_xg(void);
// Rebuilds the effect list of an XG effect record for its type; load_defaults 1 loads the
// type's default parameters and reports the type, 2 loads them silently, 0 keeps them.
void realloc_effect_xg(effect_xg_t* st, int load_defaults);
// The value of XG effect parameter n (1..16).
int xg_effect_param(const effect_xg_t* st, int n);

void init_multi_eq_xg(void);
void set_multi_eq_type_xg(int type);
void recompute_multi_eq_xg(void);

// The effect parameters of system-exclusive messages (the effect part of
// process_sysex_event). Each applies one parameter, reports it and recomputes the effect
// state; the result is 1 when the identifier is an effect parameter of its family, else 0
// (the caller handles it).
// GS family (ME_SYSEX_GS_LSB): reverb, chorus, delay, equaliser and insertion effect.
int set_effect_param_gs(int id, int val);
// XG family (ME_SYSEX_XG_LSB): slot_id and slot_val are the pending MSB slot (slot_id -1
// when empty), id and val the event's identifier and value.
int set_effect_param_xg(int slot_id, int slot_val, int id, int val);
// Other family (ME_SYSEX_LSB): the GM2 reverb and chorus types.
int set_effect_param_gm2(int id, int val);

#endif
