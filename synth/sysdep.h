// Basic types and limits shared by every part of the engine.
#ifndef CORVELLE_SYSDEP_H
#define CORVELLE_SYSDEP_H

#include <cstdint>
#include <cstddef>

typedef int8_t int8;
typedef uint8_t uint8;
typedef int16_t int16;
typedef uint16_t uint16;
typedef int32_t int32;
typedef uint32_t uint32;
typedef int64_t int64;
typedef uint64_t uint64;

typedef double FLOAT_T;

#define MAX_CHANNELS 32
#define ISDRUMCHANNEL(c) ((drumchannels >> (c)) & 1u)

#endif
