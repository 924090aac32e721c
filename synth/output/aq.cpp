#include "output/aq.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sys/time.h>

#include "effects/effect.h"
#include "frontend/controls.h"
#include "frontend/memory.h"
#include "frontend/miditrace.h"
#include "frontend/options.h"
#include "output/output.h"
#include "platform/thread.h"

// Calls into the player and the effect stage (see aq_links.cpp while those are not built).
int check_apply_control(void);
void init_effect(void);
void do_effect(int32* buf, int32 count);

struct AudioBucket {
    char* data;
    int len;
    AudioBucket* next;
};

int aq_fill_buffer_flag = 0;

static int32 device_qsize = 0;
static int Bps = 4;
static int bucket_size = 0;
static double bucket_time = 0;
static int nbuckets = 0;
static AudioBucket* base_buckets = nullptr;
static char* bucket_data = nullptr;  // the buckets' data, one block
static AudioBucket* allocated_bucket_list = nullptr;
static AudioBucket *head = nullptr, *tail = nullptr;
static int32 aq_start_count = 0;
static int32 aq_add_count = 0;
static double last_soft_buff_time = 0, last_fill_start_time = 0;

// The play-position clock. The toolkit thread reads it while the playback thread advances
// it; the lock keeps a reader from losing a count the writer is adding.
static std::mutex clock_lock;
static int32 play_counter = 0;
static int32 play_offset_counter = 0;
static double play_start_time = 0;
static bool clock_held = false;  // the output is paused: the clock stands at play_offset_counter

// The player's results that end a file.
// A seek (the player's RC_JUMP) moved the song while the queue drained.
static const int RC_JUMP_TO = 6;

static bool is_file_ending(int rc)
{
    return rc == 1 || rc == 2 || rc == 11 || rc == 13 || rc == 14 || rc == 30 || rc == -1;
}

static double get_current_calender_time(void)
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return (double)tv.tv_sec + (double)tv.tv_usec / 1000000.0;
}

static void sleep_us(double us)
{
    if (us > 0)
        Sleep((unsigned long)(us / 1000));
}

static bool is_stream_with_position(void)
{
    return play_mode != nullptr && (play_mode->flag & (PF_PCM_STREAM | PF_CAN_TRACE)) == (PF_PCM_STREAM | PF_CAN_TRACE);
}

static int frame_bytes(int32 enc)
{
    int ch = (enc & PE_MONO) ? 1 : 2;
    if (enc & PE_24BIT)
        return ch * 3;
    if (enc & PE_16BIT)
        return ch * 2;
    return ch;
}

// Fills bytes at p with the output encoding's silence (zero bytes are a full negative swing
// in unsigned and u-law encodings). p starts on a frame.
static void fill_silence(char* p, int bytes)
{
    int32 frame[2] = {0, 0};
    general_output_convert(frame, 1);
    const char* pattern = reinterpret_cast<const char*>(frame);
    for (int i = 0; i < bytes; i++)
        p[i] = pattern[i % Bps];
}

int aq_calc_fragsize(void)
{
    int bps = frame_bytes(play_mode->encoding);
    int bs = bps << audio_buffer_bits;
    double rate = play_mode->rate;
    if (rate <= 0)
        return bs;
    while (bs > bps && bs > rate * bps)
        bs /= 2;
    while (bs > bps && (double)bs / bps / rate > 0.2)
        bs /= 2;
    return bs;
}

static void reuse_audio_bucket(AudioBucket* b)
{
    b->len = 0;
    b->next = allocated_bucket_list;
    allocated_bucket_list = b;
}

static AudioBucket* next_allocated_bucket(void)
{
    AudioBucket* b = allocated_bucket_list;
    if (b == nullptr)
        return nullptr;
    allocated_bucket_list = b->next;
    b->len = 0;
    b->next = nullptr;
    return b;
}

