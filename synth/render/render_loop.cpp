#include "render/render.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "effects/effect.h"
#include "frontend/controls.h"
#include "frontend/memory.h"
#include "frontend/options.h"
#include "output/aq.h"
#include "output/output.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "play/sysmode.h"
#include "play/voice.h"
#include "play/voice_sends.h"
#include "render/mix.h"
#include "render/voice_data.h"
#include "render/voice_filter.h"
#include "frontend/startup.h"
#include "instrum/instrum.h"

int32 common_buffer[AUDIO_BUFFER_SIZE * 2];
int32* buffer_pointer = common_buffer;
int32 buffered_count = 0;
int reduce_quality_flag = 0;
uint32 channel_mute = 0;

// Per-channel slices for channels with effect sends of their own: one block of stereo
// values for each of the 32 channels.
static int32* reverb_buffer = nullptr;

// What the automatic polyphony control has learnt.
static int old_rate = -1;
static int32 last_filled = 0;
static int ok_nv = 32, ok_nv_counts = 1, ok_nv_total = 32;
static int max_good_nv = 1, min_bad_nv = 256;
static int32 ok_nv_sample = 0;

void init_polyphony_control(void)
{
    old_rate = -1;
    ok_nv = 32;
    ok_nv_counts = 1;
    ok_nv_total = 32;
    max_good_nv = 1;
    min_bad_nv = 256;
    ok_nv_sample = 0;
}

void mix_signal(int32* dest, const int32* src, int32 count)
{
    for (int32 i = 0; i < count; i++)
        dest[i] += src[i];
}

static bool output_is_mono(void)
{
    return (play_mode->encoding & PE_MONO) != 0;
}

// ---- voices with effect sends of their own ----
// A SoundFont voice feeds the reverb and the chorus by shares of its own. Voices with equal
// shares (and the same XG dry level) are mixed into one slice, which goes to the effects
// once: the cost follows the number of different sends, not the number of voices.

// The effects of the block being rendered.
struct BlockEffects {
    int32 n;  // values in the block (2 x frames: effects run on stereo output only)
    bool reverb, chorus, xg;
};

// Voices with these sends share a slice.
struct SendGroup {
    float reverb, chorus;  // shares 0..1 (0 for an effect that does not run)
    int dry;               // XG dry level of their channel, 0..127; 127 for none
    int32* buf;            // the slice, n values
};

#define SEND_GROUPS 16
static int32* group_buffer = nullptr;  // SEND_GROUPS slices of a block of stereo values
static SendGroup send_groups[SEND_GROUPS];
static int send_group_count = 0;

static SendGroup send_key(int v, const BlockEffects& fx)
{
    const Voice& vp = voice[v];
    const int dry = channel[vp.channel].dry_level;
    return SendGroup{fx.reverb ? vp.reverb_send : 0.0f, fx.chorus ? vp.chorus_send : 0.0f,
                     fx.xg ? dry : 127, nullptr};
}

static bool same_sends(const SendGroup& a, const SendGroup& b)
{
    return a.reverb == b.reverb && a.chorus == b.chorus && a.dry == b.dry;
}

// Every group's slice to the effects and the dry signal; the slices are free again.
static void send_groups_to_effects(const BlockEffects& fx)
{
    for (int k = 0; k < send_group_count; k++) {
        const SendGroup& g = send_groups[k];
        set_group_sends(g.buf, fx.n, g.reverb, g.chorus, g.dry);
    }
    send_group_count = 0;
}

// The slice voice v (with sends of its own) is mixed into. When every slice is taken, those
// so far go to the effects first.
static int32* send_group_slice(int v, const BlockEffects& fx)
{
    const SendGroup key = send_key(v, fx);
    for (int k = 0; k < send_group_count; k++)
        if (same_sends(send_groups[k], key))
            return send_groups[k].buf;
    if (send_group_count == SEND_GROUPS)
        send_groups_to_effects(fx);
    if (group_buffer == nullptr)
        group_buffer = (int32*)safe_large_malloc(sizeof(int32) * AUDIO_BUFFER_SIZE * 2 * SEND_GROUPS);
    SendGroup& g = send_groups[send_group_count];
    g = key;
    g.buf = group_buffer + (size_t)send_group_count * fx.n;
    memset(g.buf, 0, sizeof(int32) * (size_t)fx.n);
    send_group_count++;
    return g.buf;
}

