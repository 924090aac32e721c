#include "tools/video/video_file.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace {

// What each file name ending is written as, and its encoders unless another is asked for.
struct Container {
    const char* ext;
    const char* format;
    const char* video;
    const char* audio;
};
const Container containers[] = {
    {".mp4", "mp4", "libx264", "aac"},
    {".mkv", "matroska", "libvpx-vp9", "libopus"},
    {".webm", "webm", "libvpx-vp9", "libopus"},
};

std::string av_text(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE];
    av_strerror(code, buf, sizeof buf);
    return buf;
}

}  // namespace

double thread_cpu_seconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + t.tv_nsec / 1e9;
}

struct VideoFile {
    VideoSettings s;
    std::string temp;
    AVFormatContext* format = nullptr;
    AVCodecContext* video = nullptr;
    AVCodecContext* audio = nullptr;
    AVStream* video_stream = nullptr;
    AVStream* audio_stream = nullptr;
    SwsContext* scaler = nullptr;
    SwrContext* resampler = nullptr;  // null when the encoder takes the samples as they are
    AVAudioFifo* fifo = nullptr;      // sound in the encoder's format until a frame is full
    AVFrame* picture = nullptr;
    AVFrame* sound = nullptr;
    AVPacket* packet = nullptr;
    int audio_frame = 0;  // samples per sound frame the encoder takes
    int64_t pictures = 0, audio_pts = 0;
    std::vector<uint8_t*> planes;  // resampler output, one buffer per plane
    int planes_capacity = 0;       // samples each plane holds
    VideoTimes times;
};

static void release(VideoFile* f)
{
    if (f->format != nullptr && f->format->pb != nullptr)
        avio_closep(&f->format->pb);
    avformat_free_context(f->format);
    avcodec_free_context(&f->video);
    avcodec_free_context(&f->audio);
    sws_freeContext(f->scaler);
    swr_free(&f->resampler);
    if (f->fifo != nullptr)
        av_audio_fifo_free(f->fifo);
    av_frame_free(&f->picture);
    av_frame_free(&f->sound);
    av_packet_free(&f->packet);
    if (!f->planes.empty())
        av_freep(&f->planes[0]);
    delete f;
}

void video_abandon(VideoFile* f)
{
    if (f == nullptr)
        return;
    std::string temp = f->temp;
    release(f);
    unlink(temp.c_str());
}

static std::string missing_encoder(const char* name)
{
    std::string text = std::string("this FFmpeg has no \"") + name + "\" encoder";
    for (const char* known : {"libx264", "libvpx-vp9", "libopus", "aac", "ffv1", "flac"})
        if (strcmp(name, known) == 0)
            return text + " (Debian's libavcodec59 has it, as does libavcodec-extra59)";
    return text + " (the encoders used here are libx264, libvpx-vp9, libopus, aac, ffv1 and flac, "
                  "all in Debian's libavcodec59)";
}

// The encoder's pixel format: 8-bit RGB for the lossless encoder (the pixels as they are),
// else 4:2:0 YUV when it takes that.
static AVPixelFormat pick_pixels(const AVCodec* codec, bool lossless)
{
    AVPixelFormat wanted = lossless ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_YUV420P;
    if (codec->pix_fmts == nullptr)
        return wanted;
    for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; p++)
        if (*p == wanted)
            return wanted;
    return codec->pix_fmts[0];
}

static AVSampleFormat pick_samples(const AVCodec* codec)
{
    if (codec->sample_fmts == nullptr)
        return AV_SAMPLE_FMT_S16;
    for (const AVSampleFormat* p = codec->sample_fmts; *p != AV_SAMPLE_FMT_NONE; p++)
        if (*p == AV_SAMPLE_FMT_S16)
            return AV_SAMPLE_FMT_S16;
    for (const AVSampleFormat* p = codec->sample_fmts; *p != AV_SAMPLE_FMT_NONE; p++)
        if (*p == AV_SAMPLE_FMT_FLTP)
            return AV_SAMPLE_FMT_FLTP;
    return codec->sample_fmts[0];
}