static void flush_buckets(void)
{
    allocated_bucket_list = nullptr;
    for (int i = 0; i < nbuckets; i++)
        reuse_audio_bucket(&base_buckets[i]);
    head = tail = nullptr;
    aq_fill_buffer_flag = (aq_start_count > 0);
    std::lock_guard<std::mutex> g(clock_lock);
    play_counter = play_offset_counter = 0;
    clock_held = false;
}

static void free_soft_queue(void)
{
    free(base_buckets);
    free(bucket_data);
    base_buckets = nullptr;
    bucket_data = nullptr;
    allocated_bucket_list = nullptr;
    head = tail = nullptr;
}

static void alloc_soft_queue(void)
{
    free_soft_queue();
    if (nbuckets > 0) {
        base_buckets = (AudioBucket*)safe_malloc(sizeof(AudioBucket) * (size_t)nbuckets);
        bucket_data = (char*)safe_malloc((size_t)nbuckets * (size_t)bucket_size);
        for (int i = 0; i < nbuckets; i++)
            base_buckets[i].data = bucket_data + (size_t)i * (size_t)bucket_size;
    }
    flush_buckets();
}

// A device that failed plays nothing more of what it was given: the clock stops where it
// stands, so that the view shows no notes that were never heard.
static void stop_clock(void)
{
    std::lock_guard<std::mutex> g(clock_lock);
    if (play_counter == 0)
        return;
    double now = get_current_calender_time();
    double es = play_mode->rate * (now - play_start_time);
    play_offset_counter += es < play_counter ? (int32)es : play_counter;
    play_counter = 0;
    play_start_time = now;
}

// Writes nbytes to the output in pieces of at most a bucket; the clock counts what the output
// took.
static int aq_output_data(char* buff, int nbytes)
{
    while (nbytes > 0) {
        int i = nbytes < bucket_size ? nbytes : bucket_size;
        double written = get_current_calender_time();
        if (play_mode->output_data(buff, i) == -1) {
            stop_clock();
            return -1;
        }
        {
            std::lock_guard<std::mutex> g(clock_lock);
            // An idle clock starts when the device is given frames, not at the last reading
            // before that (a reader once a frame would put it up to a frame ahead).
            if (play_counter == 0)
                play_start_time = written;
            play_counter += i / Bps;
        }
        buff += i;
        nbytes -= i;
    }
    return 0;
}

static int aq_fill_one(void)
{
    if (head == nullptr)
        return 0;
    if (aq_output_data(head->data, bucket_size) == -1)
        return -1;
    AudioBucket* b = head;
    head = head->next;
    reuse_audio_bucket(b);
    if (head == nullptr)
        tail = nullptr;
    return 0;
}

// Appends bytes to the soft queue; returns how many fitted, or -1 when the output failed
// (with no soft queue the bytes go straight to the output).
static int add_play_bucket(const char* buf, int n)
{
    if (n <= 0)
        return 0;
    if (nbuckets == 0) {
        if (play_mode->output_data(const_cast<char*>(buf), n) == -1)
            return -1;
        return n;
    }
    if (head == nullptr) {
        head = tail = next_allocated_bucket();
        if (head == nullptr)
            return 0;
    }
    int total = 0;
    while (n > 0) {
        if (tail->len == bucket_size) {
            AudioBucket* b = next_allocated_bucket();
            if (b == nullptr)
                break;
            tail->next = b;
            tail = b;
        }
        int i = bucket_size - tail->len;
        if (i > n)
            i = n;
        memcpy(tail->data + tail->len, buf, (size_t)i);
        tail->len += i;
        buf += i;
        n -= i;
        total += i;
    }
    return total;
}

