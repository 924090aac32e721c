// The virtual device: consumes audio at the real sample rate without sound hardware and,
// with a capture path, writes what it plays to a RIFF WAVE file.
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/waveout_sink.h"

namespace {

typedef std::chrono::steady_clock steady;

const long WAVE_HEADER_BYTES = 44;

void put_le16(unsigned char* p, unsigned v)
{
    p[0] = (unsigned char)(v & 0xFF);
    p[1] = (unsigned char)((v >> 8) & 0xFF);
}

void put_le32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = (unsigned char)((v >> (8 * i)) & 0xFF);
}

uint32_t clamp32(uint64_t v)
{
    return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : (uint32_t)v;
}

// Writes all bytes at offset (or at the end when offset is negative); 0 or an errno value.
int write_fully(int fd, const void* data, size_t bytes, off_t offset)
{
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        ssize_t w = offset < 0 ? write(fd, p, bytes) : pwrite(fd, p, bytes, offset);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (w == 0)
            return EIO;
        p += w;
        bytes -= (size_t)w;
        if (offset >= 0)
            offset += w;
    }
    return 0;
}

// The recording a capture device continues when it is opened again in this process.
struct CaptureRecord {
    std::string path;
    WAVEFORMATEX format{};
    uint64_t data_bytes = 0;
    dev_t dev = 0;
    ino_t ino = 0;
};
std::mutex capture_lock;
CaptureRecord last_capture;

bool same_format(const WAVEFORMATEX& a, const WAVEFORMATEX& b)
{
    return a.nChannels == b.nChannels && a.nSamplesPerSec == b.nSamplesPerSec &&
           a.wBitsPerSample == b.wBitsPerSample;
}

class VirtualSink : public WaveSink {
public:
    VirtualSink(const WAVEFORMATEX& f) : format_(f), clock_start_(steady::now()) {}

    ~VirtualSink() override
    {
        if (fd_ >= 0) {
            update_header();
            close(fd_);
        }
    }

    // Starts a new recording or continues the last one of this process at path.
    bool open_capture(const std::string& path, MMRESULT* result)
    {
        std::lock_guard<std::mutex> g(capture_lock);
        struct stat st;
        bool resume = last_capture.path == path && same_format(last_capture.format, format_) &&
                      stat(path.c_str(), &st) == 0 && st.st_dev == last_capture.dev &&
                      st.st_ino == last_capture.ino &&
                      (uint64_t)st.st_size == WAVE_HEADER_BYTES + last_capture.data_bytes;
        fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (resume ? 0 : O_TRUNC), 0644);
        if (fd_ < 0) {
            error_ = path + ": " + strerror(errno);
            *result = MMSYSERR_NODRIVER;
            return false;
        }
        data_bytes_ = resume ? last_capture.data_bytes : 0;
        opened_bytes_ = data_bytes_;
        path_ = path;
        if (!resume) {
            if (update_header() != 0 || lseek(fd_, WAVE_HEADER_BYTES, SEEK_SET) < 0) {
                close(fd_);
                fd_ = -1;
                *result = MMSYSERR_NODRIVER;
                return false;
            }
        } else if (lseek(fd_, 0, SEEK_END) < 0) {
            close(fd_);
            fd_ = -1;
            *result = MMSYSERR_NODRIVER;
            return false;
        }
        fstat(fd_, &st);
        last_capture.path = path;
        last_capture.format = format_;
        last_capture.data_bytes = data_bytes_;
        last_capture.dev = st.st_dev;
        last_capture.ino = st.st_ino;
        return true;
    }

    long play(const char* data, long bytes, bool continues) override
    {
        const double bytes_per_second = (double)format_.nAvgBytesPerSec;
        std::unique_lock<std::mutex> held(lock_);
        steady::time_point now = steady::now();
        // A device that ran dry starts its clock again with this buffer. One that had this
        // buffer waiting plays it straight after the last, however late this thread woke.
        if (!continues && now > at_bytes(clock_bytes_)) {
            clock_start_ = now;
            clock_bytes_ = 0;
        }
        steady::time_point start = at_bytes(clock_bytes_);
        steady::time_point deadline = at_bytes(clock_bytes_ + bytes);
        bool cut = wake_.wait_until(held, deadline, [this] { return interrupted_; });
        long played = bytes;
        if (cut) {
            double heard = std::chrono::duration<double>(steady::now() - start).count();
            played = heard <= 0 ? 0 : (long)(heard * bytes_per_second);
            played -= played % format_.nBlockAlign;
            if (played > bytes)
                played = bytes;
        }
        clock_bytes_ += played;
        held.unlock();

        if (fd_ >= 0 && played > 0) {
            int err = write_fully(fd_, data, (size_t)played, -1);
            if (err == 0) {
                data_bytes_ += (uint64_t)played;
                err = update_header();
                std::lock_guard<std::mutex> g(capture_lock);
                if (last_capture.path == path_)
                    last_capture.data_bytes = data_bytes_;
            }
            if (err != 0) {
                error_ = path_ + ": " + strerror(err);
                return -1;
            }
        }
        return played;
    }

    void interrupt() override
    {
        std::lock_guard<std::mutex> g(lock_);
        interrupted_ = true;
        wake_.notify_all();
    }

    void discard() override
    {
        std::lock_guard<std::mutex> g(lock_);
        interrupted_ = false;
        clock_start_ = steady::now();
        clock_bytes_ = 0;
    }

    void clear_interrupt() override
    {
        std::lock_guard<std::mutex> g(lock_);
        interrupted_ = false;
    }

    long pending_frames() override { return 0; }

    long long recorded_frames() const override
    {
        return fd_ >= 0 ? (long long)(opened_bytes_ / format_.nBlockAlign) : -1;
    }

    const std::string& error() const override { return error_; }

