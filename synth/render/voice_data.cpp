// The data a voice mixes: its resampled values through its filter, and the filtered data of
// voices made together with a voice mixed before them in the same block, so that their filters
// run side by side; each waits for its voice's turn.
#include <cstring>

#include "play/voice.h"
#include "render/render.h"
#include "render/resample.h"
#include "render/voice_data.h"
#include "render/voice_filter.h"
#include "render/voice_params.h"

bool voice_has_filter(int v)
{
    const int8 type = voice[v].filter.type;
    return type == FILTER_SVF || type == FILTER_LADDER || type == FILTER_TWO_POLE;
}

bool filter_runs_whole_block(int v, int32 count)
{
    const Voice& vp = voice[v];
    return vp.status != VOICE_FREE && vp.status != VOICE_DIE && vp.sample != nullptr &&
           vp.delay == 0 && voice_has_filter(v) && !modulation_moves_voice(v, count);
}

// Voices whose data can wait for their turns: a group of eight two-pole filters at most.
#define AHEAD_MOST 7
static struct {
    int v = -1;
    int32 asked = 0;  // the count it was made for, samples
    int32 count = 0;  // the values the resampler gave, samples
    int32 data[AUDIO_BUFFER_SIZE];  // resampled and filtered values, sample scale
} ahead[AHEAD_MOST];
static int ahead_waiting = 0;

void drop_voice_data_ahead(void)
{
    for (auto& a : ahead)
        a.v = -1;
    ahead_waiting = 0;
}

static int ahead_of(int v)
{
    for (int k = 0; k < AHEAD_MOST; k++)
        if (ahead_waiting > 0 && ahead[k].v == v)
            return k;
    return -1;
}

// The next count values of voice v, resampled and filtered (the filter writes to room);
// with keep they are in room in any case. *count may come back smaller.
const int32* voice_data(int v, int32* room, bool keep, int32* count)
{
    const int k = ahead_of(v);
    if (k >= 0) {
        ahead[k].v = -1;
        ahead_waiting--;
        if (ahead[k].asked == *count) {
            *count = ahead[k].count;
            if (!keep)
                return ahead[k].data;
            memcpy(room, ahead[k].data, sizeof(int32) * (size_t)*count);
            return room;
        }
    }
    const int32* sp = resample_voice(v, count);
    if (*count <= 0)
        return sp;
    if (voice_has_filter(v)) {
        run_voice_filter(v, sp, room, *count);
        return room;
    }
    if (keep) {
        memcpy(room, sp, sizeof(int32) * (size_t)*count);
        return room;
    }
    return sp;
}

// The data of voices v and w as voice_data gives each, v's in room_v, their filters run side
// by side when both have one.
void voice_data_two(int v, int32* room_v, const int32** sv, int32* nv, int w,
                           int32* room_w, const int32** sw, int32* nw)
{
    if (ahead_of(v) >= 0 || ahead_of(w) >= 0) {
        *sv = voice_data(v, room_v, true, nv);
        *sw = voice_data(w, room_w, false, nw);
        return;
    }
    // w's resampling reuses the resampler's buffer: v's values move out first.
    const int32* rv = resample_voice(v, nv);
    if (*nv > 0)
        memcpy(room_v, rv, sizeof(int32) * (size_t)*nv);
    *sv = room_v;
    *sw = resample_voice(w, nw);
    const bool fv = *nv > 0 && voice_has_filter(v), fw = *nw > 0 && voice_has_filter(w);
    if (fv && fw)
        run_voice_filters(v, room_v, room_v, *nv, w, *sw, room_w, *nw);
    else if (fv)
        run_voice_filter(v, room_v, room_v, *nv);
    else if (fw)
        run_voice_filter(w, *sw, room_w, *nw);
    if (fw)
        *sw = room_w;
}

bool make_filter_group(int v, int32 count, const int* next, int nnext, int32* room, int32* made)
{
    if (nnext <= 0 || ahead_waiting != 0 || !voice_has_filter(v))
        return false;
    int group[1 + AHEAD_MOST] = {v}, k = 1;
    for (int j = 0; j < nnext && k <= AHEAD_MOST; j++)
        if (next[j] != v && filter_runs_whole_block(next[j], count))
            group[k++] = next[j];
    if (k <= 1)
        return false;
    int32 counts[1 + AHEAD_MOST], *rooms[1 + AHEAD_MOST] = {room};
    int filtered[1 + AHEAD_MOST], m = 0;
    const int32* ins[1 + AHEAD_MOST];
    int32* outs[1 + AHEAD_MOST];
    int32 ncounts[1 + AHEAD_MOST];
    for (int j = 0; j < k; j++) {
        if (j > 0) {
            ahead[j - 1].v = group[j];
            ahead[j - 1].asked = count;
            rooms[j] = ahead[j - 1].data;
        }
        counts[j] = count;
        // The resampler reuses its buffer: all but the last voice's values move out.
        const int32* raw = resample_voice(group[j], &counts[j]);
        if (counts[j] > 0) {
            if (j < k - 1)
                memcpy(rooms[j], raw, sizeof(int32) * (size_t)counts[j]);
            filtered[m] = group[j];
            ins[m] = j < k - 1 ? rooms[j] : raw;
            outs[m] = rooms[j];
            ncounts[m++] = counts[j];
        }
        if (j > 0)
            ahead[j - 1].count = counts[j];
    }
    run_voice_filter_group(m, filtered, ins, outs, ncounts);
    ahead_waiting = k - 1;
    *made = counts[0];
    return true;
}