// The song's rate when the encoder takes it, else 48000 or the encoder's first rate.
static int pick_rate(const AVCodec* codec, int rate)
{
    if (codec->supported_samplerates == nullptr)
        return rate;
    bool has_48k = false;
    for (const int* r = codec->supported_samplerates; *r != 0; r++) {
        if (*r == rate)
            return rate;
        has_48k = has_48k || *r == 48000;
    }
    return has_48k ? 48000 : codec->supported_samplerates[0];
}

static bool fail(std::string* error, const std::string& text)
{
    *error = text;
    return false;
}

// Sends frame (null: the end) to the encoder and writes every packet it gives back.
static bool encode(VideoFile* f, AVCodecContext* ctx, AVStream* stream, AVFrame* frame,
                   std::string* error)
{
    double start = thread_cpu_seconds();
    int rc = avcodec_send_frame(ctx, frame);
    while (rc >= 0) {
        rc = avcodec_receive_packet(ctx, f->packet);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) {
            rc = 0;
            break;
        }
        if (rc < 0)
            break;
        av_packet_rescale_ts(f->packet, ctx->time_base, stream->time_base);
        f->packet->stream_index = stream->index;
        rc = av_interleaved_write_frame(f->format, f->packet);
        if (rc >= 0 && f->format->pb->error < 0)
            rc = f->format->pb->error;
    }
    f->times.encoding += (thread_cpu_seconds() - start);
    if (rc < 0)
        return fail(error, f->s.path + ": write failed: " + av_text(rc));
    return true;
}

