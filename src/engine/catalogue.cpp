#include "engine/catalogue.h"

#include "engine/class_constructors.h"

#include <cstring>

namespace aurivane {

namespace {

const CatalogueEntry kCatalogue[] = {
    {kWaveRecorderId, "WaveRecorder", NewWaveRecorder, DeleteWaveRecorder},
    {kWavePlayerId, "CWavePlayer", NewWavePlayer, DeleteWavePlayer},
    {kSplitterId, "Splitter", NewSplitter, DeleteSplitter},
    {kSplitterAltId, "Splitter", NewSplitter, DeleteSplitter},
    {kG729EncoderId, "G729Encoder", NewG729Encoder, DeleteG729Encoder},
    {kG729DecoderId, "G729Decoder", NewG729Decoder, DeleteG729Decoder},
    {kAacEncoderId, "AacEncoder", NewAacEncoder, DeleteAacEncoder},
    {kAacDecoderId, "AacDecoder", NewAacDecoder, DeleteAacDecoder},
};

}  // namespace

const CatalogueEntry* Catalogue(std::size_t* count) {
    *count = sizeof(kCatalogue) / sizeof(kCatalogue[0]);
    return kCatalogue;
}

const CatalogueEntry* FindClass(const ClassId* id) {
    if (id == nullptr) return nullptr;
    for (const CatalogueEntry& entry : kCatalogue) {
        // Plain byte comparison: no GUID normalisation.
        if (std::memcmp(&entry.id, id, sizeof(ClassId)) == 0) return &entry;
    }
    return nullptr;
}

}  // namespace aurivane
