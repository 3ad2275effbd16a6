#include <aurivane/aurivane.h>

#include "engine/catalogue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

using aurivane::AudioFilter;

TEST(Factory, CatalogueOrderAndBytes) {
    // The catalogue's ids in their in-memory GUID layout (little-endian
    // words, then the eight bytes), written out rather than taken from the
    // header, so that a wrong byte there shows.
    const struct {
        const char* name;
        uint8_t bytes[16];
    } expected[8] = {
        {"WaveRecorder", {0x6C, 0x6E, 0xAC, 0xFD, 0x3D, 0xA2, 0xF7, 0x43, 0x97, 0x83, 0xBF, 0x2C, 0x23, 0xAA, 0x6B, 0xE1}},
        {"CWavePlayer", {0xEE, 0xE8, 0xA4, 0x30, 0xE9, 0x38, 0xFF, 0x44, 0x9B, 0xD3, 0x5C, 0xCA, 0xD1, 0x50, 0x75, 0xC0}},
        {"Splitter", {0xDF, 0x6E, 0x04, 0xDE, 0xEE, 0xBE, 0x22, 0x41, 0x9A, 0xEC, 0x2C, 0x4F, 0x98, 0x54, 0xC9, 0x7C}},
        {"Splitter", {0xE2, 0x2F, 0xB9, 0xDE, 0x75, 0x86, 0x73, 0x43, 0xA4, 0xBD, 0x3E, 0x42, 0xD6, 0xE3, 0xFE, 0x6F}},
        {"G729Encoder", {0x5D, 0x1A, 0xCF, 0x67, 0x07, 0x61, 0x30, 0x42, 0xA8, 0x13, 0x64, 0xD4, 0xBF, 0x2A, 0x0A, 0xFA}},
        {"G729Decoder", {0x58, 0xE0, 0xE9, 0xC0, 0x24, 0xFD, 0x65, 0x4D, 0xA3, 0x9D, 0x8C, 0xC0, 0x45, 0x49, 0xF9, 0x01}},
        {"AacEncoder", {0x58, 0x4F, 0x14, 0x00, 0x75, 0x29, 0x34, 0x43, 0xAC, 0x12, 0xD0, 0xD0, 0x5D, 0x5F, 0x43, 0xB5}},
        {"AacDecoder", {0x4A, 0xED, 0x57, 0x72, 0xD7, 0xF6, 0xAE, 0x40, 0x83, 0x13, 0xD0, 0xED, 0xB3, 0x1E, 0x0C, 0xAC}},
    };
    std::size_t count = 0;
    const aurivane::CatalogueEntry* entries = aurivane::Catalogue(&count);
    ASSERT_EQ(count, 8u);
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(std::memcmp(&entries[i].id, expected[i].bytes, sizeof(ClassId)), 0) << "entry " << i;
        EXPECT_STREQ(entries[i].name, expected[i].name) << "entry " << i;
    }
    const ClassId* constants[] = {&aurivane::kWaveRecorderId, &aurivane::kWavePlayerId, &aurivane::kSplitterId,
                                  &aurivane::kSplitterAltId,  &aurivane::kG729EncoderId, &aurivane::kG729DecoderId,
                                  &aurivane::kAacEncoderId,   &aurivane::kAacDecoderId};
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(std::memcmp(constants[i], expected[i].bytes, sizeof(ClassId)), 0) << expected[i].name;
    }
}

TEST(Factory, EveryProvidedClassCreatesAndDestroys) {
    std::size_t count = 0;
    const aurivane::CatalogueEntry* entries = aurivane::Catalogue(&count);
    int provided = 0;
    for (std::size_t i = 0; i < count; ++i) {
        void* object = CreateObject(&entries[i].id);
        EXPECT_EQ(object != nullptr, entries[i].create != nullptr) << entries[i].name;
        if (object != nullptr) ++provided;
        DestroyObject(&entries[i].id, object);
    }
    EXPECT_GE(provided, 2);  // at least the two splitter ids
}

TEST(Factory, UnknownIdsAndNullObjects) {
    for (const ClassId* id : {&aurivane::kSplitterId, &aurivane::kAacDecoderId, &aurivane::kWaveRecorderId}) {
        ClassId altered = *id;
        altered.data4[7] ^= 0x01;  // last byte only
        EXPECT_EQ(CreateObject(&altered), nullptr);
        altered = *id;
        altered.data1 ^= 0x80000000u;  // first byte of the id's first word, high bit
        EXPECT_EQ(CreateObject(&altered), nullptr);
    }
    EXPECT_EQ(CreateObject(nullptr), nullptr);

    // None of these may touch anything.
    DestroyObject(&aurivane::kSplitterId, nullptr);
    DestroyObject(nullptr, nullptr);
    ClassId unknown = {};
    int notAnObject = 42;
    DestroyObject(&unknown, &notAnObject);
    EXPECT_EQ(notAnObject, 42);
}

TEST(Factory, FirstMatchWinsAndComparisonIsBytewise) {
    // A copy of the id in another buffer (not the constant itself) must match.
    alignas(4) uint8_t raw[16];
    std::memcpy(raw, &aurivane::kSplitterAltId, 16);
    ClassId copy;
    std::memcpy(&copy, raw, 16);
    const aurivane::CatalogueEntry* entry = aurivane::FindClass(&copy);
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->name, "Splitter");
    EXPECT_EQ(std::memcmp(&entry->id, &aurivane::kSplitterAltId, 16), 0);
}

}  // namespace
