// The effect list behind the GS insertion effect and the XG insertion, variation and chorus
// effects: a chain of processing stages, each with its own parameter record, run in place on
// a stereo buffer. The type of an effect (GS or XG type numbers) chooses the stages and how
// the song's parameters convert into each stage's record.
#ifndef CORVELLE_EFFECTS_EFFECT_LIST_H
#define CORVELLE_EFFECTS_EFFECT_LIST_H

#include "effects/effect.h"

// Processing stages.
enum {
    EFFECT_NONE = 0,
    EFFECT_EQ2,        // low and high shelf
    EFFECT_EQ3,        // low shelf, mid peak, high shelf
    EFFECT_STEREO_EQ,  // low and high shelf, two mid peaks, level
    EFFECT_DRIVE,      // overdrive, distortion and amp simulator
    EFFECT_CHORUS,     // chorus, celeste, flanger, symphonic
    EFFECT_DELAY,      // delay L,C,R; delay L,R; echo; cross delay
    EFFECT_TREMOLO,    // tremolo and auto pan
    EFFECT_LOFI,       // bit and rate reduction with filters and noise
    EFFECT_STAGES
};

struct EffectList {
    int type;
    void* info;
    EffectList* next_ef;
};

// Stage records. Each stage is initialised (count -1) after its record is filled, and frees
// what it allocated at count -2.
struct InfoEQ2 {
    double low_freq, high_freq, low_gain, high_gain;
    filter_biquad lsf, hsf;
};

struct InfoEQ3 {
    double low_freq, mid_freq, high_freq, low_gain, mid_gain, high_gain, mid_width;
    filter_biquad lsf, peak, hsf;
};

struct InfoStereoEQ {
    double low_freq, high_freq, m1_freq, m2_freq, low_gain, high_gain, m1_gain, m2_gain, m1_q,
        m2_q, level;
    int32 leveli;  // level, Q24
    filter_biquad lsf, hsf, m1, m2;
};

enum { DRIVE_OVERDRIVE = 0, DRIVE_DISTORTION };
struct InfoDrive {
    int kind;              // DRIVE_OVERDRIVE or DRIVE_DISTORTION
    double drive;          // 0..1
    double cutoff;         // amp simulator low-pass, Hz (0: none)
    double level, pan;     // output level 0..1, pan 0 (left)..1 (right)
    double dry, wet;       // mix of the input and the effect
    int32 pregaini;        // gain before the clipper, Q24 (1..64)
    int32 leveli, leftgaini, rightgaini, dryi, weti;  // the gains above, Q24
    filter_biquad amp;
};

struct InfoChorus {
    double lfo_freq;    // Hz
    double depth_ms;    // modulation depth
    double delay_ms;    // delay offset
    double feedback;    // -0.98..0.98
    double phase_diff;  // degrees between the sides
    int voices;         // taps per side (1 chorus and flanger, 3 celeste, 4 symphonic)
    double dry, wet;
    simple_delay lineL, lineR;
    lfo lfoL[4], lfoR[4];
    int32 offseti, depthi;        // delay offset and modulation depth, 1/256 sample
    int32 feedbacki, dryi, weti;  // Q24
};

enum { DELAY_LCR = 0, DELAY_LR, DELAY_ECHO, DELAY_CROSS };
struct InfoDelay {
    int kind;
    double max_ms;        // the longest delay the lines hold
    double ms[6];         // LCR: L, R, C, feedback; LR: L, R, fb L, fb R;
                          // echo: L1, R1, L2, R2; cross: L->R, R->L
    double feedback, feedback_r, level_c, level2, high_damp, dry, wet;
    int input_select;     // cross delay: 0 L, 1 R, 2 L and R
    simple_delay lineL, lineR;
    int32 tap[6];  // the delays of ms, samples
    int32 feedbacki, feedback_ri, level_ci, level2i, dampi, idampi, dryi, weti;  // Q24
    int32 damp_stateL, damp_stateR;  // the feedback low-passes' outputs, mix scale
};

struct InfoTremolo {
    int auto_pan;
    double lfo_freq, depth, phase_diff;  // depth 0..1
    lfo lfoL, lfoR;
    int32 depthi;  // depth, Q24
};

struct InfoLoFi {
    int hold;          // samples held (rate reduction), at least 1
    int bits;          // word length kept, 1..28
    double pre_cutoff, post_cutoff;  // Hz, 0 none
    double resonance;  // of the post filter
    int noise_type;    // 0 none, 1 white, 2 pink
    double noise_level, noise_cutoff;
    double level, pan, dry, wet;
    filter_biquad pre, post, noise_lpf;
    int32 counter;         // samples since the held values were taken, 0..hold - 1
    int32 heldL, heldR;    // the values held, mix scale
    int32 noisei;          // noise amplitude, mix scale per unit of the generator
    int32 leveli, leftgaini, rightgaini, dryi, weti;  // Q24
};

// Runs one stage of the list.
void do_effect_stage(int32* buf, int32 count, EffectList* ef);
// The size of a stage's record.
size_t effect_stage_size(int type);

// Dry/wet of an effect: dry 1 - wet. In system connection only the effect is heard.
void effect_dry_wet(double wet_fraction, int system, double* dry, double* wet);
// Left and right gains of pan 0..1.
void effect_pan_gains(double pan, double* left, double* right);

#endif
