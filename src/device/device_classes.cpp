#include "device/wave_player.h"
#include "device/wave_recorder.h"
#include "engine/class_constructors.h"

#include <new>

namespace aurivane {

void* NewWaveRecorder() { return new (std::nothrow) WaveRecorder(); }
void DeleteWaveRecorder(void* object) { delete static_cast<WaveRecorder*>(object); }

void* NewWavePlayer() { return new (std::nothrow) CWavePlayer(); }
void DeleteWavePlayer(void* object) { delete static_cast<CWavePlayer*>(object); }

}  // namespace aurivane