static bool open_encoders(VideoFile* f, const Container& box, std::string* error)
{
    const VideoSettings& s = f->s;
    const bool lossless = s.video_codec == "ffv1";
    const char* video_name = s.video_codec.empty() ? box.video : s.video_codec.c_str();
    const char* audio_name = lossless ? "flac" : box.audio;
    if (lossless && strcmp(box.format, "matroska") != 0)
        return fail(error, "--video-codec=ffv1 is written to .mkv files only");
    if (lossless && (!s.crf.empty() || !s.preset.empty()))
        return fail(error, "--crf and --preset do not apply to the lossless ffv1 encoder");
    const AVCodec* vcodec = avcodec_find_encoder_by_name(video_name);
    if (vcodec == nullptr || vcodec->type != AVMEDIA_TYPE_VIDEO)
        return fail(error, missing_encoder(video_name));
    const AVCodec* acodec = avcodec_find_encoder_by_name(audio_name);
    if (acodec == nullptr)
        return fail(error, missing_encoder(audio_name));

    AVPixelFormat pixels = pick_pixels(vcodec, lossless);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pixels);
    if ((desc->log2_chroma_w > 0 && s.width % 2 != 0) ||
        (desc->log2_chroma_h > 0 && s.height % 2 != 0))
        return fail(error, "--size=" + std::to_string(s.width) + "x" + std::to_string(s.height) +
                               ": " + video_name + " keeps colour at half resolution (" +
                               desc->name + ") and needs an even width and height");

    AVCodecContext* v = f->video = avcodec_alloc_context3(vcodec);
    v->width = s.width;
    v->height = s.height;
    v->time_base = AVRational{1, s.fps};
    v->framerate = AVRational{s.fps, 1};
    v->pix_fmt = pixels;
    v->thread_count = 0;  // as many as the machine has
    if (!lossless) {
        // What the scaler's RGB to YUV conversion produces: BT.601, limited range.
        v->color_range = AVCOL_RANGE_MPEG;
        v->colorspace = AVCOL_SPC_SMPTE170M;
        v->color_primaries = AVCOL_PRI_SMPTE170M;
        v->color_trc = AVCOL_TRC_SMPTE170M;
    }
    if (f->format->oformat->flags & AVFMT_GLOBALHEADER)
        v->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    const bool x264 = strcmp(video_name, "libx264") == 0, vpx = strstr(video_name, "libvpx") != nullptr;
    if (x264) {
        // One frame thread per core: x264's own choice (1.5 per core) keeps more frames in
        // memory than the speed it brings is worth.
        v->thread_count = std::max(1, (int)sysconf(_SC_NPROCESSORS_ONLN));
        av_dict_set(&options, "preset", s.preset.empty() ? "superfast" : s.preset.c_str(), 0);
        av_dict_set(&options, "crf", s.crf.empty() ? "20" : s.crf.c_str(), 0);
        // No B-frames and no frames queued ahead of the threads: at 1920 x 1080 that halves
        // x264's memory (250 to 128 MiB peak for the whole program) and costs less time.
        if (s.preset.empty())
            av_dict_set(&options, "x264-params", "bframes=0:sync-lookahead=0", 0);
    } else if (vpx) {
        // Constant quality; the realtime deadline keeps VP9 within a few times real time.
        av_dict_set(&options, "crf", s.crf.empty() ? "32" : s.crf.c_str(), 0);
        av_dict_set(&options, "b", "0", 0);
        av_dict_set(&options, "deadline", s.preset.empty() ? "realtime" : s.preset.c_str(), 0);
        av_dict_set(&options, "cpu-used", "8", 0);
        av_dict_set(&options, "row-mt", "1", 0);
    } else {
        if (!s.crf.empty())
            av_dict_set(&options, "crf", s.crf.c_str(), 0);
        if (!s.preset.empty())
            av_dict_set(&options, "preset", s.preset.c_str(), 0);
    }
    if (lossless) {
        av_dict_set(&options, "level", "3", 0);  // slices, so that threads can share the work
        av_dict_set(&options, "slices", "4", 0);
    }
    int rc = avcodec_open2(v, vcodec, &options);
    std::string unused;
    for (const AVDictionaryEntry* e = nullptr; (e = av_dict_get(options, "", e, AV_DICT_IGNORE_SUFFIX));)
        unused += std::string(unused.empty() ? "" : ", ") + e->key;
    av_dict_free(&options);
    std::string asked = (s.crf.empty() ? "" : " with --crf=" + s.crf) +
                        (s.preset.empty() ? "" : " with --preset=" + s.preset);
    if (rc < 0)
        return fail(error, std::string("cannot open the ") + video_name + " encoder" + asked +
                               ": " + av_text(rc));
    if (!unused.empty())
        return fail(error, std::string("the ") + video_name + " encoder takes no " + unused);

    AVCodecContext* a = f->audio = avcodec_alloc_context3(acodec);
    a->sample_fmt = pick_samples(acodec);
    a->sample_rate = pick_rate(acodec, s.sample_rate);
    av_channel_layout_default(&a->ch_layout, s.channels);
    a->time_base = AVRational{1, a->sample_rate};
    if (!lossless)
        a->bit_rate = 96000 * s.channels;
    if (f->format->oformat->flags & AVFMT_GLOBALHEADER)
        a->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if ((rc = avcodec_open2(a, acodec, nullptr)) < 0)
        return fail(error, std::string("cannot open the ") + audio_name + " encoder: " + av_text(rc));
    f->audio_frame = a->frame_size > 0 ? a->frame_size : 4096;
    if (a->sample_fmt != AV_SAMPLE_FMT_S16 || a->sample_rate != s.sample_rate) {
        AVChannelLayout layout;
        av_channel_layout_default(&layout, s.channels);
        rc = swr_alloc_set_opts2(&f->resampler, &a->ch_layout, a->sample_fmt, a->sample_rate,
                                 &layout, AV_SAMPLE_FMT_S16, s.sample_rate, 0, nullptr);
        if (rc < 0 || (rc = swr_init(f->resampler)) < 0)
            return fail(error, "cannot convert the sound for " + std::string(audio_name) + ": " +
                                   av_text(rc));
    }
    f->fifo = av_audio_fifo_alloc(a->sample_fmt, s.channels, f->audio_frame * 2);

    f->video_stream = avformat_new_stream(f->format, nullptr);
    f->audio_stream = avformat_new_stream(f->format, nullptr);
    if (f->fifo == nullptr || f->video_stream == nullptr || f->audio_stream == nullptr)
        return fail(error, "out of memory");
    avcodec_parameters_from_context(f->video_stream->codecpar, v);
    avcodec_parameters_from_context(f->audio_stream->codecpar, a);
    f->video_stream->time_base = v->time_base;
    f->video_stream->avg_frame_rate = v->framerate;
    f->audio_stream->time_base = a->time_base;

    f->scaler = sws_getContext(s.width, s.height, AV_PIX_FMT_BGR24, s.width, s.height, pixels,
                               SWS_BILINEAR, nullptr, nullptr, nullptr);
    f->picture = av_frame_alloc();
    f->sound = av_frame_alloc();
    f->packet = av_packet_alloc();
    if (f->scaler == nullptr || f->picture == nullptr || f->sound == nullptr || f->packet == nullptr)
        return fail(error, "cannot set up the conversion to " + std::string(desc->name));
    f->picture->format = pixels;
    f->picture->width = s.width;
    f->picture->height = s.height;
    f->sound->format = a->sample_fmt;
    f->sound->sample_rate = a->sample_rate;
    f->sound->nb_samples = f->audio_frame;
    av_channel_layout_copy(&f->sound->ch_layout, &a->ch_layout);
    if (av_frame_get_buffer(f->picture, 0) < 0 || av_frame_get_buffer(f->sound, 0) < 0)
        return fail(error, "out of memory");
    return true;
}

