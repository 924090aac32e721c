// The view's timing lines go to the file CORVELLE_TRACE names. The view opens it at its first
// line, so the file is named before any test runs.
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>
#include "support/capture.h"
#include "support/device_trace.h"
#include "vis/view_trace.h"

static char trace_file[64];
[[maybe_unused]] static const bool trace_named = [] {
    snprintf(trace_file, sizeof trace_file, "/tmp/corvelle-view-trace-%d.txt", (int)getpid());
    setenv("CORVELLE_TRACE", trace_file, 1);
    atexit([] { unlink(trace_file); });  // whichever tests ran
    return true;
}();

static std::vector<std::string> trace_lines()
{
    std::ifstream in(trace_file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(ViewTrace, LinesCarryTheWallClockAndTheirValues)
{
    const double before = wall_us();
    trace_transport("seek", 10, 20);
    trace_glyph(5, 3, 60);
    const double after = wall_us();
    std::vector<std::string> lines = trace_lines();
    ASSERT_GE(lines.size(), 2u);
    const std::string &seek = lines[lines.size() - 2], &glyph = lines.back();
    double seek_us = 0, glyph_us = 0;
    int from = 0, to = 0, ch = 0, key = 0;
    long long time = 0;
    ASSERT_EQ(sscanf(seek.c_str(), "seek %lf %d %d", &seek_us, &from, &to), 3) << seek;
    ASSERT_EQ(sscanf(glyph.c_str(), "glyph %lf %lld %d %d", &glyph_us, &time, &ch, &key), 4);
    EXPECT_EQ((std::vector<long long>{from, to, time, ch, key}),
              (std::vector<long long>{10, 20, 5, 3, 60}));
    EXPECT_GE(seek_us, before - 1);
    EXPECT_LE(seek_us, glyph_us);
    EXPECT_LE(glyph_us, after + 1);

    // Idle lines count the open descriptors without leaving one open, and raise no complaint.
    EXPECT_EQ(stderr_of([] {
                  trace_idle();
                  trace_idle();
              }),
              "");
    lines = trace_lines();
    int fds[2] = {0, 0};
    for (int i : {0, 1})
        ASSERT_EQ(sscanf(lines[lines.size() - 2 + i].c_str(), "idle %*f %*u %d", &fds[i]), 1);
    EXPECT_GT(fds[0], 2);
    EXPECT_EQ(fds[0], fds[1]);
}
