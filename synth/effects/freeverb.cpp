// The comb-and-allpass reverb: a pre-delay, eight damped combs in parallel and four allpasses
// in series on each side, the right side spread by 23 samples, lengths and feedback following
// the GS reverb character, level and time.
#include <cmath>
#include <cstdlib>

#include "effects/effect.h"
#include "effects/reverb_comb.h"
#include "output/output.h"

const int32 combtunings[FREEVERB_COMBS] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
const int32 allpasstunings[FREEVERB_ALLPASSES] = {225, 341, 441, 556};
static const int32 stereo_spread = 23;

freeverb_record freeverb_status;

// A delay length for a tuning at 44100 Hz, scaled, at least 10, raised to a prime.
static int32 scaled_length(int32 tuning, double rate, double scale)
{
    double len = tuning * rate * scale / 44100.0;
    if (!(len < 1e8))  // also catches a NaN
        len = 1e8;
    int32 n = (int32)len;
    return next_prime(n < 10 ? 10 : n);
}

static void init_freeverb(freeverb_record* rev)
{
    const reverb_status_gs_t& st = reverb_status_gs;
    const double rate = (play_mode != nullptr && play_mode->rate > 0) ? play_mode->rate : 44100;

    if (!rev->initialized) {
        for (int i = 0; i < FREEVERB_COMBS; i++) {
            set_freeverb_comb(&rev->combL[i], combtunings[i]);
            set_freeverb_comb(&rev->combR[i], combtunings[i] + stereo_spread);
        }
        for (int i = 0; i < FREEVERB_ALLPASSES; i++) {
            set_freeverb_allpass(&rev->allpassL[i], allpasstunings[i]);
            set_freeverb_allpass(&rev->allpassR[i], allpasstunings[i] + stereo_spread);
        }
        rev->damp = 0.2;
        rev->initialized = 1;
    }

    rev->wet_level = (double)st.level / 127.0 * gs_revchar_to_level(st.character) * 0.025;

    double room;
    switch (st.character) {
    case 1: room = 0.94; break;
    case 2: room = 0.97; break;
    case 3: room = 0.9; break;
    case 4: room = 0.85; break;
    default: room = 1.0; break;
    }
    rev->roomsize = room * 0.28 + 0.7;
    rev->wet1 = 0.75;
    rev->wet2 = 0.25;

    const double T = gs_revchar_to_rt(st.character) * reverb_time_table[st.time & 0x7f];
    const double N = (1617.0 * 60.0) / (-20.0 * log10(rev->roomsize) * 44100.0);
    const double scale = (T * 3.0) / N;

    for (int i = 0; i < FREEVERB_COMBS; i++) {
        set_freeverb_comb(&rev->combL[i], scaled_length(combtunings[i], rate, scale));
        set_freeverb_comb(&rev->combR[i],
                          scaled_length(combtunings[i] + stereo_spread, rate, scale));
    }
    for (int i = 0; i < FREEVERB_ALLPASSES; i++) {
        set_freeverb_allpass(&rev->allpassL[i], scaled_length(allpasstunings[i], rate, scale));
        set_freeverb_allpass(&rev->allpassR[i],
                             scaled_length(allpasstunings[i] + stereo_spread, rate, scale));
    }

    for (int i = 0; i < FREEVERB_COMBS; i++) {
        double fb = pow(10.0, -3.0 * combtunings[i] / (44100.0 * T));
        freeverb_comb* sides[2] = {&rev->combL[i], &rev->combR[i]};
        for (freeverb_comb* c : sides) {
            c->feedback = fb;
            c->damp1 = rev->damp;
            c->damp2 = 1.0 - rev->damp;
            c->feedbacki = fx_gain(c->feedback);
            c->damp1i = fx_gain(c->damp1);
            c->damp2i = fx_gain(c->damp2);
        }
    }
    for (int i = 0; i < FREEVERB_ALLPASSES; i++) {
        rev->allpassL[i].feedback = rev->allpassR[i].feedback = 0.55;
        rev->allpassL[i].feedbacki = rev->allpassR[i].feedbacki = fx_gain(0.55);
    }
    rev->wet1i = fx_gain(rev->wet1);
    rev->wet2i = fx_gain(rev->wet2);

    set_delay(&rev->pdelay, (int32)(rate * st.pre_delay_time / 1000.0));

    for (int i = 0; i < FREEVERB_COMBS; i++) {
        init_freeverb_comb(&rev->combL[i]);
        init_freeverb_comb(&rev->combR[i]);
    }
    for (int i = 0; i < FREEVERB_ALLPASSES; i++) {
        init_freeverb_allpass(&rev->allpassL[i]);
        init_freeverb_allpass(&rev->allpassR[i]);
    }
}

