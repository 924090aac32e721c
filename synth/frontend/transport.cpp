#include "frontend/transport.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

#include "frontend/controls.h"
#include "frontend/miditrace.h"
#include "frontend/startup.h"
#include "output/aq.h"
#include "output/output.h"
#include "play/playmidi.h"
#include "play/voice.h"

namespace {

std::mutex request_lock;
std::condition_variable request_came;
std::deque<std::pair<int, int32>> requests;
TransportHook hook = nullptr;
std::atomic<int32> song_samples{0};
std::atomic<unsigned> songs_started{0};
std::atomic<bool> song_cut_short{false};

void notify(int change, int32 from, int32 to)
{
    if (hook != nullptr)
        hook(change, from, to);
}

// The sample the listener hears now.
int32 heard_position(void)
{
    int32 at = current_trace_samples();
    return at < 0 ? current_sample : at;
}

}  // namespace

void ctl_request(int rc, int32 val)
{
    std::lock_guard<std::mutex> g(request_lock);
    requests.emplace_back(rc, val);
    request_came.notify_all();
}

void ctl_request_skip(double seconds)
{
    double rate = play_mode != nullptr && play_mode->rate > 0 ? play_mode->rate : 44100;
    int32 frames = (int32)(rate * (seconds < 0 ? -seconds : seconds) + 0.5);
    ctl_request(seconds < 0 ? RC_BACK : RC_FORWARD, frames);
}

void ctl_clear_requests(void)
{
    std::lock_guard<std::mutex> g(request_lock);
    requests.clear();
}

int ctl_take_request(int32* val, int wait_ms)
{
    std::unique_lock<std::mutex> held(request_lock);
    if (wait_ms > 0)
        request_came.wait_for(held, std::chrono::milliseconds(wait_ms),
                              [] { return !requests.empty(); });
    if (requests.empty())
        return RC_NONE;
    int rc = requests.front().first;
    if (val != nullptr)
        *val = requests.front().second;
    requests.pop_front();
    return rc;
}

int32 transport_song_samples(void)
{
    return song_samples.load();
}

unsigned transport_songs_started(void)
{
    return songs_started.load();
}

bool transport_song_cut_short(void)
{
    return song_cut_short.load();
}

void transport_song_started(int32 samples, bool cut_short)
{
    song_samples = samples;
    song_cut_short = cut_short;
    songs_started++;
}

void set_transport_hook(TransportHook h)
{
    hook = h;
}

// A song is in hand from the moment its events play until the device has played its last
// sample: while its end rings out and drains, it can still be paused or moved.
static bool song_in_hand(void)
{
    return event_list != nullptr && current_event != nullptr;
}

int transport_pause(void)
{
    // While a song loads there is nothing to hold.
    if (!song_in_hand() || aq_pause(1) != 0)
        return RC_NONE;
    play_pause_flag = 1;
    ctl_pause_event(1, current_sample);
    int32 at = heard_position();
    notify(TRANSPORT_PAUSE, at, at);
    // A seek while paused moves the song and stays paused: the device holds nothing until
    // the resume, and the render goes on from the new position then.
    bool moved = false;
    for (;;) {
        int32 val = 0;
        int rc = intr ? RC_QUIT : ctl_take_request(&val, 100);
        switch (rc) {
        case RC_TOGGLE_PAUSE:
            play_pause_flag = 0;
            ctl_pause_event(0, current_sample);
            aq_pause(0);
            notify(TRANSPORT_RESUME, at, at);
            return moved ? RC_JUMP : RC_NONE;
        case RC_FORWARD:
        case RC_BACK:
        case RC_JUMP: {
            int done = transport_seek(rc, val);
            if (done == RC_JUMP) {
                moved = true;
                aq_pause(1);
                at = heard_position();
            } else if (done != RC_NONE) {
                play_pause_flag = 0;
                return done;  // past the end: the song is over
            }
            break;
        }
        case RC_QUIT:
        case RC_STOP:
            play_pause_flag = 0;
            transport_stop(rc);
            return rc;
        default:
            break;
        }
    }
}

int transport_seek(int rc, int32 val)
{
    if (!song_in_hand())
        return RC_NONE;
    int32 from = heard_position();
    int32 to = rc == RC_JUMP ? val : rc == RC_FORWARD ? from + val : from - val;
    if (to < 0)
        to = 0;
    if (to >= sample_count) {
        transport_stop(RC_TUNE_END);
        return RC_TUNE_END;
    }
    aq_flush(1);
    aq_skip_fill_stage();
    // Notes of the old position end with its sound; the view forgets what it would have shown.
    kill_all_voices();
    notify(TRANSPORT_SEEK, from, to);
    skip_to(to);
    // The event loop plays the element it is left on without stepping on first: the first
    // one at or after the new position, so that no note from before it sounds.
    while (current_event->type != ME_EOT && scaled_event_time(current_event) < to)
        current_event++;
    // A seek from the ringing end brings the song back to playing its events.
    check_eot_flag = 1;
    return RC_JUMP;
}

void transport_stop(int rc)
{
    (void)rc;
    // A stop can come while instruments load, before there is any output to stop.
    const bool output = play_mode != nullptr && play_mode->acntl != nullptr;
    int32 at = output ? heard_position() : current_sample;
    if (output)
        aq_flush(1);
    notify(TRANSPORT_STOP, at, at);
}
