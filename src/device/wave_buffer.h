// Sound-card buffers: one allocation of a wave header followed directly by
// its data area.
#ifndef AURIVANE_DEVICE_WAVE_BUFFER_H
#define AURIVANE_DEVICE_WAVE_BUFFER_H

#include <aurivane/wave_service.h>

#include <cstdint>
#include <cstdlib>

namespace aurivane {

// Zero-filled, with lpData and dwBufferLength set; null when out of memory.
inline WaveHeader* NewWaveBuffer(uint32_t bytes) {
    if constexpr (sizeof(std::size_t) <= sizeof(uint32_t)) {
        // 32-bit targets: header plus data must not wrap around.
        if (bytes > SIZE_MAX - sizeof(WaveHeader)) return nullptr;
    }
    void* block = std::calloc(1, sizeof(WaveHeader) + bytes);
    if (block == nullptr) return nullptr;
    WaveHeader* h = static_cast<WaveHeader*>(block);
    h->lpData = reinterpret_cast<char*>(h + 1);
    h->dwBufferLength = bytes;
    return h;
}

inline void FreeWaveBuffer(WaveHeader* header) { std::free(header); }

}  // namespace aurivane

#endif
