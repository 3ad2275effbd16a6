// SBR extension payloads that the core decoder collects from fill elements
// for the SBR decoder of the same frame.
#ifndef AURIVANE_AACDEC_SBR_PAYLOAD_H
#define AURIVANE_AACDEC_SBR_PAYLOAD_H

#include <cstdint>

namespace aurivane {

struct SbrPayloadEntry {
    int32_t elementType;    // channel element before the fill element: 0 SCE, 1 CPE
    int32_t extensionType;  // 13 SBR data, 14 SBR data with CRC
    int32_t byteCount;      // the fill element's count
    // First byte: the four bits after the extension type; then the remaining
    // bytes of the fill element.
    uint8_t bytes[264];
};

static_assert(sizeof(SbrPayloadEntry) == 276, "entry layout");

struct SbrPayloadList {
    int32_t count;  // 0, 1 or 2 payloads stored
    SbrPayloadEntry entries[2];
};

}  // namespace aurivane

#endif