// Whether voices v and w (a stereo pair) go to the same buffer.
static bool same_destination(int v, int w, const BlockEffects& fx, bool effects)
{
    if (!effects)
        return true;
    const bool own_v = voice_has_own_sends(v), own_w = voice_has_own_sends(w);
    if (own_v != own_w)
        return false;
    return !own_v || same_sends(send_key(v, fx), send_key(w, fx));
}

// Voices after v whose filters run over the whole block (sounding, no start delay left, in a
// channel that is heard): a filtered voice v may have its filter run beside theirs. Up to
// three for a patch's filter; for a two-pole filter, as many two-pole ones as run at once.
static int next_filtered_voices(int v, uint32 muted, int32 count, int* next)
{
    if (!voice_has_filter(v))
        return 0;
    const bool two_pole = voice[v].filter.type == FILTER_TWO_POLE;
    const int most = two_pole ? two_pole_lanes() - 1 : 3;
    int n = 0;
    for (int j = v + 1; j < upper_voices && n < most; j++)
        if (!((muted >> voice[j].channel) & 1u) && filter_runs_whole_block(j, count) &&
            (!two_pole || voice[j].filter.type == FILTER_TWO_POLE))
            next[n++] = j;
    return n;
}

void do_compute_data(int32 count)
{
    if (count <= 0)
        return;
    const bool stereo = !output_is_mono();
    const int32 n = stereo ? count * 2 : count;
    memset(buffer_pointer, 0, sizeof(int32) * (size_t)n);

    const int32 rate = play_mode->rate;
    const int64 rev_window = opt_reverb_control == 3 ? INT64_MAX : 4LL * rate;
    const bool reverb = stereo && (opt_reverb_control == 1 || opt_reverb_control == 3 ||
                                   (opt_reverb_control < 0 && (opt_reverb_control & 0x80)));
    const bool chorus = stereo && opt_chorus_control && !opt_surround_chorus;
    const bool effects = reverb || chorus;

    // Channels with a voice that follows the channel's sends (a patch voice).
    uint32 followed = 0;
    for (int i = 0; i < upper_voices; i++)
        if (voice[i].status != VOICE_FREE) {
            channel[voice[i].channel].lasttime = current_sample + count;
            if (effects && !voice_has_own_sends(i))
                followed |= 1u << voice[i].channel;
        }
    const BlockEffects fx = {n, reverb, chorus, play_system_mode == XG_SYSTEM_MODE};

    // Channels whose sound goes through effects of its own get a slice of their own; the
    // others are mixed straight into the block. A channel whose voices all have sends of
    // their own needs none.
    int32* dest[MAX_CHANNELS];
    bool own[MAX_CHANNELS] = {};
    if (effects) {
        if (reverb_buffer == nullptr)
            reverb_buffer = (int32*)safe_large_malloc(sizeof(int32) * AUDIO_BUFFER_SIZE * 2 * MAX_CHANNELS);
        int slices = 0;
        for (int ch = 0; ch < MAX_CHANNELS; ch++) {
            const Channel& c = channel[ch];
            bool quiet_reverb = get_reverb_level(ch) == DEFAULT_REVERB_SEND_LEVEL ||
                                (int64)current_sample - c.lasttime >= rev_window;
            bool plain = quiet_reverb && c.chorus_level <= 0 && c.delay_level <= 0 &&
                         !(opt_eq_control && c.eq_gs) && !c.eq_xg.valid && c.dry_level == 127;
            if (plain || !((followed >> ch) & 1u)) {
                dest[ch] = buffer_pointer;
            } else {
                own[ch] = true;
                dest[ch] = reverb_buffer + (size_t)slices * n;
                slices++;
            }
        }
        if (slices > 0)
            memset(reverb_buffer, 0, sizeof(int32) * (size_t)slices * n);
    } else {
        for (int32*& d : dest)
            d = buffer_pointer;
    }

    // A voice on one side only is mixed together with its partner on the other side, the
    // next voice, which is then skipped.
    int paired = -1;
    for (int i = 0; i < upper_voices; i++) {
        Voice& v = voice[i];
        if (v.status == VOICE_FREE)
            continue;
        if ((channel_mute >> v.channel) & 1u) {
            free_voice(i);
            ctl_note_event(i);
            continue;
        }
        if (i != paired) {
            int32* d = effects && voice_has_own_sends(i) ? send_group_slice(i, fx) : dest[v.channel];
            int partner = stereo ? stereo_partner(i) : -1;
            if (partner >= 0 && !same_destination(i, partner, fx, effects))
                partner = -1;
            if (partner >= 0) {
                paired = partner;
                mix_voice_pair(d, i, partner, count);
            } else {
                int next[7];
                const int nnext = next_filtered_voices(i, channel_mute, count, next);
                mix_voice(d, i, count, next, nnext);
            }
        }
        if (v.status != VOICE_FREE && v.timeout == 1 && current_sample > v.timeout) {
            free_voice(i);
            ctl_note_event(i);
        }
    }
    drop_voice_data_ahead();
    trim_upper_voices();

    if (effects) {
        const bool xg = fx.xg;
        send_groups_to_effects(fx);
        for (int ch = 0; ch < MAX_CHANNELS; ch++) {
            if (!own[ch])
                continue;
            const Channel& c = channel[ch];
            if (chorus && c.chorus_level > 0)
                set_ch_chorus(dest[ch], n, c.chorus_level);
            int level = get_reverb_level(ch);
            if (reverb && level > 0 && (int64)current_sample - c.lasttime < rev_window)
                set_ch_reverb(dest[ch], n, level);
            if (xg && c.dry_level != 127)
                set_dry_signal_xg(dest[ch], n, c.dry_level);
            else
                set_dry_signal(dest[ch], n);
        }
        if (reverb)
            set_ch_reverb(buffer_pointer, n, DEFAULT_REVERB_SEND_LEVEL);
        set_dry_signal(buffer_pointer, n);
        mix_dry_signal(buffer_pointer, n);
        if (xg) {
            if (chorus)
                do_ch_chorus_xg(buffer_pointer, n);
            if (reverb)
                do_ch_reverb(buffer_pointer, n);
            if (multi_eq_xg_active())
                do_multi_eq_xg(buffer_pointer, n);
        } else {
            if (chorus)
                do_ch_chorus(buffer_pointer, n);
            if (reverb)
                do_ch_reverb(buffer_pointer, n);
        }
    }
    current_sample += count;
}

