// The fixture of the tests that drive the real program: they skip where it cannot run (no
// display, tools or patch set), have a folder of their own, and stop the program after.
#ifndef CORVELLE_TESTS_E2E_REAL_VISUALISER_H
#define CORVELLE_TESTS_E2E_REAL_VISUALISER_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "support/tempdir.h"
#include "tests/e2e/visualizer_driver.h"
#include "vis/view_test_util.h"

const std::string visualizer = CORVELLE_BINARY_DIR "/corvelle-visualizer";
const std::string freepats = CORVELLE_SOURCE_DIR "/data/freepats";
const double rate = 44100;

// The sample of a song tick (the test songs have 960 ticks a second).
inline long long tick_sample(uint32_t tick)
{
    return (long long)(tick * rate / 960.0 + 0.5);
}

// A sync error judged as the picture's user sees it. A busy machine may hold back a frame now
// and then, so the picture is judged by its median; a view on the wrong clock is late or early
// for every glyph. The play clock is the audio queue's estimate, set going when a block is
// handed to the device; on a busy machine the device thread starts some milliseconds later
// (and its trace stamps come late), so the picture may look a little early. A glyph drawn when
// its note is rendered instead of heard would be early by the device queue (>180 ms).
inline void expect_in_step(const SyncError& e, const std::string& name)
{
    EXPECT_LE(e.median, 100.0) << name << ", 95th percentile " << e.p95 << " ms";
    EXPECT_GE(e.min, -60.0) << name << ": a glyph appeared before its note was heard";
}

inline long long file_size(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (long long)st.st_size : -1;
}

class RealVisualiser : public ::testing::Test {
protected:
    TempDir dir;
    std::unique_ptr<Visualizer> v;
    std::unique_ptr<TraceFollower> trace;

    void SetUp() override
    {
        REQUIRE_DISPLAY();
        for (const char* program : {"xdotool", "import", "convert"})
            if (!have_program(program))
                GTEST_SKIP() << program << " is not installed (scripts/setup.sh installs it)";
        if (access((freepats + "/patches.cfg").c_str(), R_OK) != 0)
            GTEST_SKIP() << "the patch set is not installed (scripts/setup.sh provides it)";
        // The configuration `make build` writes beside the program.
        ASSERT_TRUE(access(CORVELLE_BINARY_DIR "/corvelle.cfg", R_OK) == 0 ||
                    system("bash '" CORVELLE_SOURCE_DIR "/scripts/write-config.sh' '"
                           CORVELLE_BINARY_DIR "' >/dev/null") == 0);
    }
    void TearDown() override { v.reset(); }

    // Starts the program and waits for its window to be drawn; with box_first, first answers
    // the message box it is to show (which may come up before the window, and over it).
    void start(const VisualizerLaunch& launch = {}, const std::string& binary = visualizer,
               bool box_first = false)
    {
        v.reset(new Visualizer(binary, dir.path(), launch));
        trace.reset(new TraceFollower(v->trace_path));
        ASSERT_TRUE(!box_first || v->answer_message(15)) << "no message box\n" << v->output();
        ASSERT_TRUE(v->wait_for_window(15)) << v->output();
    }

    // The transport lines of a kind written since a time, as the trace has them now.
    std::vector<MarkLine> marks_since(const std::string& what, double since)
    {
        trace->update();
        std::vector<MarkLine> seen;
        for (const MarkLine& m : trace->lines.mark)
            if (m.what == what && m.wall >= since)
                seen.push_back(m);
        return seen;
    }
    // The first of them, waiting up to the seconds; `what` is empty when none came.
    MarkLine mark_after(const std::string& what, double since, double seconds = 3)
    {
        std::vector<MarkLine> seen;
        wait_until(seconds, 0.02, [&] { return !(seen = marks_since(what, since)).empty(); });
        return seen.empty() ? MarkLine{"", 0, 0, 0} : seen.front();
    }

    struct Played {
        double enter = -1;              // when Enter was pressed in the chooser
        std::vector<GlyphLine> glyphs;  // drawn since
        std::string said;               // on the program's streams meanwhile
        long long last_glyph_time = -1;
    };
    // Plays a file through "Play .mid" and the chooser and waits until the program is idle.
    Played play(const std::string& path, double seconds = 40)
    {
        Played p;
        size_t said = v->output().size();
        trace->update();
        size_t glyphs = trace->lines.glyph.size();
        p.enter = v->play(path);
        EXPECT_GT(p.enter, 0) << "no file chooser came up";
        EXPECT_TRUE(v->wait_until_idle(*trace, seconds, p.enter)) << v->output();
        p.glyphs.assign(trace->lines.glyph.begin() + (long)glyphs, trace->lines.glyph.end());
        for (const GlyphLine& g : p.glyphs)
            p.last_glyph_time = std::max(p.last_glyph_time, g.time);
        p.said = v->output().substr(said);
        EXPECT_TRUE(v->running()) << "the program has ended, wait status " << v->exit_status;
        return p;
    }
};

#endif
