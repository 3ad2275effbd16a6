// Aurivane audio engine: the interface a host program includes.
//
// The library exports exactly two functions (by ordinal 1 and 2 on Windows):
// CreateObject makes an engine object named by a ClassId, DestroyObject
// destroys it again with the same id. Everything else goes through the
// operation tables of the objects, declared below in slot order. The
// interfaces have no virtual destructor: never delete an object, always
// hand it back to DestroyObject with the id that created it.
#ifndef AURIVANE_AURIVANE_H
#define AURIVANE_AURIVANE_H

#include <stdint.h>

#if defined(_WIN32)
#include <windows.h>
#include <mmsystem.h>
#else
// The 18-byte wave format record of the Windows multimedia API, laid out
// byte for byte as there.
#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
} WAVEFORMATEX;
#pragma pack(pop)
#endif

// 16 bytes in the layout of a Windows GUID; compared byte for byte.
struct ClassId {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

static_assert(sizeof(ClassId) == 16, "ClassId is 16 bytes");
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is 18 bytes");

namespace aurivane {

// The class catalogue, in the order CreateObject tests it.
inline constexpr ClassId kWaveRecorderId = {0xFDAC6E6C, 0xA23D, 0x43F7, {0x97, 0x83, 0xBF, 0x2C, 0x23, 0xAA, 0x6B, 0xE1}};
inline constexpr ClassId kWavePlayerId = {0x30A4E8EE, 0x38E9, 0x44FF, {0x9B, 0xD3, 0x5C, 0xCA, 0xD1, 0x50, 0x75, 0xC0}};
inline constexpr ClassId kSplitterId = {0xDE046EDF, 0xBEEE, 0x4122, {0x9A, 0xEC, 0x2C, 0x4F, 0x98, 0x54, 0xC9, 0x7C}};
inline constexpr ClassId kSplitterAltId = {0xDEB92FE2, 0x8675, 0x4373, {0xA4, 0xBD, 0x3E, 0x42, 0xD6, 0xE3, 0xFE, 0x6F}};
inline constexpr ClassId kG729EncoderId = {0x67CF1A5D, 0x6107, 0x4230, {0xA8, 0x13, 0x64, 0xD4, 0xBF, 0x2A, 0x0A, 0xFA}};
inline constexpr ClassId kG729DecoderId = {0xC0E9E058, 0xFD24, 0x4D65, {0xA3, 0x9D, 0x8C, 0xC0, 0x45, 0x49, 0xF9, 0x01}};
inline constexpr ClassId kAacEncoderId = {0x00144F58, 0x2975, 0x4334, {0xAC, 0x12, 0xD0, 0xD0, 0x5D, 0x5F, 0x43, 0xB5}};
inline constexpr ClassId kAacDecoderId = {0x7257ED4A, 0xF6D7, 0x40AE, {0x83, 0x13, 0xD0, 0xED, 0xB3, 0x1E, 0x0C, 0xAC}};

// Slot 0 of every sink: takes a buffer of bytes (16-bit little-endian PCM
// or coded frames) that is valid only for the duration of the call.
class AudioSink {
public:
    virtual int32_t Process(const void* data, uint32_t byteCount) = 0;

protected:
    ~AudioSink() = default;
};

// A sink that also produces: delivers every buffer it makes to each sink of
// its list, in the order they were added. Splitters and the G.729 filters.
//
// G729Decoder: Process takes whole 10-byte G.729 frames and delivers 160
// bytes of 8 kHz PCM per frame. A lost frame is reported with a null
// buffer: Process(nullptr, 10 * k) conceals k frames and delivers their
// 160 bytes each, as if they had arrived (null with a count that is not a
// multiple of 10 returns 0 and delivers nothing). With two frames a packet:
//     if (received) decoder->Process(payload, 20);
//     else decoder->Process(nullptr, 20);  // lost: 320 bytes of concealment
class AudioFilter : public AudioSink {
public:
    virtual int32_t AddSink(AudioSink* sink) = 0;
    virtual int32_t RemoveSink(AudioSink* sink) = 0;

protected:
    ~AudioFilter() = default;
};

// AacDecoder (slot 3: Open). The parameter is stored, it changes no output.
class AacDecoderInterface : public AudioFilter {
public:
    virtual int32_t Open(int32_t parameter) = 0;

protected:
    ~AacDecoderInterface() = default;
};

// AacEncoder (slot 3: Open with the input format and the bitrate in bit/s).
// Open accepts 16-bit PCM with one or two channels (one is coded as a
// centred stereo image) at these rates and bitrates, and returns 1:
//   32000 Hz: 10000 to 19999 bit/s; 44100 Hz: 8000 to 44000;
//   48000 Hz: 12000 to 44000.
// Anything else returns 0 and leaves the object passing its input through
// unchanged; Open on an object already set up returns 1 and changes nothing.
// Once set up, Process takes interleaved PCM of any length: every complete
// frame of 2048 sample periods becomes one [length][access unit] record
// (HE-AAC with parametric stereo, units of at most 255 bytes) and bytes
// that do not complete a frame wait for the next call. Each call delivers
// its records in one sink call (empty when no frame completed), or in
// several, in order, when they exceed 122896 bytes.
class AacEncoderInterface : public AudioFilter {
public:
    virtual int32_t Open(const WAVEFORMATEX* format, int32_t bitrate) = 0;

protected:
    ~AacEncoderInterface() = default;
};

// WaveRecorder: a capture source, not a sink (it has no Process).
class WaveRecorderInterface {
public:
    virtual int32_t AddSink(AudioSink* sink) = 0;
    virtual int32_t RemoveSink(AudioSink* sink) = 0;
    virtual int32_t Start(const WAVEFORMATEX* format, uint32_t bufferBytes, uint32_t bufferCount,
                          uint32_t deliverySize) = 0;
    virtual int32_t Stop() = 0;
    virtual uintptr_t GetDeviceHandle() = 0;

protected:
    ~WaveRecorderInterface() = default;
};

// CWavePlayer: a playback sink.
class WavePlayerInterface : public AudioSink {
public:
    virtual int32_t Open(const WAVEFORMATEX* format, uint32_t chunkSize, uint32_t bufferCount,
                         uint32_t backlogLimit) = 0;
    virtual int32_t Close() = 0;
    virtual uintptr_t GetDeviceHandle() = 0;
    virtual uint32_t GetPendingBytes() = 0;

protected:
    ~WavePlayerInterface() = default;
};

}  // namespace aurivane

extern "C" {
// Ordinal 1. Returns the new object, or null for an unknown id.
void* CreateObject(const ClassId* id);
// Ordinal 2. Unknown ids and null objects are ignored.
void DestroyObject(const ClassId* id, void* object);
}

#endif
