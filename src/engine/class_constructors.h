// Constructors and tear-downs of the concrete engine classes, one pair per
// class, so that the catalogue needs no knowledge of their layouts.
#ifndef AURIVANE_ENGINE_CLASS_CONSTRUCTORS_H
#define AURIVANE_ENGINE_CLASS_CONSTRUCTORS_H

namespace aurivane {

void* NewWaveRecorder();
void DeleteWaveRecorder(void* object);
void* NewWavePlayer();
void DeleteWavePlayer(void* object);
void* NewSplitter();
void DeleteSplitter(void* object);
void* NewG729Encoder();
void DeleteG729Encoder(void* object);
void* NewG729Decoder();
void DeleteG729Decoder(void* object);
void* NewAacEncoder();
void DeleteAacEncoder(void* object);
void* NewAacDecoder();
void DeleteAacDecoder(void* object);

}  // namespace aurivane

#endif
