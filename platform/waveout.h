// The wave output interface: a device that plays queued buffers of PCM in order and hands
// each finished buffer back through a callback on the device's own thread.
//
// The device behind it is chosen by CORVELLE_AUDIO_DEVICE when a device is opened:
//   unset or "alsa"  the ALSA PCM "default"
//   "alsa:NAME"      the ALSA PCM NAME
//   "null"           a virtual device that consumes audio at the real sample rate
//   "capture:PATH"   the virtual device, also writing everything it plays to the RIFF WAVE
//                    file PATH (the file is started anew at the first open in a process and
//                    continued by later opens with the same format, so that a driver that
//                    closes and reopens between songs keeps one recording)
// With CORVELLE_TRACE set, every device appends a line
//   device <wall-clock microseconds> <frames played since the device was opened>
// to that file each time it finishes a buffer, and the capture device a line
//   capture <wall-clock microseconds> <frames already in the capture file>
// when it opens (where in the recording this device's frame 0 lies).
#ifndef CORVELLE_PLATFORM_WAVEOUT_H
#define CORVELLE_PLATFORM_WAVEOUT_H

#include <cstdint>

typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef unsigned int UINT;
typedef uintptr_t DWORD_PTR;
typedef uintptr_t UINT_PTR;
typedef UINT MMRESULT;
typedef UINT MMVERSION;
typedef char* LPSTR;

struct WaveOutDevice;
typedef WaveOutDevice* HWAVEOUT;
typedef HWAVEOUT* LPHWAVEOUT;

// Result codes
enum {
    MMSYSERR_NOERROR = 0,
    MMSYSERR_ERROR = 1,
    MMSYSERR_BADDEVICEID = 2,
    MMSYSERR_NOTENABLED = 3,
    MMSYSERR_ALLOCATED = 4,
    MMSYSERR_INVALHANDLE = 5,
    MMSYSERR_NODRIVER = 6,
    MMSYSERR_NOMEM = 7,
    MMSYSERR_NOTSUPPORTED = 8,
    MMSYSERR_BADERRNUM = 9,
    MMSYSERR_INVALFLAG = 10,
    MMSYSERR_INVALPARAM = 11,
    MMSYSERR_HANDLEBUSY = 12,
    MMSYSERR_INVALIDALIAS = 13,
    WAVERR_BASE = 32,
    WAVERR_BADFORMAT = 32,
    WAVERR_STILLPLAYING = 33,
    WAVERR_UNPREPARED = 34,
    WAVERR_SYNC = 35
};

// Callback messages
enum { WOM_OPEN = 0x3BB, WOM_CLOSE = 0x3BC, WOM_DONE = 0x3BD };

// waveOutOpen flags
enum : DWORD {
    WAVE_FORMAT_QUERY = 0x0001,
    WAVE_ALLOWSYNC = 0x0002,
    CALLBACK_NULL = 0x00000000,
    CALLBACK_FUNCTION = 0x00030000,
    CALLBACK_TYPEMASK = 0x00070000
};
#define WAVE_MAPPER ((UINT)-1)

enum { WAVE_FORMAT_PCM = 1 };

// Header flags
enum : DWORD { WHDR_DONE = 0x01, WHDR_PREPARED = 0x02, WHDR_INQUEUE = 0x10 };

struct WAVEHDR {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    DWORD_PTR reserved;
};
typedef WAVEHDR* LPWAVEHDR;

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)

enum { MAXPNAMELEN = 32 };

struct WAVEOUTCAPSA {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    char szPname[MAXPNAMELEN];
    DWORD dwFormats;
    WORD wChannels;
    WORD wReserved1;
    DWORD dwSupport;
};

// Format bits of dwFormats: 11.025, 22.05, 44.1 and 96 kHz; mono/stereo; 8/16 bits.
enum : DWORD {
    WAVE_FORMAT_1M08 = 0x1, WAVE_FORMAT_1S08 = 0x2, WAVE_FORMAT_1M16 = 0x4, WAVE_FORMAT_1S16 = 0x8,
    WAVE_FORMAT_2M08 = 0x10, WAVE_FORMAT_2S08 = 0x20, WAVE_FORMAT_2M16 = 0x40, WAVE_FORMAT_2S16 = 0x80,
    WAVE_FORMAT_4M08 = 0x100, WAVE_FORMAT_4S08 = 0x200, WAVE_FORMAT_4M16 = 0x400, WAVE_FORMAT_4S16 = 0x800
};

typedef void (*WAVEOUTPROC)(HWAVEOUT hwo, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                            DWORD_PTR param2);

// 1 when the chosen device can be opened, else 0.
UINT waveOutGetNumDevs(void);
// Opens the device (id 0 or WAVE_MAPPER). With CALLBACK_FUNCTION, callback is a WAVEOUTPROC
// called on the device thread with WOM_OPEN, WOM_DONE (param1: the finished header) and
// WOM_CLOSE. WAVE_FORMAT_QUERY only checks the format.
MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT device_id, const WAVEFORMATEX* format,
                     DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
MMRESULT waveOutGetID(HWAVEOUT hwo, UINT* device_id);
MMRESULT waveOutGetDevCapsA(UINT_PTR device_id, WAVEOUTCAPSA* caps, UINT size);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR hdr, UINT size);
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR hdr, UINT size);
// Queues a prepared header; it is played after those queued before it.
MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR hdr, UINT size);
// Stops at once and hands every queued header back (WOM_DONE) before returning; a paused
// device plays again what is queued after it.
MMRESULT waveOutReset(HWAVEOUT hwo);
// Holds playback: returns once the device has stopped taking frames from its queue; what is
// queued (the rest of the header it was playing too) stays queued. Nothing is handed back.
MMRESULT waveOutPause(HWAVEOUT hwo);
// Goes on playing the held queue from the frame where the pause stopped it; returns once the
// device plays again.
MMRESULT waveOutRestart(HWAVEOUT hwo);
// Closes the device; WAVERR_STILLPLAYING while headers are queued.
MMRESULT waveOutClose(HWAVEOUT hwo);

// Why the chosen device was last found missing or failed to open or play, in the system's
// words ("" when nothing failed yet).
const char* waveOutFailureText(void);

#endif
