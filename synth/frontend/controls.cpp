// The dumb interface: messages and a few control events printed as text lines.
#include "frontend/controls.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "frontend/transport.h"
#include "output/output.h"

// The text of a string event (lyrics, markers); defined by the event list. Declared weak so
// the interface links on its own: without an event list there is no text to show.
extern char* event2string(int id) __attribute__((weak));

ControlInterface dumb_control_mode = {
    "dumb interface", 'd',
    1,        // verbosity
    0,        // trace_playing
    0,        // opened
    0,        // flags
    ctl_open, ctl_close,
    nullptr,  // pass_playing_list: installed by the playback start-up
    ctl_read, cmsg, ctl_event,
};

ControlInterface* ctl = &dumb_control_mode;
ControlInterface* ctl_list[] = {&dumb_control_mode, nullptr};
int dumb_error_count = 0;

static FILE* outfp = nullptr;

FILE* ctl_output_stream(void)
{
    return outfp != nullptr ? outfp : stdout;
}

int ctl_open(int using_stdin, int using_stdout)
{
    (void)using_stdin;
    outfp = using_stdout ? stderr : stdout;
    ctl->opened = 1;
    return 0;
}

void ctl_close(void)
{
    fflush(ctl_output_stream());
    ctl->opened = 0;
}

// The window's commands (pause, stop, seek), queued by ctl_request.
int ctl_read(int32* valp)
{
    return ctl_take_request(valp, 0);
}

static std::mutex problem_lock;
static std::string last_problem;

std::string ctl_last_problem(void)
{
    std::lock_guard<std::mutex> g(problem_lock);
    return last_problem;
}

void ctl_forget_problems(void)
{
    std::lock_guard<std::mutex> g(problem_lock);
    last_problem.clear();
}

int cmsg(int type, int verbosity_level, const char* fmt, ...)
{
    if ((type == CMSG_INFO || type == CMSG_WARNING || type == CMSG_TEXT) &&
        ctl->verbosity < verbosity_level)
        return 0;
    if (type == CMSG_WARNING || type == CMSG_ERROR || type == CMSG_FATAL)
        dumb_error_count++;

    // The whole line (text and newline) is written with one call so that lines from the
    // playback thread and the audio callback thread do not interleave. Long texts are
    // formatted into a buffer of their own size rather than cut.
    char small[1024];
    char* line = small;
    va_list ap;
    va_start(ap, fmt);
    int len = vsnprintf(small, sizeof(small) - 1, fmt, ap);
    va_end(ap);
    if (len < 0)
        return 0;
    if ((size_t)len >= sizeof(small) - 1) {
        char* big = (char*)malloc((size_t)len + 2);
        if (big != nullptr) {
            va_start(ap, fmt);
            vsnprintf(big, (size_t)len + 1, fmt, ap);
            va_end(ap);
            line = big;
        } else {
            len = (int)sizeof(small) - 2;
        }
    }
    line[len] = '\0';
    if (type == CMSG_WARNING || type == CMSG_ERROR || type == CMSG_FATAL) {
        std::lock_guard<std::mutex> g(problem_lock);
        last_problem = line;
    }
    line[len] = '\n';
    line[len + 1] = '\0';

    if (ctl->opened) {
        FILE* fp = ctl_output_stream();
        fputs(line, fp);
        fflush(fp);
    } else {
        fputs(line, stderr);
    }
    if (line != small)
        free(line);
    return 0;
}

// Prints a lyric or text event; the first character of the text says how.
static void dumb_print_text(const char* t)
{
    FILE* fp = ctl_output_stream();
    if (t[0] == '\0')
        return;
    if (t[0] == '>') {
        if (t[1] == '/' || t[1] == '\\') {
            fprintf(fp, "\n%s", t + 2);
            fflush(fp);
            return;
        }
        if (t[1] == '@') {
            if (t[2] == 'L')
                fprintf(fp, "\nLanguage: %s\n", t + 3);
            else if (t[2] == 'T')
                fprintf(fp, "Title: %s\n", t + 3);
            else
                fprintf(fp, "%s\n", t + 1);
            return;
        }
    }
    if (t[0] == '8' || t[0] == '<')
        fputc('\r', fp);
    fputs(t + 1, fp);
    fflush(fp);
}

void ctl_event(ControlEvent* e)
{
    static long last_time_shown = -1;

    switch (e->type) {
    case CTLE_NOW_LOADING:
        if (ctl->verbosity >= 0 || ctl->trace_playing)
            cmsg(CMSG_INFO, VERB_NORMAL, "Playing %s", (const char*)e->v1);
        break;
    case CTLE_PLAY_START:
        if (ctl->trace_playing && play_mode != nullptr && play_mode->rate > 0) {
            long s = e->v1 / play_mode->rate;
            cmsg(CMSG_INFO, VERB_NORMAL, "Total playing time: %3d min %02d s", (int)(s / 60),
                 (int)(s % 60));
        }
        break;
    case CTLE_CURRENT_TIME:
        if (ctl->trace_playing && e->v1 != last_time_shown) {
            FILE* fp = ctl_output_stream();
            last_time_shown = e->v1;
            fprintf(fp, "\r%3d:%02d", (int)(e->v1 / 60), (int)(e->v1 % 60));
            fflush(fp);
        }
        break;
    case CTLE_LYRIC: {
        const char* t = event2string != nullptr ? event2string((int)e->v1) : nullptr;
        if (t != nullptr)
            dumb_print_text(t);
        break;
    }
    default:
        break;
    }
}