// Whether the output reports where it is playing, so that its fill level means something.
static bool output_can_trace(void)
{
    return (play_mode->flag & PF_CAN_TRACE) != 0 && !aq_fill_buffer_flag &&
           aq_get_dev_queuesize() > 0;
}

// Cheaper rendering while the queue runs low.
static void adjust_quality(void)
{
    if (!opt_realtime_playing && output_can_trace()) {
        double fill = (double)(aq_filled() + aq_soft_filled()) / aq_get_dev_queuesize() * 100.0;
        reduce_quality_flag = fill < 99.0 ? 1 : no_4point_interpolation;
    } else {
        reduce_quality_flag = no_4point_interpolation;
    }
}

// Voices that can go first when rendering falls behind: released or dying, not cached, and
// not drum notes of fixed pitch (unless dying).
static int count_killable_voices(void)
{
    int n = 0;
    for (int i = 0; i < upper_voices; i++) {
        const Voice& v = voice[i];
        if (v.status == VOICE_FREE || v.cache != nullptr)
            continue;
        if (!(v.status & (VOICE_OFF | VOICE_DIE)))
            continue;
        if (v.status == VOICE_DIE || v.sample == nullptr || v.sample->note_to_use == 0)
            n++;
    }
    return n;
}

static void control_polyphony(void)
{
    const int32 qsize = aq_get_dev_queuesize();
    const int32 filled = aq_filled();
    int rate_limit = 75;
    int32 fill_limit;
    if (reduce_voice_threshold < 0) {
        fill_limit = play_mode->rate / 5;
        if (qsize / 5 < fill_limit) {
            fill_limit = 1;
            rate_limit = 75 - ((100 * (1 << audio_buffer_bits)) / qsize) / 5;
        }
    } else {
        fill_limit = (int32)((int64)play_mode->rate * reduce_voice_threshold / 1000 + 1);
    }
    int rate = (int)((double)(aq_filled() + aq_soft_filled()) / qsize * 100.0 + 0.5);
    int nv = count_active_voices();
    const bool realtime = opt_realtime_playing != 0;

    if (!realtime && auto_reduce_polyphony && rate < 85) {
        int add = -1;
        if ((rate == old_rate && nv > min_bad_nv) || (rate >= old_rate && rate < 20))
            add = nv;
        else if (nv == voices && rate > old_rate && filled > last_filled)
            add = nv + 1;
        else if (rate <= 74 && rate < old_rate && filled < last_filled)
            add = min_bad_nv;
        if (add >= 0) {
            ok_nv_total += add;
            ok_nv_counts++;
            if (current_sample >= ok_nv_sample && ok_nv_counts > 1) {
                ok_nv_total >>= 1;
                ok_nv_counts >>= 1;
                ok_nv_sample = current_sample + play_mode->rate;
            }
        }
    }

    if ((rate < rate_limit && !realtime) || filled < fill_limit) {
        if (filled > last_filled) {
            last_filled = filled;
        } else {
            if (rate > 20 && !realtime && nv < min_bad_nv) {
                min_bad_nv = nv;
                if (max_good_nv < nv)
                    max_good_nv = nv;
            }
            int kill_nv = count_killable_voices();
            if (filled < fill_limit && (realtime || rate < 10)) {
                if (nv > kill_nv) {
                    int t = (int)(nv - nv / (nv / (nv - kill_nv) + 1.0));
                    if (kill_nv < t && t < nv)
                        kill_nv = t;
                } else {
                    kill_nv = nv - 1;
                }
            } else if (kill_nv > nv - min_bad_nv) {
                kill_nv = nv - min_bad_nv;
            }
            for (int i = 0; i < kill_nv; i++)
                reduce_voice();
            if (auto_reduce_polyphony) {
                if (kill_nv > 0)
                    nv -= kill_nv;
                ok_nv = ok_nv_total / ok_nv_counts;
                if (nv < voices && nv > ok_nv)
                    voice_decrement_conservative(voices - nv);
                else if (ok_nv < voices && nv <= ok_nv)
                    voice_decrement_conservative(voices - ok_nv);
                else if (voices < ok_nv)
                    voice_increment(ok_nv - voices);
            }
            trim_upper_voices();
            last_filled = filled;
        }
    } else {
        if (rate >= rate_limit && !realtime && filled > last_filled) {
            if (rate > 85 && nv > max_good_nv) {
                max_good_nv = nv;
                if (min_bad_nv > nv)
                    min_bad_nv = nv;
            }
            if (auto_reduce_polyphony) {
                ok_nv_total = max_good_nv * ok_nv_counts;
                if (ok_nv_counts > 1) {
                    ok_nv_total >>= 1;
                    ok_nv_counts >>= 1;
                }
                restore_voices(0);
            }
        }
        last_filled = fill_limit;
    }
    old_rate = rate;
}