static void free_freeverb(freeverb_record* rev)
{
    for (int i = 0; i < FREEVERB_COMBS; i++) {
        free(rev->combL[i].buf);
        free(rev->combR[i].buf);
        rev->combL[i].buf = rev->combR[i].buf = nullptr;
    }
    for (int i = 0; i < FREEVERB_ALLPASSES; i++) {
        free(rev->allpassL[i].buf);
        free(rev->allpassR[i].buf);
        rev->allpassL[i].buf = rev->allpassR[i].buf = nullptr;
    }
    free_delay(&rev->pdelay);
    rev->initialized = 0;
}

// The reverb runs a block at a time, up to this many frames: the pre-delay, then the comb
// bank, the allpasses and the wet mix, each over the whole chunk.
#define FREEVERB_CHUNK 2048

static freeverb_comb_form widest_form(const freeverb_record* rev)
{
    return reverb_combs_form(rev->combL, rev->combR, rev->allpassL, rev->allpassR, rev->wet1i,
                             rev->wet2i);
}

bool run_freeverb_combs(freeverb_record* rev, const int32* in, int32* outL, int32* outR, int32 n,
                        freeverb_comb_form form)
{
    if (form > widest_form(rev))
        return false;
    if (form == FREEVERB_COMBS_AVX2)
        reverb_combs_avx2(rev->combL, rev->combR, in, outL, outR, n);
    else if (form == FREEVERB_COMBS_SSE2)
        reverb_combs_sse2(rev->combL, rev->combR, in, outL, outR, n);
    else
        reverb_combs_scalar(rev->combL, rev->combR, in, outL, outR, n);
    return true;
}

void do_ch_freeverb(int32* buf, int32 count, freeverb_record* rev)
{
    if (count == -1) {
        init_freeverb(rev);
        return;
    }
    if (count == -2) {
        free_freeverb(rev);
        return;
    }
    if (!rev->initialized || rev->pdelay.buf == nullptr)
        init_freeverb(rev);
    if (count > EFFECT_BUFFER_SIZE)
        count = EFFECT_BUFFER_SIZE;
    int32* send = reverb_effect_buffer;
    simple_delay* pd = &rev->pdelay;
    static int32 d[FREEVERB_CHUNK], L[FREEVERB_CHUNK], R[FREEVERB_CHUNK];
    for (int32 at = 0; at + 1 < count; at += 2 * FREEVERB_CHUNK) {
        int32 n = (count - at) / 2;
        if (n > FREEVERB_CHUNK)
            n = FREEVERB_CHUNK;
        int32* s = send + at;
        for (int32 j = 0; j < n; j++) {
            const int32 in = s[2 * j] + s[2 * j + 1];
            s[2 * j] = s[2 * j + 1] = 0;
            d[j] = pd->buf[pd->index];
            pd->buf[pd->index] = in;
            if (++pd->index >= pd->size)
                pd->index = 0;
            L[j] = R[j] = 0;
        }
        int32* b = buf + at;
        const freeverb_comb_form form = widest_form(rev);
        if (form == FREEVERB_COMBS_SCALAR) {
            reverb_combs_scalar(rev->combL, rev->combR, d, L, R, n);
            reverb_allpasses_scalar(rev->allpassL, rev->allpassR, L, R, n);
            reverb_wet_mix_scalar(L, R, b, n, rev->wet1i, rev->wet2i);
            continue;
        }
        if (form == FREEVERB_COMBS_AVX2)
            reverb_combs_avx2(rev->combL, rev->combR, d, L, R, n);
        else
            reverb_combs_sse2(rev->combL, rev->combR, d, L, R, n);
        reverb_allpasses_sse2(rev->allpassL, rev->allpassR, L, R, n);
        reverb_wet_mix_sse2(L, R, b, n, rev->wet1i, rev->wet2i);
    }
}
