// Byte streams, the search path and open_file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <zlib.h>

#include "config/url.h"
#include "config_fixture.h"
#include "support/tempdir.h"

namespace {

using Streams = ConfigTest;

// Everything open_file gives for the name, read in odd-sized pieces.
std::string slurp(const std::string& name, int decompress = 0)
{
    InputFile* tf = open_file(name.c_str(), decompress, OF_NORMAL);
    if (tf == nullptr) {
        ADD_FAILURE() << name << " did not open";
        return "";
    }
    std::string s;
    char buf[37];
    long n;
    while ((n = tf_read(buf, 1, sizeof(buf), tf)) > 0)
        s.append(buf, (size_t)n);
    close_file(tf);
    return s;
}

TEST_F(Streams, DirectoryAddedLastIsSearchedFirst)
{
    TempDir t;
    std::string a = t.mkdir("A"), b = t.mkdir("B");
    t.write("A/only_a.cfg", "from A");
    t.write("A/both.cfg", "A's copy");
    t.write("B/both.cfg", "B's copy");
    add_to_pathlist(a.c_str());
    add_to_pathlist(b.c_str());
    EXPECT_EQ(path_list_text(), b + ";" + a + ";" DEFAULT_PATH ";");
    EXPECT_EQ(slurp("both.cfg") + " " + current_filename, "B's copy " + b + "/both.cfg");
    EXPECT_EQ(slurp("only_a.cfg"), "from A");

    // The order of the attempts: as given, then B, then A, then the default directory.
    ctl->verbosity = 3;
    EXPECT_EQ(stderr_of([] { EXPECT_EQ(open_file("missing.cfg", 0, OF_VERBOSE), nullptr); }),
              "Trying to open missing.cfg\nTrying to open " + b + "/missing.cfg\nTrying to open " + a +
                  "/missing.cfg\nTrying to open " DEFAULT_PATH "/missing.cfg\n"
                  "missing.cfg: No such file or directory\n");
    EXPECT_STREQ(current_filename, "");

    // An entry already there moves to the head; drive letters and separators compare alike.
    clean_up_pathlist();
    for (const char* dir : {"/a", "/b", "/a/", "C:\\Sound\\", "c:/sound"})
        add_to_pathlist(dir);
    EXPECT_EQ(path_list_text(), "C:\\Sound\\;/a;/b;" DEFAULT_PATH ";");
    EXPECT_TRUE(pathcmp("C:\\Sound\\", "c:/sound") == 0 && pathcmp("/a/b", "/a/c") != 0);
    EXPECT_LT(pathcmp("/a", "/b"), 0);
    clean_up_pathlist();
    EXPECT_EQ(path_list_text(), DEFAULT_PATH ";");
}

// Not found is silent at normal noise and reported when verbose; a directory is not a file; a
// name longer than the system allows under a long search path is an error, not "not found".
TEST_F(Streams, OpenFailures)
{
    TempDir t;
    EXPECT_EQ(stderr_of([] {
                  EXPECT_EQ(open_file("surely-not-here.cfg", 0, OF_NORMAL), nullptr);
                  EXPECT_EQ(open_file("", 0, OF_SILENT), nullptr);
              }),
              "");
    EXPECT_EQ(stderr_of([&] {
                  EXPECT_EQ(open_file("/surely/not/here.cfg", 0, OF_VERBOSE), nullptr);
                  EXPECT_EQ(open_file(nullptr, 0, OF_NORMAL), nullptr);
                  EXPECT_EQ(open_file(t.path().c_str(), 0, OF_NORMAL), nullptr);
              }),
              "/surely/not/here.cfg: No such file or directory\n"
              "Attempted to open nameless file.\n" + t.path() + ": Is a directory\n");

    std::string dir = "/" + std::string(900, 'd');
    add_to_pathlist(dir.c_str());
    EXPECT_NE(stderr_of([] { EXPECT_EQ(open_file(std::string(2000, 'n').c_str(), 0, OF_NORMAL), nullptr); })
                  .find("File name too long"),
              std::string::npos);
    EXPECT_LT(strlen(current_filename), sizeof(current_filename));

    EXPECT_EQ(stderr_of([] { EXPECT_EQ(open_with_mem(nullptr, 5, OF_VERBOSE), nullptr); }), "Can't open.\n");
}

TEST_F(Streams, ReadLimit)
{
    char data[200];
    for (int i = 0; i < 200; i++)
        data[i] = (char)i;
    URL url = url_mem_open(data, sizeof(data), 0);
    ASSERT_NE(url, nullptr);
    url_set_readlimit(url, 10);
    char buf[100];
    EXPECT_EQ((std::vector<long>{url_read(url, buf, 100), buf[9], url->eof}), (std::vector<long>{10, 9, 0}));
    EXPECT_EQ((std::vector<long>{url_read(url, buf, 100), url->eof, url_fgetc(url)}),
              (std::vector<long>{0, 1, -1}));
    EXPECT_EQ(url_gets(url, buf, 50), nullptr);

    // Lifting the limit restarts the count; skip and tell go on from there; a limit bounds skips.
    url_set_readlimit(url, -1);
    EXPECT_EQ(url_fgetc(url), 10);
    url_skip(url, 5);
    EXPECT_EQ((std::vector<long>{url_tell(url), url_fgetc(url)}), (std::vector<long>{16, 16}));
    url_set_readlimit(url, 4);
    url_skip(url, 50);
    EXPECT_EQ((std::vector<long>{url_tell(url), url_read(url, buf, 1)}), (std::vector<long>{21, 0}));
    url_close(url);
}

TEST_F(Streams, MemoryStreamLinesAndSeeks)
{
    char text[] = "first line\nsecond\r\n\nlast";
    URL url = url_mem_open(text, (long)strlen(text), 0);
    char buf[64];
    EXPECT_STREQ(url_gets(url, buf, sizeof(buf)), "first line\n");
    EXPECT_STREQ(url_gets(url, buf, 4), "sec");
    EXPECT_EQ(url_tell(url), 14);
    // Seeks return the position before, clamped to the buffer.
    EXPECT_EQ((std::vector<long>{url_seek(url, -100, SEEK_CUR), url_tell(url)}), (std::vector<long>{14, 0}));
    EXPECT_EQ((std::vector<long>{url_seek(url, 1000, SEEK_SET), url_tell(url)}),
              (std::vector<long>{0, (long)strlen(text)}));
    EXPECT_EQ(url_fgetc(url), -1);
    EXPECT_EQ(url_gets(url, buf, sizeof(buf)), nullptr);
    // An unknown origin moves nothing.
    EXPECT_EQ((std::vector<long>{url_seek(url, 0, 99), url_tell(url)}),
              (std::vector<long>{-1, (long)strlen(text)}));

    // Lines without their ends; the empty lines between are skipped.
    url_rewind(url);
    for (const char* line : {"first line", "second", "last", ""}) {
        EXPECT_EQ(url_readline(url, buf, sizeof(buf)), (long)strlen(line));
        EXPECT_STREQ(buf, line);
    }
    url_close(url);

    // A stream that owns its buffer frees it (the sanitizer would report a leak otherwise).
    url = url_mem_open(strdup("abc"), 3, 1);
    EXPECT_EQ(url_fgetc(url), 'a');
    url_close(url);

    char cfg[] = "dir /x\nbank 0\n";
    InputFile* tf = open_with_mem(cfg, (int32)strlen(cfg), OF_VERBOSE);
    ASSERT_NE(tf, nullptr);
    for (const char* line : {"dir /x\n", "bank 0\n"})
        EXPECT_STREQ(tf_gets(buf, sizeof(buf), tf), line);
    EXPECT_EQ(tf_gets(buf, sizeof(buf), tf), nullptr);
    close_file(tf);
}

TEST_F(Streams, BackwardSeekOnAStreamThatCannotSeekFails)
{
    char text[] = "0123456789abcdefghij";
    URL url = url_buff_open(url_mem_open(text, 20, 0), (const unsigned char*)"", 0);
    ASSERT_NE(url, nullptr);
    EXPECT_EQ(url->url_seek, nullptr);
    EXPECT_EQ(url_fgetc(url), '0');
    // Forward relative and forward absolute seeks skip bytes.
    EXPECT_EQ((std::vector<long>{url_seek(url, 3, SEEK_CUR), url_fgetc(url)}), (std::vector<long>{1, '4'}));
    EXPECT_EQ((std::vector<long>{url_seek(url, 8, SEEK_SET), url_fgetc(url)}), (std::vector<long>{5, '8'}));
    url_errno = URLERR_NONE;
    EXPECT_EQ(url_seek(url, 2, SEEK_SET), -1);
    EXPECT_EQ((std::vector<int>{url_errno, errno}), (std::vector<int>{URLERR_OPERATIONNOTPERMITTED, EPERM}));
    EXPECT_STREQ(url_strerror(url_errno), "Operation not permitted");
    EXPECT_EQ((std::vector<long>{url_seek(url, -1, SEEK_CUR), url_seek(url, 0, SEEK_END), url_fgetc(url)}),
              (std::vector<long>{-1, -1, '9'}));
    // A read limit bounds what is read after a skip, not the skip itself.
    url_set_readlimit(url, 2);
    EXPECT_EQ((std::vector<long>{url_seek(url, 5, SEEK_CUR), url_fgetc(url)}), (std::vector<long>{10, 'f'}));
    url_close(url);
}

TEST_F(Streams, GzipDataIsDecodedAndPlainDataUnderTheSameNameIsReadAsIs)
{
    TempDir t;
    std::string plain;
    for (int i = 0; i < 5000; i++)
        plain += "line " + std::to_string(i) + "\n";
    const std::string gz = t.file("song.MID.GZ");
    gzFile out = gzopen(gz.c_str(), "wb9");
    ASSERT_EQ(gzwrite(out, plain.data(), (unsigned)plain.size()), (int)plain.size());
    gzclose(out);
    std::string packed = read_whole_file(gz);
    ASSERT_LT(packed.size(), plain.size());
    EXPECT_EQ(slurp(gz, 1), plain);
    EXPECT_EQ(slurp(gz, 0), packed);  // not asked to decompress
    // Plain text under a ".gz" name, and data shorter than a gzip header.
    EXPECT_EQ(slurp(t.write("plain.gz", "just text\n"), 1), "just text\n");
    EXPECT_EQ(slurp(t.write("tiny.gz", "\x1f"), 1), "\x1f");

    // Truncated and corrupt gzip data end the stream; nothing hangs or overruns.
    std::string part = slurp(t.write("cut.gz", packed.substr(0, packed.size() / 2)), 1);
    EXPECT_LT(part.size(), plain.size());
    EXPECT_EQ(part, plain.substr(0, part.size()));
    std::string broken = packed;
    for (size_t i = 20; i < broken.size(); i += 7)
        broken[i] = (char)~broken[i];
    EXPECT_NE(slurp(t.write("broken.gz", broken), 1), plain);

    // Over a stream that cannot seek, with the header bytes given back in front.
    URL inner = url_mem_open(packed.data(), (long)packed.size(), 0);
    unsigned char head[3];
    ASSERT_EQ(url_read(inner, head, 3), 3);
    URL url = url_inflate_open(url_buff_open(inner, head, 3));
    ASSERT_NE(url, nullptr);
    std::string got(plain.size() + 1000, '\0');
    EXPECT_EQ(url_nread(url, got.data(), (long)got.size()), (long)plain.size());
    got.resize(plain.size());
    EXPECT_EQ(got, plain);
    url_close(url);
    // Damage where decoding starts (a reserved block type) is an error, not an empty file.
    packed[10] = (char)0xFF;
    url = url_inflate_open(url_mem_open(packed.data(), (long)packed.size(), 0));
    ASSERT_NE(url, nullptr);
    EXPECT_EQ(url_read(url, got.data(), 100), -1);
    url_close(url);
}

TEST_F(Streams, FileStreamsMappedAndUnmapped)
{
    TempDir t;
    std::string name = t.write("f.txt", "abc\ndef\nghi");
    InputFile* tf = open_file(("file:" + name).c_str(), 0, OF_NORMAL);
    ASSERT_NE(tf, nullptr);
    char buf[16];
    EXPECT_STREQ(tf_gets(buf, sizeof(buf), tf), "abc\n");
    EXPECT_EQ((std::vector<long>{tf_getc(tf), tf_tell(tf), tf_seek(tf, -2, SEEK_END), tf_getc(tf),
                                 tf_seek(tf, 0, SEEK_SET)}),
              (std::vector<long>{'d', 5, 5, 'h', 10}));
    skip(tf, 4);
    EXPECT_EQ(tf_read(buf, 2, 3, tf), 3);
    EXPECT_EQ(std::string(buf, 6), "def\ngh");
    EXPECT_EQ(tf_read(buf, 2, 3, tf), 0);  // one byte left: no whole item
    close_file(tf);

    // An empty file cannot be mapped and is read through stdio.
    tf = open_file(t.write("empty.txt", "").c_str(), 0, OF_NORMAL);
    ASSERT_NE(tf, nullptr);
    EXPECT_EQ(tf_getc(tf), -1);
    EXPECT_EQ(tf_gets(buf, sizeof(buf), tf), nullptr);
    close_file(tf);

    for (const char* name : {"/etc/x", "relative/name"})
        EXPECT_EQ(url_check_type(name), URL_file_t) << name;
    EXPECT_EQ(url_check_type("http://host/x"), -1);
    EXPECT_EQ(url_open("http://host/x"), nullptr);
    EXPECT_EQ(url_errno, URLERR_NOURL);
}

}  // namespace
