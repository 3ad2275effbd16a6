// WaveHeader flag bookkeeping of the software backends (ALSA, virtual card),
// as the Windows wave service keeps it: prepare, unprepare only when not
// queued, queue only when prepared and not yet queued. Callers hold their
// device lock.
#ifndef AURIVANE_PLATFORM_HEADER_FLAGS_H
#define AURIVANE_PLATFORM_HEADER_FLAGS_H

#include <aurivane/wave_service.h>

namespace aurivane {

inline void MarkPrepared(WaveHeader* h) { h->dwFlags |= kWaveHeaderPrepared; }

inline bool MarkUnprepared(WaveHeader* h) {
    if (h->dwFlags & kWaveHeaderInQueue) return false;
    h->dwFlags &= ~kWaveHeaderPrepared;
    return true;
}

// A queued input buffer starts empty.
inline bool MarkQueued(WaveHeader* h, bool input) {
    if (!(h->dwFlags & kWaveHeaderPrepared) || (h->dwFlags & kWaveHeaderInQueue)) return false;
    h->dwFlags = (h->dwFlags | kWaveHeaderInQueue) & ~kWaveHeaderDone;
    if (input) h->dwBytesRecorded = 0;
    return true;
}

}  // namespace aurivane

#endif
