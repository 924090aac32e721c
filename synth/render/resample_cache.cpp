// The resample cache: how long each (sample, note) pair sounds during the pre-scan, and the
// pairs resampled once into the cache area, cheapest per sounded sample first.
#include "render/resample_cache.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "frontend/controls.h"
#include "frontend/memory.h"
#include "frontend/options.h"
#include "output/output.h"
#include "play/channels.h"
#include "play/voice.h"
#include "render/resample.h"

sample_t* cache_data = nullptr;
int32 cache_data_len = 0;
cache_hash* cache_hash_table[CACHE_HASH_SIZE];

static int32 cache_data_size = -1;  // allocate_cache_size when cache_data was made

// SoundFont notes have a share of the area of their own beside the allocate_cache_size / 2
// values of the others: their samples are long and a stereo pair takes two entries. The
// pages of the area are only made resident as they are used.
#define SOUNDFONT_CACHE_SHARE 16
#define SOUNDFONT_CACHE_MOST (16 * 1048576)
static int64 soundfont_cache_values(void)
{
    const int64 v =
        (int64)(allocate_cache_size > 0 ? allocate_cache_size : 0) / 2 * SOUNDFONT_CACHE_SHARE;
    return v < SOUNDFONT_CACHE_MOST ? v : SOUNDFONT_CACHE_MOST;
}
static int64 cache_used[2];  // values used by the other entries and by the SoundFont ones

// The entries and the resampled sample records, emptied at every reset.
static std::deque<cache_hash> entry_pool;
static std::deque<Sample> sample_pool;

// The pending note-on of every channel and note being counted: its time and the entries of
// all the voices it started (a stereo pair or layered zones start several at once).
static struct {
    int32 on[128];  // when the note started, output samples into the song
    std::vector<cache_hash*> cache[128];
} channel_note_table[MAX_CHANNELS];

static inline int cache_bucket(const Sample* sp, int note)
{
    return (int)(((uintptr_t)sp + (uintptr_t)note) % CACHE_HASH_SIZE);
}

bool sample_needs_resampling(Sample* sp)
{
    return sp->sample_rate != play_mode->rate ||
           sp->root_freq != get_note_freq(sp, sp->note_to_use);
}

// The cache area is written once per song from its start, megabytes of it for a SoundFont
// song. Where the system has them it is mapped in huge pages: each small page touched for
// the first time costs a fault, and those faults took as long as a sixteenth of rendering.
#if defined(__linux__) && defined(MADV_HUGEPAGE)
#define CACHE_HUGE_PAGE ((size_t)2 << 20)
static void* cache_mapping = nullptr;
static size_t cache_mapping_bytes = 0;
#endif

static void free_cache_area(void)
{
#if defined(CACHE_HUGE_PAGE)
    if (cache_mapping != nullptr) {
        munmap(cache_mapping, cache_mapping_bytes);
        cache_mapping = nullptr;
        cache_data = nullptr;
        return;
    }
#endif
    free(cache_data);
    cache_data = nullptr;
}

// bytes of zeros.
static sample_t* new_cache_area(size_t bytes)
{
#if defined(CACHE_HUGE_PAGE)
    if (bytes >= 4 * CACHE_HUGE_PAGE) {
        const size_t mapped = bytes + CACHE_HUGE_PAGE;
        void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
            const uintptr_t at = ((uintptr_t)p + CACHE_HUGE_PAGE - 1) & ~(CACHE_HUGE_PAGE - 1);
            madvise((void*)at, bytes, MADV_HUGEPAGE);
            cache_mapping = p;
            cache_mapping_bytes = mapped;
            return (sample_t*)at;
        }
    }
#endif
    void* p = calloc(bytes, 1);
    return (sample_t*)(p != nullptr ? p : memset(safe_large_malloc(bytes), 0, bytes));
}

void resamp_cache_reset(void)
{
    if (cache_data == nullptr || cache_data_size != allocate_cache_size) {
        free_cache_area();
        // Room for allocate_cache_size / 2 values, the SoundFont share and the zeros a
        // resampler may read after them.
        const size_t bytes = (size_t)(allocate_cache_size > 0 ? allocate_cache_size : 0) +
                             sizeof(sample_t) * (size_t)soundfont_cache_values() + 4;
        cache_data = new_cache_area(bytes);
        cache_data_size = allocate_cache_size;
    }
    cache_data_len = 0;
    cache_used[0] = cache_used[1] = 0;
    memset(cache_hash_table, 0, sizeof cache_hash_table);
    for (auto& t : channel_note_table) {
        memset(t.on, 0, sizeof t.on);
        for (auto& entries : t.cache)
            entries.clear();
    }
    entry_pool.clear();
    sample_pool.clear();
}

