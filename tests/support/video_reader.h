// Video files read back through libavformat and libavcodec: what the container says of its
// streams, every picture decoded to RGB rows, and the sound decoded to 16-bit samples.
#ifndef CORVELLE_TESTS_SUPPORT_VIDEO_READER_H
#define CORVELLE_TESTS_SUPPORT_VIDEO_READER_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

struct VideoStreams {
    std::string error;  // empty when the file opened
    std::string format, video_codec, audio_codec;
    int width = 0, height = 0;
    double fps = 0.0;       // the video stream's average frame rate
    double duration = 0.0;  // the container's, in seconds
    int sample_rate = 0, channels = 0;
};

// Opens path; calls picture(index, rgb rows from the top, 3 bytes a pixel) for every decoded
// frame when given, and appends the sound as interleaved 16-bit samples to *sound when given
// (the sound must decode to 16-bit integers: FLAC of 16-bit input does).
inline VideoStreams read_video(const std::string& path,
                               const std::function<void(int, const std::vector<uint8_t>&)>& picture = nullptr,
                               std::vector<int16_t>* sound = nullptr)
{
    VideoStreams info;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(fmt, nullptr) < 0) {
        info.error = "cannot open " + path;
        avformat_close_input(&fmt);
        return info;
    }
    info.format = fmt->iformat->name;
    info.duration = fmt->duration > 0 ? fmt->duration / (double)AV_TIME_BASE : 0.0;
    AVCodecContext* dec[2] = {nullptr, nullptr};  // picture, sound
    int index[2] = {-1, -1};
    for (unsigned i = 0; i < fmt->nb_streams; i++) {
        const AVCodecParameters* p = fmt->streams[i]->codecpar;
        int k = p->codec_type == AVMEDIA_TYPE_VIDEO ? 0 : p->codec_type == AVMEDIA_TYPE_AUDIO ? 1 : -1;
        if (k < 0 || index[k] >= 0)
            continue;
        index[k] = (int)i;
        const AVCodec* codec = avcodec_find_decoder(p->codec_id);
        if (k == 0) {
            info.video_codec = avcodec_get_name(p->codec_id);
            info.width = p->width;
            info.height = p->height;
            info.fps = av_q2d(fmt->streams[i]->avg_frame_rate);
        } else {
            info.audio_codec = avcodec_get_name(p->codec_id);
            info.sample_rate = p->sample_rate;
            info.channels = p->ch_layout.nb_channels;
        }
        if ((k == 0 && !picture) || (k == 1 && sound == nullptr) || codec == nullptr)
            continue;
        dec[k] = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(dec[k], p);
        if (avcodec_open2(dec[k], codec, nullptr) < 0)
            info.error = "cannot open the decoder of stream " + std::to_string(i);
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* sws = nullptr;
    std::vector<uint8_t> rgb;
    int pictures = 0;
    auto drain = [&](int k) {
        while (avcodec_receive_frame(dec[k], frame) >= 0) {
            if (k == 0) {
                sws = sws_getCachedContext(sws, frame->width, frame->height, (AVPixelFormat)frame->format,
                                           frame->width, frame->height, AV_PIX_FMT_RGB24,
                                           SWS_BILINEAR, nullptr, nullptr, nullptr);
                rgb.resize((size_t)frame->width * frame->height * 3);
                uint8_t* out[1] = {rgb.data()};
                int stride[1] = {frame->width * 3};
                sws_scale(sws, frame->data, frame->linesize, 0, frame->height, out, stride);
                picture(pictures++, rgb);
            } else if (frame->format == AV_SAMPLE_FMT_S16) {
                const int16_t* s = reinterpret_cast<const int16_t*>(frame->data[0]);
                sound->insert(sound->end(), s, s + frame->nb_samples * frame->ch_layout.nb_channels);
            } else {
                info.error = "the sound does not decode to 16-bit samples";
            }
        }
    };
    while (info.error.empty() && av_read_frame(fmt, packet) >= 0) {
        for (int k = 0; k < 2; k++)
            if (dec[k] != nullptr && packet->stream_index == index[k] &&
                avcodec_send_packet(dec[k], packet) >= 0)
                drain(k);
        av_packet_unref(packet);
    }
    for (int k = 0; k < 2; k++) {
        if (dec[k] != nullptr && avcodec_send_packet(dec[k], nullptr) >= 0)
            drain(k);
        avcodec_free_context(&dec[k]);
    }
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&fmt);
    return info;
}

#endif
