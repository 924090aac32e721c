// corvelle-render --video: its streams, the window's pictures and the WAVE render's sound, notes
// in the frame of their first sample, and bad requests refused without a file.
#include <cmath>
#include <tuple>

#include "play/channels.h"
#include "song_analysis.h"
#include "support/guards.h"
#include "support/video_reader.h"
#include "vis/note_view.h"
#include "vis/palette.h"

using namespace songtest;

namespace {

// A note, a chord, notes on several channels (drums among them), a tempo change, two more.
std::string test_song()
{
    std::vector<TimedBytes> song = {{1200, {0xFF, 0x51, 0x0F, 0x42, 0x40}}};  // 60 beats a minute
    add_notes(song, {{48, 240, 0, 60, 100}, {480, 240, 0, 60, 80}, {480, 240, 0, 64, 80},
                     {480, 240, 0, 67, 80}, {960, 240, 1, 40, 60}, {960, 240, 2, 84, 127},
                     {960, 240, 9, 38, 110}, {1320, 240, 3, 72, 90}, {1440, 60, 0, 48, 30}});
    return smf_format0(song, 480, 240);
}

// What the window shows frame after frame: each frame's note events taken when its clock (the
// last sample of its span) reaches them, one step, the CPU drawing; after the sound, all let go.
struct WindowFrames {
    int width = 0, height = 0, fps = 60, rate = 44100;
    float speed = 5.0f, fade = 0.015f;
    std::vector<MidiEvent> notes;
    int64_t sound_samples = 0;
    Visual visuals[MAX_CHANNELS];
    GlyphBatch batch;
    GlyphCanvas canvas;
    size_t next = 0;
    int64_t frame = 0;

    // Steps to the next frame; false once the video should have ended.
    bool step()
    {
        int64_t start = frame * rate / fps, end = (frame + 1) * rate / fps;
        if (start >= sound_samples && next <= notes.size()) {
            if (frame > 0 && !any_glyphs(visuals))
                return false;
            let_go_of_all(visuals);
            next = notes.size() + 1;  // the sound is over
        }
        for (; next < notes.size() && note_sample_time(notes[next]) < end; next++)
            take_note_event(visuals, notes[next], width, 0.0f);
        long shown = 0, moved = 0;
        step_glyphs(visuals, (float)height, speed, fade, &shown, &moved);
        batch_glyphs(visuals, width, height, &batch);
        compose_glyphs(batch, width, height, &canvas);
        frame++;
        return true;
    }
    // Colour component c of the pixel in row `row` from the top, column x.
    uint8_t at(int x, int row, int c) const
    {
        uint32_t px = canvas.pixels()[(size_t)x * height + (height - 1 - row)];
        return (uint8_t)(px >> (8 * c));
    }
};

class VideoTool : public SongToolTest {
protected:
    // The song's note events as the engine plays them (its event list, in output samples).
    static std::vector<MidiEvent> listed_notes(const std::string& song)
    {
        std::vector<MidiEvent> notes;
        for (const MidiEvent& e : read_song(song).events)
            if (e.type == ME_NOTEON || e.type == ME_NOTEOFF)
                notes.push_back(e);
        return notes;
    }
    std::string song = scratch.write("test.mid", test_song());
};

}  // namespace