// Measures the device queue by writing silence until writes start to block.
static int32 estimate_queue_size(void)
{
    double rate = play_mode->rate;
    for (int tries = 0; tries < 4; tries++) {
        int frames = bucket_size / Bps;
        int32* silence = (int32*)safe_malloc(sizeof(int32) * 2 * (size_t)(frames > 0 ? frames : 1));
        memset(silence, 0, sizeof(int32) * 2 * (size_t)(frames > 0 ? frames : 1));
        general_output_convert(silence, frames);

        double e = 0, max_e = 2.0 * rate * Bps;
        double start = get_current_calender_time();
        bool failed = false;
        for (;;) {
            double t0 = get_current_calender_time();
            if (t0 - start > 1.0) {
                cmsg(CMSG_WARNING, VERB_DEBUG, "Warning: Audio test is terminated");
                break;
            }
            if (play_mode->output_data((char*)silence, bucket_size) == -1) {
                failed = true;
                break;
            }
            double w = get_current_calender_time() - t0;
            if (w > bucket_time / 2)
                break;  // the device queue is full
            e += (bucket_time - w) * rate * Bps * 0.9;
            if (e > 0x80000)
                break;
            if (e > max_e) {
                e = max_e;
                break;
            }
        }
        free(silence);
        play_mode->acntl(PM_REQ_DISCARD, nullptr);
        if (failed)
            break;
        if (e >= 2.0 * bucket_size)
            return (int32)e;
        cmsg(CMSG_WARNING, VERB_DEBUG, "Retry to estimate audio queue length (%d times)", tries + 1);
        bucket_size /= 2;
        bucket_time = (double)bucket_size / Bps / rate;
    }
    cmsg(CMSG_ERROR, VERB_NOISY, "Can't estimate audio queue length");
    bucket_size = Bps * 4096;
    bucket_time = (double)bucket_size / Bps / rate;
    return 2 * 4096 * Bps;
}

void aq_setup(void)
{
    Bps = frame_bytes(play_mode->encoding);
    double rate = play_mode->rate > 0 ? play_mode->rate : 44100;

    int frag = 0;
    if (play_mode->acntl(PM_REQ_GETFRAGSIZ, &frag) == -1 || frag < Bps)
        frag = Bps << audio_buffer_bits;
    bucket_size = frag - frag % Bps;
    bucket_time = (double)bucket_size / Bps / rate;

    if (is_stream_with_position()) {
        int qsize = 0;
        if (play_mode->acntl(PM_REQ_GETQSIZ, &qsize) == -1)
            qsize = estimate_queue_size();
        device_qsize = qsize;
        if (device_qsize < 2 * bucket_size) {
            cmsg(CMSG_WARNING, VERB_VERBOSE, "Warning: Audio buffer is too small.");
            device_qsize = 0;
        } else {
            device_qsize -= device_qsize % Bps;
            cmsg(CMSG_INFO, VERB_DEBUG, "Audio device queue size: %d bytes", (int)device_qsize);
            cmsg(CMSG_INFO, VERB_DEBUG, "Write bucket size: %d bytes (%d msec)", bucket_size,
                 (int)(bucket_time * 1000 + 0.5));
        }
    } else {
        device_qsize = 0;
        free_soft_queue();
        nbuckets = 0;
    }
    init_effect();
    aq_add_count = 0;
}

void aq_set_soft_queue(double soft_buff_time, double fill_start_time)
{
    if (soft_buff_time < 0)
        soft_buff_time = last_soft_buff_time;
    if (fill_start_time < 0)
        fill_start_time = last_fill_start_time;

    int nb = bucket_time > 0 ? (int)(soft_buff_time / bucket_time) : 0;
    aq_start_count = nb == 0 ? 0 : (int32)(fill_start_time * play_mode->rate);
    aq_fill_buffer_flag = (aq_start_count > 0);
    if (nbuckets != nb) {
        nbuckets = nb;
        alloc_soft_queue();
    }
    last_soft_buff_time = soft_buff_time;
    last_fill_start_time = fill_start_time;
}