// After the last voice has ended: the song is over when its end comes within the next 32
// events with nothing between that still needs playing. Note-offs count as such, because
// the note view would otherwise keep their notes held.
static int song_has_ended(int* skipped)
{
    if (current_event == nullptr)
        return 0;
    for (int k = 0; k < 32; k++) {
        switch (current_event[k].type) {
        case ME_EOT:
            *skipped = k;
            return 1;
        case ME_NOTEON:
        case ME_NOTEOFF:
        case ME_LAST:
        case ME_WRD:
        case ME_SHERRY:
            return 0;
        default:
            break;
        }
    }
    return 0;
}

int compute_data(int32 count)
{
    const int32 block = 1 << audio_buffer_bits;
    const int values_per_frame = output_is_mono() ? 1 : 2;

    if (count == 0) {
        if (buffered_count) {
            cmsg(CMSG_INFO, VERB_DEBUG_SILLY, "output data (%d)", (int)buffered_count);
            if (aq_add(common_buffer, buffered_count) == -1)
                return RC_ERROR;
        }
        buffer_pointer = common_buffer;
        buffered_count = 0;
        return RC_NONE;
    }

    while (count + buffered_count >= block) {
        int rc = check_apply_control();
        if (is_stop_code(rc) || rc == RC_JUMP)
            return rc;  // a jump has moved playback elsewhere: this render is void
        if (intr)
            return RC_QUIT;

        int32 n = block - buffered_count;
        do_compute_data(n);
        count -= n;
        cmsg(CMSG_INFO, VERB_DEBUG_SILLY, "output data (%d)", (int)block);

        adjust_quality();
        if (reduce_voice_threshold && output_can_trace())
            control_polyphony();

        if (aq_add(common_buffer, block) == -1)
            return RC_ERROR;
        buffer_pointer = common_buffer;
        buffered_count = 0;
        if (current_event == nullptr || current_event->type != ME_EOT)
            ctl_timestamp();
        if (intr)
            return RC_QUIT;

        int skipped;
        if (upper_voices == 0 && check_eot_flag && song_has_ended(&skipped)) {
            if (skipped >= 1)
                cmsg(CMSG_INFO, VERB_VERBOSE, "Last %d MIDI events are ignored", skipped);
            return midi_play_end();
        }
    }
    if (count > 0) {
        do_compute_data(count);
        buffered_count += count;
        buffer_pointer += count * values_per_frame;
    }
    return RC_NONE;
}
