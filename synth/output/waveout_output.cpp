// The wave device output ("d"): a fixed pool of 16384-byte buffers that output_data fills
// and queues on the device, sleeping while none is free; the device's callback puts played
// buffers back on the free list.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "frontend/controls.h"
#include "frontend/memory.h"
#include "output/output.h"
#include "platform/debugout.h"
#include "platform/globalmem.h"
#include "platform/thread.h"
#include "platform/waveout.h"

static int open_output(void);
static void close_output(void);
static int output_data(char* buf, int32 bytes);
static int acntl(int request, void* arg);
static int detect(void);

#define DATA_BLOCK_SIZE 16384
#define HEADER_BLOCK_SIZE ((int)sizeof(WAVEHDR))

PlayMode w32_play_mode = {
    44100,
    PE_16BIT | PE_SIGNED,
    PF_PCM_STREAM | PF_CAN_TRACE | PF_BUFF_FRAGM_OPT,
    -1,
    {32, 0, 0, 0, 0},
    "Windows audio driver",
    'd',
    nullptr,
    open_output,
    close_output,
    output_data,
    acntl,
    detect,
};

CRITICAL_SECTION critSect;

struct WaveBuffer {
    int number;
    int prepared;
    HGLOBAL hData;
    char* pData;
    HGLOBAL hHead;
    WAVEHDR* pHead;
    WaveBuffer* next;
};

static HWAVEOUT hDevice = nullptr;
static WaveBuffer* Buffers = nullptr;
static int NumBuffers = 0;  // records in Buffers
static WaveBuffer* FreeBuffers = nullptr;
// Changed only under critSect; read without it for debug lines and messages.
static std::atomic<int> NumBuffersInUse{0};
static int BufferDelay = 0;
// Signalled whenever the device hands a buffer back, so that a writer waiting for one goes on
// at once rather than after a fixed sleep.
static std::mutex returned_lock;
static std::condition_variable returned;
static unsigned long returned_count = 0;