void corvelle_init_aq_buff(void)
{
    if (!is_stream_with_position())
        return;
    const char* max_buff = opt_aq_max_buff != nullptr ? opt_aq_max_buff : "5.0";
    const char* fill_buff = opt_aq_fill_buff != nullptr ? opt_aq_fill_buff : "100%";
    double time1 = atof(max_buff);
    double time2 = atof(fill_buff);
    double base = play_mode->rate > 0 ? (double)aq_get_dev_queuesize() / play_mode->rate : 0;
    if (strchr(max_buff, '%') != nullptr) {
        time1 = base * (time1 - 100) / 100.0;
        if (time1 < 0)
            time1 = 0;
    }
    if (strchr(fill_buff, '%') != nullptr)
        time2 = base * time2 / 100.0;
    aq_set_soft_queue(time1, time2);
}

// The end of a song: the peaks of the frames given since last asked, before the effects of
// the whole mix and after them, and the fade.
static bool tail_watched = false;
static int32 tail_dry = 0, tail_wet = 0;
static int32 fade_total = 0, fade_left = -1;  // frames; fade_left -1: no fade

void aq_watch_tail(int on)
{
    tail_watched = on != 0;
    tail_dry = tail_wet = 0;
    fade_left = -1;
}

int32 aq_tail_peak(void)
{
    // The level after the effects of the whole mix counts only when they hold a reverb (the
    // reverb of the whole mix, or of mono output), and then only above the noise that noise
    // shaping of 16-bit output keeps going by itself (up to about 9 steps) once the music has
    // died.
    const bool mono = (play_mode->encoding & PE_MONO) != 0;
    const bool chain_reverb = reverb_is_global(opt_reverb_control) || (mono && opt_reverb_control);
    const int32 floor = (play_mode->encoding & PE_16BIT) && noise_sharp_type >= 1 ? 16 << 13 : 0;
    const int32 p = std::max(tail_dry, chain_reverb && tail_wet > floor ? tail_wet : 0);
    tail_dry = tail_wet = 0;
    return p;
}

void aq_fade_out(int32 frames)
{
    fade_total = frames < 1 ? 1 : frames;
    fade_left = fade_total;
}

static int32 peak_of(const int32* samples, int32 n)
{
    int32 p = 0;
    for (int32 i = 0; i < n; i++) {
        const int32 m = samples[i] < 0 ? (samples[i] == INT32_MIN ? INT32_MAX : -samples[i]) : samples[i];
        p = std::max(p, m);
    }
    return p;
}

// Fades the frames that follow aq_fade_out.
static void fade(int32* samples, int32 count)
{
    const int per_frame = (play_mode->encoding & PE_MONO) ? 1 : 2;
    for (int32 i = 0; i < count && fade_left >= 0; i++) {
        if (fade_left == 0) {
            memset(samples + (size_t)i * per_frame, 0, sizeof(int32) * per_frame * (size_t)(count - i));
            break;
        }
        const double g = (double)fade_left-- / fade_total;
        for (int c = 0; c < per_frame; c++)
            samples[(size_t)i * per_frame + c] = (int32)(samples[(size_t)i * per_frame + c] * g);
    }
}