void resamp_cache_refer_on(int v, int32 sample_start)
{
    Voice* vp = &voice[v];
    Sample* sp = vp->sample;
    const int ch = vp->channel, note = vp->note;
    if (sp == nullptr || ch >= MAX_CHANNELS || note >= 128)
        return;
    if (vp->vibrato_control_ratio || channel[ch].portamento || (sp->modes & MODES_PINGPONG) ||
        vp->frequency != vp->orig_frequency || !sample_needs_resampling(sp))
        return;
    // A voice of a later note-on ends the count of the earlier one; voices of one note-on
    // are all counted.
    if (!channel_note_table[ch].cache[note].empty() &&
        channel_note_table[ch].on[note] != sample_start)
        resamp_cache_refer_off(ch, note, sample_start);

    const int b = cache_bucket(sp, note);
    cache_hash* p = cache_hash_table[b];
    while (p != nullptr && (p->sp != sp || p->note != note))
        p = p->next;
    if (p == nullptr) {
        entry_pool.push_back(cache_hash{note, sp, 0, 0, 0, 0.0, nullptr, cache_hash_table[b],
                                         (int32)entry_pool.size()});
        p = &entry_pool.back();
        cache_hash_table[b] = p;
    }
    channel_note_table[ch].cache[note].push_back(p);
    channel_note_table[ch].on[note] = sample_start;
}

void resamp_cache_refer_off(int ch, int note, int32 sample_end)
{
    if (ch < 0 || ch >= MAX_CHANNELS || note < 0 || note >= 128)
        return;
    std::vector<cache_hash*>& entries = channel_note_table[ch].cache[note];
    const int64 held = (int64)sample_end - channel_note_table[ch].on[note];
    for (cache_hash* p : entries) {
        Sample* sp = p->sp;
        if (!sample_needs_resampling(sp) || held < 0)
            continue;
        int64 len = held;
        if (!(sp->modes & MODES_LOOPING)) {
            // A note held past the end of its sample sounds only as long as the sample.
            const double f = (double)get_note_freq(sp, note) * sp->sample_rate;
            if (f > 0) {
                const double slen = (double)(sp->data_length >> FRACTION_BITS) *
                                    ((double)play_mode->rate * sp->root_freq) / f;
                if ((double)len > slen)
                    len = (int64)slen;
            }
        }
        const int64 cnt = (int64)p->cnt + len;
        p->cnt = cnt > INT32_MAX ? INT32_MAX : (int32)cnt;
        p->notes++;
        if (len > p->longest)
            p->longest = (int32)(len > INT32_MAX ? INT32_MAX : len);
    }
    entries.clear();
}

void resamp_cache_refer_alloff(int ch, int32 sample_end)
{
    for (int note = 0; note < 128; note++)
        resamp_cache_refer_off(ch, note, sample_end);
}

double sample_resamp_info(Sample* sp, int note, splen_t* loop_start, splen_t* loop_end,
                          splen_t* data_length)
{
    *loop_start = *loop_end = *data_length = 0;
    const bool looping = (sp->modes & MODES_LOOPING) != 0;
    if (sp->root_freq <= 0 || play_mode->rate <= 0 || (looping && sp->loop_end <= sp->loop_start))
        return 0.0;
    double a = ((double)sp->sample_rate * get_note_freq(sp, note)) /
               ((double)sp->root_freq * play_mode->rate);
    a = (double)(int64)(a * 4096.0) / 4096.0;
    if (a <= 0.0)
        return 0.0;
    const double limit = 4294967295.0;
    if (sp->data_length / a >= limit || sp->loop_start / a >= limit || sp->loop_end / a >= limit)
        return 0.0;
    int64 frames = (int64)(sp->data_length / a / 4096.0 + 0.5);
    const int64 s = (int64)(sp->loop_start / a + 0.5);
    int64 e = (int64)(sp->loop_end / a + 0.5);
    if (looping) {
        const double ll = (sp->loop_end - sp->loop_start) / a;
        if (ll < 1024.0 * 4096.0) {
            const int64 k = (int64)(1024.0 / (ll / 4096.0) + 0.0001);
            const int64 e2 = (int64)(sp->loop_end / a + (double)(k + 1) * ll + 0.5);
            frames += (e2 - e) >> FRACTION_BITS;
            e = e2;
        }
    }
    if (frames < (e >> FRACTION_BITS))
        frames = e >> FRACTION_BITS;
    // Everything must stay a 32-bit fixed-point position.
    if (e >= (int64)limit || frames >= (int64)(limit / 4096.0))
        return 0.0;
    *loop_start = (splen_t)(s & ~(int64)FRACTION_MASK);
    *loop_end = (splen_t)(e & ~(int64)FRACTION_MASK);
    *data_length = (splen_t)(frames << FRACTION_BITS);
    return a;
}