TEST_F(VideoTool, StreamsSizeRateAndLengthAsAsked)
{
    ASSERT_EQ(render("-o song.wav '" + song + "'").status, 0);
    const Wave wave = read_wave(dir.file("song.wav"));
    struct Case {
        std::string out, args, format, video, audio;
        int width, height, fps, sample_rate;
    } cases[] = {
        {"a.mp4", "", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 1280, 720, 60, 44100},
        {"b.webm", "--size=320x240 --fps=24 --speed=20", "matroska,webm", "vp9", "opus", 320, 240, 24, 48000},
        {"c.mkv", "--video-codec=ffv1 --size=99x37 --fps=240", "matroska,webm", "ffv1", "flac", 99, 37, 240, 44100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out + " " + c.args);
        ToolRun r = render("--video=" + c.out + " " + c.args + " '" + song + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        // Not a terminal: one summary line, no progress.
        EXPECT_TRUE(has(r.err, c.out + ": test.mid, ")) << r.err;
        EXPECT_FALSE(has(r.err, "\r")) << r.err;
        int frames = 0;
        VideoStreams v = read_video(dir.file(c.out), [&](int, const std::vector<uint8_t>&) { frames++; });
        ASSERT_EQ(v.error, "");
        EXPECT_EQ(std::make_tuple(v.format, v.video_codec, v.audio_codec),
                  std::make_tuple(c.format, c.video, c.audio));
        EXPECT_EQ(std::make_tuple(v.width, v.height, v.sample_rate, v.channels),
                  std::make_tuple(c.width, c.height, c.sample_rate, 2));
        EXPECT_NEAR(v.fps, c.fps, 1e-6);
        // Frames for all of the sound, then for the tail: at most the frames a glyph takes to
        // rise through the view.
        const double sound = wave.seconds(), frame = 1.0 / c.fps;
        const float speed = c.args.find("--speed=20") != std::string::npos ? 20.0f : 5.0f;
        EXPECT_GE(frames * frame, sound);
        EXPECT_LE(frames, std::ceil(sound * c.fps) + std::ceil(c.height / speed) + 1);
        EXPECT_NEAR(v.duration, std::max(frames * frame, sound), frame);
    }
    EXPECT_EQ(files_ending(dir.path(), ".part"), std::vector<std::string>{});
}

// The lossless video holds, frame for frame, the window's picture at the same song position and
// the WAVE render's samples; the default H.264 video comes close to the same pictures.
TEST_F(VideoTool, FramesAreTheWindowsPicturesAndTheSoundIsTheWave)
{
    // The channels' limits as a song starts, which the drawing code reads; put back at the end.
    const std::vector<Channel> saved(channel, channel + MAX_CHANNELS);
    AtExit put_back([&] { std::copy(saved.begin(), saved.end(), channel); });
    for (Channel& c : channel) {
        set_view_field(c.note_limit_low, 0);
        set_view_field(c.note_limit_high, 127);
        set_view_field(c.vel_limit_low, 0);
        set_view_field(c.vel_limit_high, 127);
    }
    const std::vector<MidiEvent> notes = listed_notes(song);
    ASSERT_EQ(notes.size(), 18u);
    ASSERT_EQ(render("-o song.wav '" + song + "'").status, 0);
    const Wave wave = read_wave(dir.file("song.wav"));
    struct Case {
        std::string out, args;
        int height;
        bool lossless;
    } cases[] = {
        {"exact.mkv", "--video-codec=ffv1 --size=512x503", 503, true},
        {"lossy.mp4", "--size=512x502", 502, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        ToolRun r = render("--video=" + c.out + " " + c.args + " '" + song + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        WindowFrames window;
        window.width = 512;
        window.height = c.height;
        window.notes = notes;
        window.sound_samples = (int64_t)wave.left.size();
        double squares = 0, values = 0;
        int differing_frames = 0, frames = 0;
        std::vector<int16_t> sound;
        VideoStreams v = read_video(dir.file(c.out), [&](int k, const std::vector<uint8_t>& rgb) {
            frames++;
            if (!window.step())
                return;
            int differing = 0;
            for (int row = 0; row < c.height; row++)
                for (int x = 0; x < 512; x++)
                    for (int ch = 0; ch < 3; ch++) {
                        int d = rgb[((size_t)row * 512 + x) * 3 + ch] - window.at(x, row, ch);
                        differing += d != 0;
                        squares += d * d;
                    }
            values += 512.0 * c.height * 3;
            if (differing > 0 && c.lossless && differing_frames++ < 3)
                ADD_FAILURE() << "frame " << k << ": " << differing << " values differ";
        }, c.lossless ? &sound : nullptr);
        ASSERT_EQ(v.error, "");
        EXPECT_FALSE(window.step()) << "the video ends before the view is empty";
        EXPECT_EQ(frames, window.frame);
        if (c.lossless) {
            EXPECT_EQ(differing_frames, 0);
            ASSERT_EQ(sound.size(), 2 * wave.left.size());
            size_t mismatches = 0;
            for (size_t i = 0; i < wave.left.size(); i++)
                mismatches += sound[2 * i] != std::lround(wave.left[i] * 32768.0f) ||
                              sound[2 * i + 1] != std::lround(wave.right[i] * 32768.0f);
            EXPECT_EQ(mismatches, 0u);
        } else {
            double psnr = 10 * std::log10(255.0 * 255.0 / (squares / values));
            EXPECT_GE(psnr, 35.0);
        }
    }
}

// Every note of the test song, and 100 notes spread over a real song.
TEST_F(VideoTool, EachNoteFirstShowsInTheFrameOfItsFirstSample)
{
    const std::string real = CORVELLE_TEST_DATA "/songs/chuggachugga.mid";
    struct Case {
        std::string song;
        size_t checked;  // notes to check, spread over the song
    } cases[] = {{song, 9}, {real, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.song);
        std::vector<MidiEvent> notes = listed_notes(c.song);
        ToolRun r = render("--video=sync.mkv --video-codec=ffv1 --size=256x64 --speed=25 '" + c.song + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        // The bottom row of every frame: a held glyph covers it from the frame it appears in.
        std::vector<std::vector<uint8_t>> bottom;
        VideoStreams v = read_video(dir.file("sync.mkv"), [&](int, const std::vector<uint8_t>& rgb) {
            bottom.emplace_back(rgb.end() - 256 * 3, rgb.end());
        });
        ASSERT_EQ(v.error, "");
        auto lit = [&](int64_t frame, int key) {
            const uint8_t* px = &bottom[(size_t)frame][(size_t)key * 2 * 3];
            return px[0] + px[1] + px[2] > 0;
        };
        // The notes whose column is empty in the frame before theirs: their glyph is the one
        // that appears.
        std::vector<std::pair<int64_t, int>> clear;
        for (const MidiEvent& n : notes) {
            if (n.type != ME_NOTEON)
                continue;
            int64_t frame = (int64_t)n.time * 60 / 44100;
            ASSERT_LT((size_t)frame, bottom.size());
            if (frame == 0 || !lit(frame - 1, n.a))
                clear.push_back({frame, n.a});
        }
        ASSERT_GE(clear.size(), c.checked);
        int late = 0;
        for (size_t i = 0; i < c.checked; i++) {
            const auto& n = clear[i * clear.size() / c.checked];
            if (!lit(n.first, n.second) && late++ < 5)
                ADD_FAILURE() << "key " << n.second << " not shown in frame " << n.first;
        }
    }
    // The listed times are the sound's: without reverb and chorus the sound falls quiet after
    // a short note, and the first sample that is not quiet after the gap lies in the frame of
    // the second note's listed time.
    const std::string gap = scratch.write("gap.mid", smf_format0({{0, {0x90, 60, 100}}, {20, {0x80, 60, 0}},
                                                               {2011, {0x90, 72, 100}}, {2400, {0x80, 72, 0}}}));
    const std::vector<MidiEvent> notes = listed_notes(gap);
    ASSERT_EQ(notes.size(), 4u);
    ASSERT_EQ(render("--reverb=0 --chorus=0 -o gap.wav '" + gap + "'").status, 0);
    const Wave wave = read_wave(dir.file("gap.wav"));
    // Quiet: within the output's noise floor (a few steps of 16 bits), far below a note.
    auto quiet = [&](size_t i) { return std::fabs(wave.left[i]) < 0.002f && std::fabs(wave.right[i]) < 0.002f; };
    size_t silent = (size_t)notes[1].time, first = 0, run = 0;  // silent: 1000 quiet samples on
    for (; silent < wave.left.size() && run < 1000; silent++)
        run = quiet(silent) ? run + 1 : 0;
    for (first = silent; first < wave.left.size() && quiet(first);)
        first++;
    ASSERT_LT(silent, (size_t)notes[2].time);
    EXPECT_EQ((int64_t)first * 60 / 44100, (int64_t)notes[2].time * 60 / 44100) << first;
}

// On a terminal the tool says how far it is while it works, then gives the summary.
TEST_F(VideoTool, ProgressOnATerminal)
{
    const std::string log = scratch.file("terminal.txt");
    const std::string cmd = "cd '" + dir.path() + "' && script -qec \"'" CORVELLE_BINARY_DIR "/corvelle-render' -c '" +
                            config + "' --video=t.mkv --size=64x32 '" + song + "' \" /dev/null >'" + log + "' 2>&1";
    ASSERT_EQ(system(cmd.c_str()), 0) << cmd;
    const std::string out = read_whole_file(log);
    for (const char* part : {"\rtest.mid: ", "% ", "x real time, ", " left", "t.mkv: test.mid, "})
        EXPECT_TRUE(has(out, part)) << part << "\n" << out;
}

TEST_F(VideoTool, BadRequestsAreNamedAndLeaveNoFile)
{
    const std::string text = scratch.write("notes.mid", "These are my notes, not a song.\n");
    const std::string s = " '" + song + "'";
    struct Case {
        std::string args, prefix, out, message;
    } cases[] = {
        {"--video=out.avi" + s, "", "out.avi", "out.avi: unknown kind of video file (the name must end in .mp4, .mkv or .webm)"},
        {"--video=out.mkv --video-codec=libkvazaar" + s, "", "out.mkv", "this FFmpeg has no \"libkvazaar\" encoder"},
        {"--video=out.webm --video-codec=ffv1" + s, "", "out.webm", "--video-codec=ffv1 is written to .mkv files only"},
        {"--video=/nonexistent-dir/out.mp4" + s, "", "/nonexistent-dir/out.mp4", "cannot write /nonexistent-dir/out.mp4: No such file or directory"},
        {"--video=big.mp4" + s, "ulimit -f 20;", "big.mp4", "big.mp4: write failed: File too large"},
        {"--video=odd.mp4 --size=641x480" + s, "", "odd.mp4", "--size=641x480: libx264 keeps colour at half resolution (yuv420p) and needs an even width and height"},
        {"--video=out.mp4 --size=640" + s, "", "out.mp4", "--size=640: expected WxH, each 2 to 8192 pixels"},
        {"--video=out.mp4 --fps=0" + s, "", "out.mp4", "--fps=0: expected a whole number of frames per second from 1 to 240"},
        {"--video=out.mp4 --fps=241" + s, "", "out.mp4", "--fps=241: expected a whole number"},
        {"--video=out.mp4 --speed=0" + s, "", "out.mp4", "--speed=0: expected the pixels a note rises per frame, 1 to 25"},
        {"--video=out.mp4 --preset=sluggish" + s, "", "out.mp4", "cannot open the libx264 encoder with --preset=sluggish"},
        {"--video=out.mp4 --palette=rainbow" + s, "", "out.mp4", "--palette=rainbow: no such palette (mono, channels)"},
        {"--size=640x480" + s, "", "test.wav", "--size=640x480 applies to a video: give --video=OUT.mp4 too"},
        {"--video=two.mp4" + s + s, "", "two.mp4", "--video writes one song at a time (2 given)"},
        {"--video=notes.mp4 '" + text + "'", "", "notes.mp4", "notes.mid: Not a MIDI file!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefix + c.args);
        ToolRun r = run_tool(dir.path(), "-c '" + config + "' " + c.args, scratch, c.prefix);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(has(r.err, c.message)) << r.err;
        const std::string out = c.out[0] == '/' ? c.out : dir.file(c.out);
        EXPECT_TRUE(read_whole_file(out).empty() && access(out.c_str(), F_OK) != 0) << out;
        EXPECT_EQ(files_ending(dir.path(), ".part"), std::vector<std::string>{});
    }
}

// Notes of different channels that sound together get colours far apart; mono keeps them grey.
TEST_F(VideoTool, ChannelsPaletteColoursEachChannel)
{
    for (std::string palette : {"channels", "mono"}) {
        SCOPED_TRACE(palette);
        ToolRun r = render("--video=p.mkv --video-codec=ffv1 --size=512x64 --palette=" + palette + " '" + song + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        // Frame 70 (1.17 s): channels 1, 2 and 9 sound at keys 40, 84 and 38.
        std::vector<std::array<int, 3>> colours;
        read_video(dir.file("p.mkv"), [&](int k, const std::vector<uint8_t>& rgb) {
            if (k != 70)
                return;
            for (int key : {40, 84, 38}) {
                const uint8_t* px = &rgb[((size_t)63 * 512 + key * 4) * 3];
                colours.push_back({px[0], px[1], px[2]});
            }
        });
        ASSERT_EQ(colours.size(), 3u);
        for (size_t i = 0; i < 3; i++) {
            const auto& a = colours[i];
            bool grey = a[0] == a[1] && a[1] == a[2];
            EXPECT_EQ(grey, palette == "mono") << a[0] << " " << a[1] << " " << a[2];
            for (size_t j = i + 1; j < 3 && palette == "channels"; j++) {
                const auto& b = colours[j];
                int d = std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]);
                EXPECT_GT(d, 90) << i << " " << j;
            }
        }
    }
}