int aq_add(int32* samples, int32 count)
{
    if (!(play_mode->flag & PF_PCM_STREAM))
        return 0;
    if (count == 0) {
        if (!aq_fill_buffer_flag)
            return aq_fill_nonblocking();
        return 0;
    }

    aq_add_count += count;
    const int32 values = (play_mode->encoding & PE_MONO) ? count : 2 * count;
    if (tail_watched)
        tail_dry = std::max(tail_dry, peak_of(samples, values));
    do_effect(samples, count);
    if (tail_watched) {
        fade(samples, count);
        tail_wet = std::max(tail_wet, peak_of(samples, values));
    }
    int nbytes = general_output_convert(samples, count);
    char* buff = reinterpret_cast<char*>(samples);

    if (device_qsize == 0)
        return play_mode->output_data(buff, nbytes);

    aq_fill_buffer_flag = (aq_add_count <= aq_start_count);
    if (!aq_fill_buffer_flag && aq_fill_nonblocking() == -1)
        return -1;

    int i;
    if (!ctl->trace_playing) {
        while ((i = add_play_bucket(buff, nbytes)) < nbytes) {
            if (i == -1)
                return -1;
            buff += i;
            nbytes -= i;
            if (head != nullptr && head->len == bucket_size) {
                if (aq_fill_one() == -1)
                    return -1;
                aq_fill_buffer_flag = 0;
            }
        }
    } else {
        while ((i = add_play_bucket(buff, nbytes)) < nbytes) {
            if (i == -1)
                return -1;
            buff += i;
            nbytes -= i;
            aq_wait_ticks();
            trace_loop();
            if (aq_fill_nonblocking() == -1)
                return -1;
            aq_fill_buffer_flag = 0;
        }
    }
    // Past the filling stage, what the device can take goes now rather than at the next
    // block, so that with no fill stage the first block reaches the device at once.
    if (!aq_fill_buffer_flag)
        return aq_fill_nonblocking();
    return 0;
}

int aq_fill_nonblocking(void)
{
    if (head == nullptr || head->len != bucket_size || !is_stream_with_position())
        return 0;
    int32 nfills = (int32)(((int64)aq_fillable() * Bps) / bucket_size);
    for (int32 i = 0; i < nfills; i++) {
        if (head == nullptr || head->len != bucket_size)
            break;
        if (aq_fill_one() == -1)
            return -1;
    }
    return 0;
}

int32 aq_samples(void)
{
    if (play_mode == nullptr)
        return -1;  // no output selected yet
    int s = 0;
    if (play_mode->acntl(PM_REQ_GETSAMPLES, &s) != -1) {
        std::lock_guard<std::mutex> g(clock_lock);
        if (play_counter) {
            play_start_time = get_current_calender_time();
            play_offset_counter = s;
            play_counter = 0;
        }
        return s;
    }
    if (!is_stream_with_position())
        return -1;

    std::lock_guard<std::mutex> g(clock_lock);
    double now = get_current_calender_time();
    if (play_counter == 0 || clock_held) {
        play_start_time = now;
        return play_offset_counter;
    }
    double es = play_mode->rate * (now - play_start_time);
    if (es >= play_counter) {
        // The device ran dry: the clock stops at what it was given.
        play_offset_counter += play_counter;
        play_counter = 0;
        play_start_time = now;
        return play_offset_counter;
    }
    return (int32)es + play_offset_counter;
}

int32 aq_filled(void)
{
    if (!is_stream_with_position())
        return 0;
    int filled = 0;
    if (play_mode->acntl(PM_REQ_GETFILLED, &filled) != -1)
        return filled;

    std::lock_guard<std::mutex> g(clock_lock);
    double now = get_current_calender_time();
    if (play_counter) {
        double es = play_mode->rate * (now - play_start_time);
        if (es < play_counter)
            return play_counter - (int32)es;
        play_offset_counter += play_counter;
        play_counter = 0;
    }
    play_start_time = now;
    return 0;
}

int32 aq_soft_filled(void)
{
    int32 bytes = 0;
    for (AudioBucket* b = head; b != nullptr; b = b->next)
        bytes += b->len;
    return bytes / Bps;
}

int32 aq_fillable(void)
{
    if (!is_stream_with_position())
        return 0;
    int fillable = 0;
    if (play_mode->acntl(PM_REQ_GETFILLABLE, &fillable) != -1)
        return fillable;
    return device_qsize / Bps - aq_filled();
}

double aq_filled_ratio(void)
{
    if (!is_stream_with_position() || device_qsize == 0)
        return 1.0;
    double ratio = (double)aq_filled() * Bps / device_qsize;
    return ratio > 1.0 ? 1.0 : ratio;
}

int aq_get_dev_queuesize(void)
{
    if (!is_stream_with_position())
        return 0;
    return device_qsize / Bps;
}