VideoFile* video_open(const VideoSettings& settings, std::string* error)
{
    const std::string& path = settings.path;
    size_t dot = path.rfind('.');
    const Container* box = nullptr;
    for (const Container& c : containers)
        if (dot != std::string::npos && path.find('/', dot) == std::string::npos &&
            strcasecmp(path.c_str() + dot, c.ext) == 0)
            box = &c;
    if (box == nullptr) {
        *error = path + ": unknown kind of video file (the name must end in .mp4, .mkv or .webm)";
        return nullptr;
    }
    av_log_set_level(AV_LOG_ERROR);  // the encoders' statistics are not for the user
    VideoFile* f = new VideoFile;
    f->s = settings;
    f->temp = path + ".part";
    int rc = avformat_alloc_output_context2(&f->format, nullptr, box->format, f->temp.c_str());
    if (rc < 0 || f->format == nullptr) {
        *error = std::string("this FFmpeg cannot write ") + box->format + " files";
        release(f);
        return nullptr;
    }
    if (!open_encoders(f, *box, error)) {
        release(f);
        return nullptr;
    }
    if ((rc = avio_open(&f->format->pb, f->temp.c_str(), AVIO_FLAG_WRITE)) < 0) {
        *error = "cannot write " + path + ": " + av_text(rc);
        release(f);
        return nullptr;
    }
    AVDictionary* options = nullptr;
    if (strcmp(box->format, "mp4") == 0)
        av_dict_set(&options, "movflags", "+faststart", 0);  // playable while it downloads
    rc = avformat_write_header(f->format, &options);
    av_dict_free(&options);
    if (rc < 0 || f->format->pb->error < 0) {
        *error = path + ": write failed: " + av_text(rc < 0 ? rc : f->format->pb->error);
        video_abandon(f);
        return nullptr;
    }
    return f;
}

bool video_add_frame(VideoFile* f, const uint8_t* bgr, std::string* error)
{
    double start = thread_cpu_seconds();
    if (av_frame_make_writable(f->picture) < 0)
        return fail(error, "out of memory");
    const int stride = f->s.width * 3;
    sws_scale(f->scaler, &bgr, &stride, 0, f->s.height, f->picture->data, f->picture->linesize);
    f->picture->pts = f->pictures++;
    f->times.conversion += (thread_cpu_seconds() - start);
    return encode(f, f->video, f->video_stream, f->picture, error);
}

