// corvelle-render --video: the song's sound and its note view, frame by frame, into a video
// file. The view is stepped by the song's sample clock: frame k covers the output samples
// [k * rate / fps, (k + 1) * rate / fps), and its picture is the view with every note whose
// first sample lies before the end of that span taken, stepped once more.
#ifndef CORVELLE_TOOLS_VIDEO_EXPORT_H
#define CORVELLE_TOOLS_VIDEO_EXPORT_H

#include <string>
#include "tools/video/video_file.h"

struct VideoRequest {
    bool wanted = false;   // --video was given
    VideoSettings file;
    float fade = 0.015f;   // as the window's sliders
    float speed = 5.0f;
    std::string palette = "mono";
};

// Takes the video options out of argv (the others move down, *argc shrinks). False with a
// message in *error for a value out of range or a video option without --video.
bool take_video_options(int* argc, char** argv, VideoRequest* request, std::string* error);

// The lines --help adds for the video options.
extern const char video_usage[];

// Plays song through the engine (configured, player initialised) into the video file the
// request names; the exit status: 0 written, 1 not (the reason is on standard error).
int render_video(const VideoRequest& request, const char* song);

#endif
