// The PCM format both sound-card objects open their device with.
#ifndef AURIVANE_DEVICE_DEVICE_FORMAT_H
#define AURIVANE_DEVICE_DEVICE_FORMAT_H

#include <aurivane/aurivane.h>

namespace aurivane {

// Keeps channels, rate and sample width of the caller's record and derives
// the rest, so that an inconsistent record cannot reach the device.
inline WAVEFORMATEX DeviceFormat(const WAVEFORMATEX& caller) {
    WAVEFORMATEX f{};
    f.wFormatTag = 1;  // WAVE_FORMAT_PCM
    f.nChannels = caller.nChannels;
    f.nSamplesPerSec = caller.nSamplesPerSec;
    f.wBitsPerSample = caller.wBitsPerSample;
    f.nBlockAlign = static_cast<uint16_t>(f.nChannels * (f.wBitsPerSample / 8));
    f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
    f.cbSize = 18;
    return f;
}

}  // namespace aurivane

#endif
