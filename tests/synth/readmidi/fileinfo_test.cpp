// Song records, the format probe, and songs kept in memory for sources that cannot be read
// twice.
#include "midi_image.h"

#include <cstdlib>
#include <zlib.h>

#include "readmidi/readmidi.h"
#include "support/tempdir.h"

namespace {

class FileInfoTest : public ReaderTest {};

std::string as_string(const Bytes& b)
{
    return std::string(b.begin(), b.end());
}

Bytes song(int format)
{
    return smf(format, 96, {cat({note_on(0, 0, 60, 100), note_on(96, 0, 60, 0), end_of_track()})});
}

TEST_F(FileInfoTest, FormatProbe)
{
    TempDir dir;
    std::string f1 = dir.write("one.mid", as_string(song(1)));
    std::string f2 = dir.write("two.mid", as_string(song(2)));
    std::string fr = dir.write("riff.rmi", as_string(riff(song(0))));
    std::string f3 = dir.write("three.mid", as_string(song(3)));
    std::string text = dir.write("text.mid", "hello, this is no song");
    EXPECT_EQ(check_midi_file(f1.c_str()), 1);
    EXPECT_EQ(check_midi_file(f2.c_str()), 2);
    EXPECT_EQ(check_midi_file(fr.c_str()), 0);
    EXPECT_EQ(check_midi_file(f3.c_str()), -1);
    EXPECT_EQ(check_midi_file(text.c_str()), -1);
    EXPECT_EQ(check_midi_file(dir.file("missing.mid").c_str()), -1);
    EXPECT_EQ(get_midi_file_info(f2.c_str(), 0)->format, 2);
}

TEST_F(FileInfoTest, SongFromAStreamThatCannotSeekIsKeptCompressed)
{
    TempDir dir;
    Bytes plain = song(1);
    std::string gz = dir.file("song.mid.gz");
    gzFile out = gzopen(gz.c_str(), "wb");
    ASSERT_EQ(gzwrite(out, plain.data(), (unsigned)plain.size()), (int)plain.size());
    gzclose(out);
    ASSERT_EQ(check_midi_file(gz.c_str()), 1);
    MidiFileInfo* p = get_midi_file_info(gz.c_str(), 0);
    ASSERT_NE(p, nullptr);
    ASSERT_NE(p->midi_data, nullptr);
    EXPECT_EQ(p->compressed, 1);

    // The file is gone; the song plays from the record's copy.
    ASSERT_EQ(remove(gz.c_str()), 0);
    ReadResult r = read_path(gz);
    ASSERT_TRUE(r.ok) << r.messages;
    EXPECT_EQ(r.of_type(ME_NOTEON).size(), 1u);
    EXPECT_EQ(p->readflag, 1);
    EXPECT_EQ(p->samples, 22050);
    EXPECT_STREQ(p->first_text, "");
}

}  // namespace
