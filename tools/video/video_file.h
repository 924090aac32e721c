// A video file being written with FFmpeg's libraries: one picture stream and one sound
// stream, encoded and interleaved into the container the file name's extension chooses. The
// file is written under a temporary name in the same folder and takes its own name only when
// it is complete.
#ifndef CORVELLE_TOOLS_VIDEO_FILE_H
#define CORVELLE_TOOLS_VIDEO_FILE_H

#include <cstdint>
#include <string>

struct VideoSettings {
    std::string path;            // the finished file's name: .mp4, .mkv or .webm
    int width = 1280, height = 720;
    int fps = 60;
    std::string crf, preset;     // given to the picture encoder; empty: this program's choice
    std::string video_codec;     // an FFmpeg encoder name; empty: the container's, "ffv1": lossless
    int sample_rate = 44100;     // of the sound given, frames per second
    int channels = 2;            // 1 or 2, interleaved 16-bit samples
};

// CPU seconds the calling thread spent in each step so far (the encoders' own threads are
// not counted here).
struct VideoTimes {
    double conversion = 0.0;  // RGB to the encoder's pixel format (and sound resampling)
    double encoding = 0.0;    // encoders and the container's writer
};

// CPU seconds the calling thread has used.
double thread_cpu_seconds();

struct VideoFile;

// Opens the temporary file and the encoders; null with a message in *error when it cannot.
VideoFile* video_open(const VideoSettings& settings, std::string* error);
// The next picture: width x height pixels of 3 bytes (B, G, R), rows from the top.
bool video_add_frame(VideoFile* file, const uint8_t* bgr, std::string* error);
// The next frames of sound, interleaved 16-bit samples.
bool video_add_audio(VideoFile* file, const int16_t* samples, int frames, std::string* error);
const VideoTimes& video_times(const VideoFile* file);
// The encoders' names, e.g. "libx264 + aac".
std::string video_codecs(const VideoFile* file);
// Flushes the encoders, completes the file and gives it its name; frees file either way.
bool video_finish(VideoFile* file, std::string* error);
// Removes the temporary file and frees file.
void video_abandon(VideoFile* file);

#endif