// The note a pair is resampled for: the sample's fixed note when it has one.
static inline int cached_note(const cache_hash* p)
{
    return p->sp->note_to_use ? p->sp->note_to_use : p->note;
}

static inline sample_t clip16(double x)
{
    return (sample_t)(x > 32767 ? 32767 : x < -32768 ? -32768 : x);
}

// How much of a pair's sample is resampled into the cache: the whole sample (with a short loop
// repeated), or, when the song's longest note of the pair and its release end before the
// loop (or the end of a sample that does not loop), only that start and a few values more
// for the interpolation around its last point. *valid is then the number of values a voice
// may play from the cache before it goes on in the source sample, else 0.
#define CACHE_PAD 32

// Output samples a release of sp sounds (at most two seconds): the voice's gain has rounded
// to nothing about three quarters of the way down the envelope's full range, whatever level
// the release starts from.
static int64 release_frames(const Sample* sp)
{
    const int32 rate = sp->envelope_rate[3];
    const int32 ratio = control_ratio > 0 ? control_ratio : 1;
    const double top = 1073741823.0, most = 2.0 * play_mode->rate;
    const double frames = rate > 0 ? top / rate * ratio * 0.75 : most;
    return (int64)(frames < most ? frames : most);
}

static int64 cached_frames(const cache_hash* p, int64 frames, splen_t loop_start, int64* valid)
{
    *valid = 0;
    const int64 first_loop =
        (p->sp->modes & MODES_LOOPING) ? (int64)(loop_start >> FRACTION_BITS) : frames;
    const int64 need = (int64)p->longest + release_frames(p->sp);
    if (p->sp->inst_type != INST_SF2 || need + CACHE_PAD >= first_loop)
        return frames;
    *valid = need;
    return need + CACHE_PAD;
}

// Resamples the pair into the cache area; false when it does not fit or cannot be cached.
static bool cache_resample(cache_hash* p)
{
    Sample* sp = p->sp;
    const int note = cached_note(p);
    splen_t s, e, length;
    const double a = sample_resamp_info(sp, note, &s, &e, &length);
    int64 valid;
    const int64 frames = cached_frames(p, length >> FRACTION_BITS, s, &valid);
    const int share = sp->inst_type == INST_SF2 ? 1 : 0;
    const int64 room = share ? soundfont_cache_values() : allocate_cache_size / 2;
    if (frames == 0 || cache_used[share] + 1 + frames > room)
        return false;

    sample_pool.push_back(*sp);
    Sample* ns = &sample_pool.back();
    sample_t* dest = cache_data + cache_data_len;
    const bool looping = valid == 0 && (sp->modes & MODES_LOOPING) != 0;
    const resample_rec_t rec = (sp->modes & MODES_LOOPING)
                                   ? resample_rec_t{sp->loop_start, sp->loop_end, sp->data_length}
                                   : resample_rec_t{0, sp->data_length, sp->data_length};
    const int64 incr = (int64)(a * 4096.0 + 0.5);
    const int64 loop_len = (int64)sp->loop_end - sp->loop_start;
    int64 ofs = 0;
    for (int64 i = 0; i <= frames;) {
        // Past the end of an unlooped sample there is only silence.
        if (ofs >= (int64)sp->data_length) {
            dest[i++] = 0;
            ofs += incr;
            continue;
        }
        // A run of values up to the next turn of the loop (or the end of the data), in
        // pieces of the resample buffer's size.
        const int64 stop = looping ? (int64)sp->loop_end : (int64)sp->data_length;
        int64 n = (stop - ofs + incr - 1) / incr;
        n = std::min<int64>(std::min<int64>(n, frames + 1 - i), RESAMPLE_BUFFER_SIZE);
        if (cur_resample == resample_gauss) {
            resample_gauss_run(sp->data, ofs, (int32)incr, (int32)n, resample_buffer, &rec);
        } else {
            for (int64 k = 0; k < n; k++)
                resample_buffer[k] = do_resamplation(sp->data, (splen_t)(ofs + k * incr), &rec);
        }
        for (int64 k = 0; k < n; k++)
            dest[i + k] = clip16(resample_buffer[k]);
        i += n;
        ofs += n * incr;
        if (looping)
            while (ofs >= (int64)sp->loop_end)
                ofs -= loop_len;
    }
    if (looping) {
        // The end of the loop fades into what precedes its start, so the jump back is smooth.
        const int64 si = s >> FRACTION_BITS, ei = e >> FRACTION_BITS;
        int64 m = std::min<int64>(std::min<int64>(si, 256), ei - si);
        for (int64 i = 0; i < m; i++) {
            const double w = (double)i / m;
            dest[ei - m + i] = clip16(dest[si - m + i] * w + (1.0 - w) * dest[ei - m + i]);
        }
        dest[ei] = dest[si];
    }
    ns->data = dest;
    ns->data_alloced = 0;
    if (valid > 0) {
        // Only the start, played as a sample without a loop; the voice leaves for the source
        // before its end.
        ns->modes &= ~MODES_LOOPING;
        ns->data_length = (splen_t)(frames << FRACTION_BITS);
        ns->loop_start = 0;
        ns->loop_end = ns->data_length;
        ns->cache_source = sp;
        ns->cache_step = incr;
        ns->cache_valid = (splen_t)(valid << FRACTION_BITS);
    } else {
        ns->loop_start = s;
        ns->loop_end = e;
        ns->data_length = length;
    }
    ns->root_freq = get_note_freq(ns, note);
    ns->sample_rate = play_mode->rate;
    p->resampled = ns;
    cache_data_len += (int32)(frames + 1);
    cache_used[share] += frames + 1;
    return true;
}

