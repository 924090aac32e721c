#include "vis/note_view.h"

#include <algorithm>
#include "play/channels.h"
#include "play/playmidi.h"
#include "vis/view_trace.h"

int64 note_sample_time(const MidiEvent& ev)
{
    return (int64)(ev.time * midi_time_ratio + 0.5);
}

// The key counts from the channel's lowest playable note; drum channels are not transposed,
// melodic ones wrap within the 128 notes.
static int note_key(int ch, int note)
{
    int low = view_field(channel[ch].note_limit_low);
    if (ISDRUMCHANNEL(ch))
        return note - low;
    return ((note + note_key_offset + view_field(channel[ch].key_shift)) & 127) - low;
}

void take_note_event(Visual visuals[MAX_CHANNELS], const MidiEvent& ev, int view_w,
                     float lag_seconds)
{
    if (ev.channel >= MAX_CHANNELS)
        return;
    int ch = ev.channel;
    if (ev.type == ME_NOTEON) {
        // No key fits between equal (or crossed) note limits, so such a channel shows nothing.
        int span = view_field(channel[ch].note_limit_high) - view_field(channel[ch].note_limit_low);
        if (span <= 0)
            return;
        int key = note_key(ch, ev.a);
        // The keys from the low limit to the high one share the whole width (4 pixels a key
        // for all 128 in the 512 pixels of the smallest window).
        float key_width = (float)view_w / (float)(span + 1);
        visuals[ch].glyphs[key].emplace_back(ev.b - view_field(channel[ch].vel_limit_low),
                                             key * key_width, (key + 1) * key_width, 0.0f,
                                             lag_seconds);
        trace_glyph(note_sample_time(ev), ch, key);
    } else if (ev.type == ME_NOTEOFF) {
        std::list<Glyph>& list = visuals[ch].glyphs[note_key(ch, ev.a)];
        for (Glyph& g : list) {
            if (g.held) {
                g.held = false;
                break;
            }
        }
    }
}

void let_go_of_all(Visual visuals[MAX_CHANNELS])
{
    for (int ch = 0; ch < MAX_CHANNELS; ch++)
        for (auto& entry : visuals[ch].glyphs)
            for (Glyph& g : entry.second)
                g.held = false;
}

void step_glyphs(Visual visuals[MAX_CHANNELS], float top, float speed, float fade,
                 long* shown, long* moved)
{
    for (int ch = 0; ch < MAX_CHANNELS; ch++) {
        for (auto& entry : visuals[ch].glyphs) {
            std::list<Glyph>& list = entry.second;
            *shown += (long)list.size();
            for (auto it = list.begin(); it != list.end();) {
                Glyph& g = *it;
                float y1 = g.corners[0][1], y2 = g.corners[2][1], alpha = g.alpha;
                if (!g.held) {
                    g.corners[0][1] = g.corners[1][1] = std::min(top, g.corners[0][1] + speed);
                    g.alpha = std::max(0.0f, g.alpha - fade);
                }
                g.corners[2][1] = g.corners[3][1] = std::min(top, g.corners[2][1] + speed);
                if (y1 != g.corners[0][1] || y2 != g.corners[2][1] || alpha != g.alpha)
                    (*moved)++;
                if (g.corners[0][1] == top) {
                    it = list.erase(it);
                    (*shown)--;
                } else {
                    ++it;
                }
            }
        }
    }
}

bool any_glyphs(const Visual visuals[MAX_CHANNELS])
{
    for (int ch = 0; ch < MAX_CHANNELS; ch++)
        for (const auto& entry : visuals[ch].glyphs)
            if (!entry.second.empty())
                return true;
    return false;
}

void batch_glyphs(const Visual visuals[MAX_CHANNELS], int width, int height, GlyphBatch* batch)
{
    batch->clear(width, height);
    for (int ch = 0; ch < MAX_CHANNELS; ch++) {
        const Visual& visual = visuals[ch];
        const float* low = visual.colors[0];
        const float* high = visual.colors[1];
        int range = view_field(channel[ch].vel_limit_high) - view_field(channel[ch].vel_limit_low);
        for (const auto& entry : visual.glyphs) {
            for (const Glyph& g : entry.second) {
                float rgba[4];
                // Equal velocity limits leave one velocity to show: the high colour.
                if (range == 0) {
                    rgba[0] = high[0];
                    rgba[1] = high[1];
                    rgba[2] = high[2];
                } else {
                    float value = (float)g.value, span = (float)range;
                    for (int c = 0; c < 3; c++)
                        rgba[c] = low[c] + value * (high[c] - low[c]) / span;
                }
                rgba[3] = g.alpha;
                batch->add(g.corners[0][0], g.corners[1][0], g.corners[0][1], g.corners[2][1],
                           rgba);
            }
        }
    }
    batch->dropCovered();
}

void compose_glyphs(const GlyphBatch& batch, int width, int height, GlyphCanvas* canvas)
{
    canvas->clear(width, height);
    batch.each([canvas](float x1, float x2, float y1, float y2, const float rgba[4]) {
        canvas->paint(x1, x2, y1, y2, rgba);
    });
}

// As the window's frame: what is due is taken first, then everything steps once.
void OffscreenView::frame(int64 now)
{
    while (!pending.empty() && note_sample_time(pending.front()) <= now) {
        float lag = rate > 0 ? (float)((now - note_sample_time(pending.front())) / rate) : 0.0f;
        take_note_event(visuals, pending.front(), width, lag);
        pending.pop_front();
    }
    long shown = 0, moved = 0;
    step_glyphs(visuals, (float)height, speed, fade, &shown, &moved);
    batch_glyphs(visuals, width, height, &batch);
    compose_glyphs(batch, width, height, &canvas);
}