private:
    steady::time_point at_bytes(uint64_t bytes) const
    {
        return clock_start_ + std::chrono::duration_cast<steady::duration>(std::chrono::duration<double>(
                                  (double)bytes / (double)format_.nAvgBytesPerSec));
    }

    // Keeps the header's sizes equal to the data written, so the file is whole at any time.
    int update_header()
    {
        unsigned char h[WAVE_HEADER_BYTES];
        memcpy(h, "RIFF", 4);
        put_le32(h + 4, clamp32(data_bytes_ + WAVE_HEADER_BYTES - 8));
        memcpy(h + 8, "WAVEfmt ", 8);
        put_le32(h + 16, 16);
        put_le16(h + 20, WAVE_FORMAT_PCM);
        put_le16(h + 22, format_.nChannels);
        put_le32(h + 24, format_.nSamplesPerSec);
        put_le32(h + 28, format_.nAvgBytesPerSec);
        put_le16(h + 32, format_.nBlockAlign);
        put_le16(h + 34, format_.wBitsPerSample);
        memcpy(h + 36, "data", 4);
        put_le32(h + 40, clamp32(data_bytes_));
        int err = write_fully(fd_, h, sizeof h, 0);
        if (err != 0)
            error_ = path_ + ": " + strerror(err);
        return err;
    }

    WAVEFORMATEX format_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool interrupted_ = false;
    steady::time_point clock_start_;
    uint64_t clock_bytes_ = 0;

    int fd_ = -1;
    std::string path_;
    uint64_t data_bytes_ = 0;
    uint64_t opened_bytes_ = 0;  // data_bytes_ at the open
    std::string error_;
};

}  // namespace

WaveSink* open_virtual_sink(const std::string& capture_path, const WAVEFORMATEX& format,
                            MMRESULT* result)
{
    VirtualSink* sink = new VirtualSink(format);
    if (!capture_path.empty() && !sink->open_capture(capture_path, result)) {
        report_device_failure("capture device: " + sink->error());
        delete sink;
        return nullptr;
    }
    return sink;
}
