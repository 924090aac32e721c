// The event list as text.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "readmidi/event_print.h"

namespace {

std::string print_to_string(const MidiEvent* ev, int32 n)
{
    FILE* fp = tmpfile();
    EXPECT_NE(fp, nullptr);
    EXPECT_EQ(write_event_list(fp, ev, n), 0);
    rewind(fp);
    std::string s;
    char buf[256];
    size_t k;
    while ((k = fread(buf, 1, sizeof(buf), fp)) > 0)
        s.append(buf, k);
    fclose(fp);
    return s;
}

TEST(EventPrint, OneLinePerEvent)
{
    MidiEvent ev[] = {{0, ME_NOTEON, 0, 60, 100},  {22050, ME_NOTEOFF, 9, 36, 0},
                      {22050, ME_TEMPO, 0x20, 0x07, 0xA1}, {30000, 200, 1, 2, 3},
                      {30000, ME_LAST, 0, 0, 0},  {44100, ME_EOT, 0, 0, 0}};
    EXPECT_EQ(print_to_string(ev, 6),
              "0 ME_NOTEON 0 60 100\n"
              "22050 ME_NOTEOFF 9 36 0\n"
              "22050 ME_TEMPO 32 7 161\n"
              "30000 Unknown 1 2 3\n"
              "30000 ME_LAST 0 0 0\n"
              "44100 ME_EOT 0 0 0\n");
    EXPECT_EQ(print_to_string(ev, 0), "");
}

TEST(EventPrint, WriteErrorIsReported)
{
    FILE* fp = fopen("/dev/full", "w");
    if (fp == nullptr)
        GTEST_SKIP() << "no /dev/full";
    MidiEvent ev = {0, ME_NOTEON, 0, 60, 100};
    EXPECT_EQ(write_event_list(fp, &ev, 1), -1);
    fclose(fp);
}

}  // namespace