// A count of sample values in kilo or mega units.
static void scaled(double n, double* value, char* unit)
{
    if (n < 1048576.0) {
        *value = n / 1024.0;
        *unit = 'K';
    } else {
        *value = n / 1048576.0;
        *unit = 'M';
    }
}

void resamp_cache_create(void)
{
    double total = 0, kept_total = 0;
    bool soundfont_kept = false;
    std::vector<cache_hash*> kept;
    for (int b = 0; b < CACHE_HASH_SIZE; b++) {
        cache_hash** link = &cache_hash_table[b];
        while (*link != nullptr) {
            cache_hash* p = *link;
            total += p->cnt;
            splen_t s, e, length;
            if (p->cnt < 1 || sample_resamp_info(p->sp, cached_note(p), &s, &e, &length) == 0.0) {
                *link = p->next;
                continue;
            }
            int64 valid;
            const int64 frames = cached_frames(p, length >> FRACTION_BITS, s, &valid);
            p->r = (double)frames / p->cnt;
            if (p->sp->inst_type == INST_SF2) {
                // A SoundFont pair counts its releases too, and is cached only when its notes
                // play more values than resampling them into the cache takes.
                const double played = (double)p->cnt + (double)p->notes * release_frames(p->sp);
                if (played <= (double)frames) {
                    *link = p->next;
                    continue;
                }
                p->r = (double)frames / played;
            }
            kept_total += p->cnt;
            soundfont_kept = soundfont_kept || p->sp->inst_type == INST_SF2;
            kept.push_back(p);
            link = &p->next;
        }
    }
    if (kept.empty()) {
        cmsg(CMSG_INFO, VERB_VERBOSE, "No pre-resampling cache hit");
        return;
    }
    // The buckets follow the samples' addresses, which change from run to run: the pairs are
    // taken in the order the song reached them, so a full cache keeps the same ones every time.
    std::sort(kept.begin(), kept.end(),
              [](const cache_hash* x, const cache_hash* y) { return x->order < y->order; });
    if (kept_total > allocate_cache_size / 2 || soundfont_kept)
        std::stable_sort(kept.begin(), kept.end(),
                         [](const cache_hash* x, const cache_hash* y) { return x->r < y->r; });

    int cached = 0, skipped = 0;
    double cached_total = 0;
    for (cache_hash* p : kept) {
        if (p->r == 0.0)
            continue;
        if (cache_resample(p)) {
            cached++;
            cached_total += p->cnt;
        } else {
            skipped++;
        }
    }

    double v1, v2;
    char u1, u2;
    scaled(cached_total, &v1, &u1);
    scaled(total, &v2, &u2);
    cmsg(CMSG_INFO, VERB_NOISY, "Resample cache: Key %d/%d(%.1f%%) Sample %.1f%c/%.1f%c(%.1f%%)",
         cached, (int)kept.size(), 100.0 * cached / kept.size(), v1, u1, v2, u2,
         total > 0 ? 100.0 * cached_total / total : 0.0);

    if (skipped > 0) {
        for (int b = 0; b < CACHE_HASH_SIZE; b++) {
            cache_hash** link = &cache_hash_table[b];
            while (*link != nullptr) {
                if ((*link)->resampled == nullptr)
                    *link = (*link)->next;
                else
                    link = &(*link)->next;
            }
        }
    }
}

cache_hash* resamp_cache_fetch(Sample* sp, int note)
{
    if (sp == nullptr || sp->vibrato_control_ratio || (sp->modes & MODES_PINGPONG) ||
        !sample_needs_resampling(sp))
        return nullptr;
    for (cache_hash* p = cache_hash_table[cache_bucket(sp, note)]; p != nullptr; p = p->next)
        if (p->sp == sp && p->note == note)
            return p->resampled != nullptr ? p : nullptr;
    return nullptr;
}