// Encodes the sound frames the queue holds; at the end also the last, shorter one.
static bool drain_sound(VideoFile* f, bool end, std::string* error)
{
    while (av_audio_fifo_size(f->fifo) >= f->audio_frame || (end && av_audio_fifo_size(f->fifo) > 0)) {
        if (av_frame_make_writable(f->sound) < 0)
            return fail(error, "out of memory");
        int n = std::min(av_audio_fifo_size(f->fifo), f->audio_frame);
        f->sound->nb_samples = n;
        av_audio_fifo_read(f->fifo, (void**)f->sound->data, n);
        f->sound->pts = f->audio_pts;
        f->audio_pts += n;
        if (!encode(f, f->audio, f->audio_stream, f->sound, error))
            return false;
    }
    return true;
}

// Converts frames of sound (none: what the resampler still holds) into the queue.
static bool queue_sound(VideoFile* f, const int16_t* samples, int frames, std::string* error)
{
    if (f->resampler == nullptr) {
        void* data = const_cast<int16_t*>(samples);
        if (frames > 0 && av_audio_fifo_write(f->fifo, &data, frames) < frames)
            return fail(error, "out of memory");
        return true;
    }
    double start = thread_cpu_seconds();
    int room = swr_get_out_samples(f->resampler, frames);
    if (room > f->planes_capacity) {
        if (!f->planes.empty())
            av_freep(&f->planes[0]);
        f->planes.assign((size_t)f->s.channels, nullptr);
        if (av_samples_alloc(f->planes.data(), nullptr, f->s.channels, room, f->audio->sample_fmt, 0) < 0)
            return fail(error, "out of memory");
        f->planes_capacity = room;
    }
    const uint8_t* in = reinterpret_cast<const uint8_t*>(samples);
    int got = swr_convert(f->resampler, f->planes.data(), room, frames > 0 ? &in : nullptr, frames);
    f->times.conversion += (thread_cpu_seconds() - start);
    if (got < 0)
        return fail(error, "cannot convert the sound: " + av_text(got));
    if (got > 0 && av_audio_fifo_write(f->fifo, (void**)f->planes.data(), got) < got)
        return fail(error, "out of memory");
    return true;
}

bool video_add_audio(VideoFile* f, const int16_t* samples, int frames, std::string* error)
{
    return frames <= 0 || (queue_sound(f, samples, frames, error) && drain_sound(f, false, error));
}

const VideoTimes& video_times(const VideoFile* f)
{
    return f->times;
}

std::string video_codecs(const VideoFile* f)
{
    return std::string(f->video->codec->name) + " + " + f->audio->codec->name;
}

bool video_finish(VideoFile* f, std::string* error)
{
    bool ok = (f->resampler == nullptr || queue_sound(f, nullptr, 0, error)) &&
              drain_sound(f, true, error) &&
              encode(f, f->audio, f->audio_stream, nullptr, error) &&
              encode(f, f->video, f->video_stream, nullptr, error);
    if (ok) {
        double start = thread_cpu_seconds();
        int rc = av_write_trailer(f->format);
        if (rc >= 0 && f->format->pb->error < 0)
            rc = f->format->pb->error;
        if (rc >= 0)
            rc = avio_closep(&f->format->pb);
        f->times.encoding += (thread_cpu_seconds() - start);
        if (rc < 0)
            ok = fail(error, f->s.path + ": write failed: " + av_text(rc));
    }
    if (ok && rename(f->temp.c_str(), f->s.path.c_str()) != 0)
        ok = fail(error, "cannot name the video " + f->s.path + ": " + strerror(errno));
    if (!ok) {
        video_abandon(f);
        return false;
    }
    release(f);
    return true;
}
