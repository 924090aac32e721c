// Song records, the format probe, and songs kept in memory for sources that cannot be read
// twice.
#include "midi_image.h"

#include <cstdlib>
#include <cstring>
#include <zlib.h>

#include "readmidi/readmidi.h"
#include "support/tempdir.h"

namespace {

class FileInfoTest : public ReaderTest {};

std::string as_string(const Bytes& b)
{
    return std::string(b.begin(), b.end());
}

std::string gzip_bytes(const Bytes& plain)
{
    z_stream zs;
    memset(&zs, 0, sizeof(zs));
    deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, plain.size()), '\0');
    zs.next_in = (Bytef*)plain.data();
    zs.avail_in = (uInt)plain.size();
    zs.next_out = (Bytef*)&out[0];
    zs.avail_out = (uInt)out.size();
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

Bytes song(int format)
{
    Bytes body = cat({vlq(0), {0x90, 60, 100}, vlq(96), {0x80, 60, 0}, end_of_track()});
    return smf(format, 96, {body});
}

TEST_F(FileInfoTest, FormatProbe)
{
    TempDir dir;
    std::string f1 = dir.write("one.mid", as_string(song(1)));
    std::string f2 = dir.write("two.mid", as_string(song(2)));
    Bytes riff = cat({{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'M', 'I', 'D', 'd', 'a', 't', 'a'},
                      {0, 0, 0, 0},
                      song(0)});
    std::string fr = dir.write("riff.rmi", as_string(riff));
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
    std::string gz = dir.write("song.mid.gz", gzip_bytes(plain));
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
