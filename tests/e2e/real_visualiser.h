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

    // Starts the program; with wait, also waits for its window to be drawn.
    void start(const VisualizerLaunch& launch = {}, const std::string& binary = visualizer,
               bool wait = true)
    {
        v.reset(new Visualizer(binary, dir.path(), launch));
        trace.reset(new TraceFollower(v->trace_path));
        ASSERT_TRUE(!wait || v->wait_for_window(15)) << v->output();
    }

    // The first transport line of a kind written after a time; `what` is empty when none came
    // within the seconds.
    MarkLine mark_after(const std::string& what, double since, double seconds = 3)
    {
        MarkLine found{"", 0, 0, 0};
        wait_until(seconds, 0.02, [&] {
            trace->update();
            for (const MarkLine& m : trace->lines.mark)
                if (found.what.empty() && m.what == what && m.wall >= since)
                    found = m;
            return !found.what.empty();
        });
        return found;
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