static void debug(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

static void debug(const char* format, ...)
{
    char line[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(line, sizeof line, format, ap);
    va_end(ap);
    OutputDebugStringA(line);
}

const char* wave_error_text(int code)
{
    static const char* const mm_errors[] = {
        "no error", "unspecified error", "device ID out of range", "driver failed enable",
        "device already allocated", "device handle is invalid", "no device driver present",
        "memory allocation error", "function isn't supported", "error value out of range",
        "invalid flag passed", "invalid parameter passed", "handle being used",
        "unsupported wave format"};
    static const char* const wave_errors[] = {"unsupported wave format", "still something playing",
                                              "header not prepared", "device is synchronous"};
    static char text[64];
    if (code >= 0 && code <= 13)
        return mm_errors[code];
    if (code >= 32 && code <= 35)
        return wave_errors[code - 32];
    if (code >= 14 && code <= 31)
        snprintf(text, sizeof text, "Unknown multimedia error %d", code);
    else if (code >= 36)
        snprintf(text, sizeof text, "Unknown wave error %d", code - 32);
    else
        snprintf(text, sizeof text, "Unknown multimedia error %d", code);
    return text;
}

static int bytes_per_sample(int32 enc)
{
    return (enc & PE_24BIT) ? 3 : (enc & PE_16BIT) ? 2 : 1;
}

static void wave_callback(HWAVEOUT, UINT msg, DWORD_PTR, DWORD_PTR param1, DWORD_PTR)
{
    cmsg(CMSG_INFO, VERB_DEBUG, "Msg: 0x%08X, Num. buffers in use: %d", msg, NumBuffersInUse.load());
    switch (msg) {
    case WOM_OPEN:
        debug("%2d: Device opened.\n", NumBuffersInUse.load());
        break;
    case WOM_CLOSE:
        debug("%2d: Device closed.\n", NumBuffersInUse.load());
        break;
    case WOM_DONE: {
        WAVEHDR* hdr = reinterpret_cast<WAVEHDR*>(param1);
        EnterCriticalSection(&critSect);
        debug("%2d: Putting buffer...\n", NumBuffersInUse.load());
        if (hdr != nullptr && hdr->dwUser < (DWORD_PTR)NumBuffers) {
            WaveBuffer* b = &Buffers[hdr->dwUser];
            b->next = FreeBuffers;
            FreeBuffers = b;
            NumBuffersInUse--;
        }
        debug("%2d: Buffer put.\n", NumBuffersInUse.load());
        LeaveCriticalSection(&critSect);
        {
            std::lock_guard<std::mutex> g(returned_lock);
            returned_count++;
        }
        returned.notify_all();
        break;
    }
    default:
        debug("%2d: Unknown play back event 0x%08X.\n", NumBuffersInUse.load(), msg);
        break;
    }
}

static void reset_buffer_pool(void)
{
    debug("Resetting buffer pool...\n");
    for (int i = 0; i < NumBuffers; i++) {
        Buffers[i].number = i;
        Buffers[i].prepared = 0;
        Buffers[i].next = i + 1 < NumBuffers ? &Buffers[i + 1] : nullptr;
    }
    FreeBuffers = NumBuffers > 0 ? &Buffers[0] : nullptr;
    NumBuffersInUse = 0;
    debug("Buffer pool reset.\n");
}

static void free_buffers(void)
{
    for (int i = 0; i < NumBuffers; i++) {
        if (Buffers[i].hHead != nullptr) {
            GlobalUnlock(Buffers[i].hHead);
            GlobalFree(Buffers[i].hHead);
        }
        if (Buffers[i].hData != nullptr) {
            GlobalUnlock(Buffers[i].hData);
            GlobalFree(Buffers[i].hData);
        }
    }
    free(Buffers);
    Buffers = nullptr;
    NumBuffers = 0;
    FreeBuffers = nullptr;
}

static int open_output(void)
{
    PlayMode* dpm = &w32_play_mode;
    // The lock is created by the playback start-up; make sure it exists even without it.
    InitializeCriticalSection(&critSect);

    if (dpm->extra_param[0] <= 7) {
        cmsg(CMSG_WARNING, VERB_NORMAL, "Too small -B option: %d", (int)dpm->extra_param[0]);
        dpm->extra_param[0] = 8;
    }
    if (waveOutGetNumDevs() == 0) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "No audio devices present!");
        return -1;
    }

    int32 enc = dpm->encoding & ~(PE_ULAW | PE_ALAW | PE_BYTESWAP);
    if (enc & (PE_16BIT | PE_24BIT))
        enc |= PE_SIGNED;
    else
        enc &= ~PE_SIGNED;
    dpm->encoding = enc;

    int channels = (enc & PE_MONO) ? 1 : 2;
    int bps = bytes_per_sample(enc);
    WAVEFORMATEX wf;
    memset(&wf, 0, sizeof wf);
    wf.wFormatTag = WAVE_FORMAT_PCM;
    wf.nChannels = (WORD)channels;
    wf.nSamplesPerSec = (DWORD)dpm->rate;
    wf.nBlockAlign = (WORD)(channels * bps);
    wf.nAvgBytesPerSec = (DWORD)dpm->rate * wf.nBlockAlign;
    wf.wBitsPerSample = (WORD)(8 * bps);
    wf.cbSize = 14;

    debug("Opening device...\n");
    hDevice = nullptr;
    MMRESULT r = waveOutOpen(&hDevice, WAVE_MAPPER, &wf, (DWORD_PTR)wave_callback, 0,
                             CALLBACK_FUNCTION | WAVE_ALLOWSYNC);
    if (r != MMSYSERR_NOERROR) {
        hDevice = nullptr;
        cmsg(CMSG_ERROR, VERB_NORMAL, "Can't open audio device: encoding=<%s>, rate=<%d>, ch=<%d>: %s",
             output_encoding_string(enc), (int)dpm->rate, channels, wave_error_text((int)r));
        return -1;
    }
    debug("Device opened.\n");

    UINT id = 0;
    WAVEOUTCAPSA caps;
    memset(&caps, 0, sizeof caps);
    waveOutGetID(hDevice, &id);
    waveOutGetDevCapsA((UINT_PTR)id, &caps, sizeof caps);
    cmsg(CMSG_INFO, VERB_DEBUG, "Device ID: %d", (int)id);
    cmsg(CMSG_INFO, VERB_DEBUG, "Manufacture ID: %d", (int)caps.wMid);
    cmsg(CMSG_INFO, VERB_DEBUG, "Product ID: %d", (int)caps.wPid);
    cmsg(CMSG_INFO, VERB_DEBUG, "Driver version: %d", (int)caps.vDriverVersion);
    cmsg(CMSG_INFO, VERB_DEBUG, "Product name: %s", caps.szPname);
    cmsg(CMSG_INFO, VERB_DEBUG, "Formats supported: 0x%08X", (unsigned)caps.dwFormats);
    cmsg(CMSG_INFO, VERB_DEBUG, "Max. channels: %d", (int)caps.wChannels);
    cmsg(CMSG_INFO, VERB_DEBUG, "Supported features: 0x%08X", (unsigned)caps.dwSupport);

    BufferDelay = (4096 * channels * bps) * 1000 / (int)dpm->rate;

    NumBuffers = (int)dpm->extra_param[0];
    Buffers = (WaveBuffer*)safe_malloc(sizeof(WaveBuffer) * (size_t)NumBuffers);
    memset(Buffers, 0, sizeof(WaveBuffer) * (size_t)NumBuffers);
    for (int i = 0; i < NumBuffers; i++) {
        Buffers[i].hData = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, DATA_BLOCK_SIZE);
        Buffers[i].hHead = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, HEADER_BLOCK_SIZE);
        if (Buffers[i].hData == nullptr || Buffers[i].hHead == nullptr) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "Can't open audio device: %s", wave_error_text(MMSYSERR_NOMEM));
            free_buffers();
            waveOutClose(hDevice);
            hDevice = nullptr;
            return -1;
        }
        Buffers[i].pData = (char*)GlobalLock(Buffers[i].hData);
        Buffers[i].pHead = (WAVEHDR*)GlobalLock(Buffers[i].hHead);
    }
    reset_buffer_pool();
    dpm->fd = 0;
    return 0;
}