void aq_wait_ticks(void)
{
    if (device_qsize == 0)
        return;
    int32 trace_wait = trace_wait_samples();
    if (trace_wait == 0)
        return;
    int32 wait_samples = (device_qsize / Bps) / 5;
    if (trace_wait != -1 && trace_wait < wait_samples)
        wait_samples = trace_wait;
    sleep_us((double)wait_samples / play_mode->rate * 1000000.0);
}

void aq_skip_fill_stage(void)
{
    aq_add_count = aq_start_count + 1;
    aq_fill_buffer_flag = 0;
}

int aq_pause(int paused)
{
    if (play_mode == nullptr || !(play_mode->flag & PF_PCM_STREAM))
        return -1;
    int arg = paused ? 1 : 0;
    // The device stops the moment it is asked (it goes on only once it has been restarted).
    double asked = get_current_calender_time();
    if (play_mode->acntl(PM_REQ_PAUSE, &arg) == -1)
        return -1;
    std::lock_guard<std::mutex> g(clock_lock);
    double now = paused ? asked : get_current_calender_time();
    if (paused && !clock_held) {
        // What the device played up to now counts; the rest waits in it.
        double es = play_mode->rate * (now - play_start_time);
        int32 played = es < 0 ? 0 : es < play_counter ? (int32)es : play_counter;
        play_offset_counter += played;
        play_counter -= played;
        clock_held = true;
    } else if (!paused && clock_held) {
        clock_held = false;
    }
    play_start_time = now;
    return 0;
}

int aq_soft_flush(void)
{
    while (head != nullptr) {
        if (head->len < bucket_size) {
            fill_silence(head->data + head->len, bucket_size - head->len);
            head->len = bucket_size;
        }
        if (aq_fill_one() == -1)
            return -1;
        trace_loop();
        int rc = check_apply_control();
        if (rc == RC_JUMP_TO)
            return rc;  // the seek has dropped the queue already
        if (is_file_ending(rc)) {
            play_mode->acntl(PM_REQ_DISCARD, nullptr);
            flush_buckets();
            return rc;
        }
    }
    play_mode->acntl(PM_REQ_OUTPUT_FINISH, nullptr);
    return 0;
}

int aq_flush(int discard)
{
    aq_add_count = 0;
    init_effect();

    if (discard) {
        trace_flush();
        if (play_mode->acntl(PM_REQ_DISCARD, nullptr) != -1) {
            flush_buckets();
            return 0;
        }
        cmsg(CMSG_ERROR, VERB_NORMAL, "ERROR: Can't discard audio buffer");
    }

    if (!is_stream_with_position()) {
        play_mode->acntl(PM_REQ_FLUSH, nullptr);
        std::lock_guard<std::mutex> g(clock_lock);
        play_counter = play_offset_counter = 0;
        return 0;
    }

    int rc = aq_soft_flush();
    if (is_file_ending(rc) || rc == RC_JUMP_TO)
        return rc;

    int more_trace = 1;
    double deadline = get_current_calender_time() + (double)aq_filled() / play_mode->rate;
    while (more_trace || aq_filled() > 0) {
        rc = check_apply_control();
        if (rc == RC_JUMP_TO)
            return rc;
        if (is_file_ending(rc)) {
            play_mode->acntl(PM_REQ_DISCARD, nullptr);
            flush_buckets();
            return rc;
        }
        more_trace = trace_loop();
        double now = get_current_calender_time();
        // A pause held the device: what it still holds plays from now.
        deadline = std::max(deadline, now + (double)aq_filled() / play_mode->rate);
        if (now >= deadline - 0.1)
            break;
        if (!more_trace)
            sleep_us((deadline - now) * 1000000.0);
        else
            aq_wait_ticks();
    }
    trace_flush();
    play_mode->acntl(PM_REQ_FLUSH, nullptr);
    flush_buckets();
    return 0;
}
