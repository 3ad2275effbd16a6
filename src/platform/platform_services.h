// The backends this build has; PlatformWaveService picks the native one.
#ifndef AURIVANE_PLATFORM_PLATFORM_SERVICES_H
#define AURIVANE_PLATFORM_PLATFORM_SERVICES_H

#include <aurivane/wave_service.h>

namespace aurivane {

WaveService& PlatformWaveService();

#if defined(_WIN32)
WaveService& WinmmWaveService();
#elif defined(AURIVANE_HAVE_ALSA)
WaveService& AlsaWaveService();
#endif

}  // namespace aurivane

#endif
