// The platform's auto-reset event.
#ifndef AURIVANE_PLATFORM_WAVE_EVENT_H
#define AURIVANE_PLATFORM_WAVE_EVENT_H

#include <aurivane/wave_service.h>

#include <memory>

namespace aurivane {

// A named kernel event on Windows; elsewhere an unnamed mutex and condition
// variable with the same auto-reset semantics. Null on failure.
std::unique_ptr<WaveEvent> NewPlatformEvent(const char* name);

}  // namespace aurivane

#endif