// Waits until the device hands a buffer back (at most BufferDelay ms); the caller looks for a
// free one again.
static void wait_for_buffer(unsigned long seen)
{
    int delay = ctl != nullptr && ctl->trace_playing ? 0 : BufferDelay;
    debug("%2d: Waiting %dms...\n", NumBuffersInUse.load(), delay);
    std::unique_lock<std::mutex> held(returned_lock);
    returned.wait_for(held, std::chrono::milliseconds(delay), [seen] { return returned_count != seen; });
    debug("%2d: Wait finished.\n", NumBuffersInUse.load());
}

static void wait_for_all_buffers(void)
{
    debug("%2d: Waiting for all buffers to be dequeued...\n", NumBuffersInUse.load());
    for (;;) {
        EnterCriticalSection(&critSect);
        int in_use = NumBuffersInUse;
        LeaveCriticalSection(&critSect);
        if (in_use == 0)
            break;
        Sleep((unsigned long)BufferDelay);
    }
    debug("%2d: All buffers dequeued.\n", NumBuffersInUse.load());
    reset_buffer_pool();
}

// A buffer the device did not take goes back to the pool, or closing would wait for it
// for ever.
static void give_back(WaveBuffer* b)
{
    EnterCriticalSection(&critSect);
    b->next = FreeBuffers;
    FreeBuffers = b;
    NumBuffersInUse--;
    LeaveCriticalSection(&critSect);
}

static int output_data(char* buf, int32 bytes)
{
    if (hDevice == nullptr || Buffers == nullptr) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "waveOutWrite(): %s", wave_error_text(MMSYSERR_INVALHANDLE));
        return -1;
    }
    while (bytes > 0) {
        debug("%2d: Getting buffer...\n", NumBuffersInUse.load());
        unsigned long seen;
        {
            std::lock_guard<std::mutex> g(returned_lock);
            seen = returned_count;
        }
        EnterCriticalSection(&critSect);
        WaveBuffer* b = FreeBuffers;
        if (b != nullptr) {
            FreeBuffers = b->next;
            NumBuffersInUse++;
            if (b->prepared) {
                waveOutUnprepareHeader(hDevice, b->pHead, sizeof(WAVEHDR));
                b->prepared = 0;
            }
            b->next = nullptr;
        }
        LeaveCriticalSection(&critSect);
        debug("%2d: Got buffer.\n", NumBuffersInUse.load());

        if (b == nullptr) {
            wait_for_buffer(seen);
            continue;
        }
        int32 n = bytes < DATA_BLOCK_SIZE ? bytes : DATA_BLOCK_SIZE;
        memcpy(b->pData, buf, (size_t)n);
        b->pHead->dwBufferLength = (DWORD)n;
        b->pHead->lpData = b->pData;
        b->pHead->dwUser = (DWORD_PTR)b->number;

        debug("%2d: Preparing buffer %d...\n", NumBuffersInUse.load(), b->number);
        MMRESULT r = waveOutPrepareHeader(hDevice, b->pHead, sizeof(WAVEHDR));
        if (r != MMSYSERR_NOERROR) {
            debug("%2d: Buffer preparation failed.\n", NumBuffersInUse.load());
            cmsg(CMSG_ERROR, VERB_NORMAL, "waveOutPrepareHeader(): %s", wave_error_text((int)r));
            give_back(b);
            return -1;
        }
        debug("%2d: Buffer %d prepared.\n", NumBuffersInUse.load(), b->number);
        b->prepared = 1;

        debug("%2d: Queueing buffer %d...\n", NumBuffersInUse.load(), b->number);
        r = waveOutWrite(hDevice, b->pHead, sizeof(WAVEHDR));
        if (r != MMSYSERR_NOERROR) {
            debug("%2d: Buffer queueing failed.\n", NumBuffersInUse.load());
            cmsg(CMSG_ERROR, VERB_NORMAL, "waveOutWrite(): %s", wave_error_text((int)r));
            give_back(b);
            return -1;
        }
        debug("%2d: Buffer %d queued.\n", NumBuffersInUse.load(), b->number);
        buf += n;
        bytes -= n;
    }
    return 0;
}

static void close_output(void)
{
    if (w32_play_mode.fd == -1)
        return;
    wait_for_all_buffers();
    debug("Closing device...\n");
    waveOutReset(hDevice);
    waveOutClose(hDevice);
    hDevice = nullptr;
    debug("Device closed.\n");
    free_buffers();
    w32_play_mode.fd = -1;
}

static int acntl(int request, void* arg)
{
    switch (request) {
    case PM_REQ_DISCARD: {
        debug("Resetting audio device.\n");
        if (hDevice != nullptr)
            waveOutReset(hDevice);
        close_output();
        int rc = open_output();
        debug("Audio device reset.\n");
        return rc < 0 ? -1 : 0;
    }
    case PM_REQ_PAUSE: {
        if (hDevice == nullptr || arg == nullptr)
            return -1;
        MMRESULT r = *(int*)arg ? waveOutPause(hDevice) : waveOutRestart(hDevice);
        return r == MMSYSERR_NOERROR ? 0 : -1;
    }
    case PM_REQ_FLUSH:
        close_output();
        return open_output() < 0 ? -1 : 0;
    case PM_REQ_GETQSIZ: {
        if (arg == nullptr)
            return -1;
        int32 enc = w32_play_mode.encoding;
        int size = ((int)w32_play_mode.extra_param[0] - 1) * 4096;
        if (!(enc & PE_MONO))
            size *= 2;
        size *= bytes_per_sample(enc);
        *(int*)arg = size;
        return 0;
    }
    default:
        return -1;
    }
}

static int detect(void)
{
    return waveOutGetNumDevs() != 0;
}
