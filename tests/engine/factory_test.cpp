#include <aurivane/aurivane.h>

#include "engine/catalogue.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using aurivane::AudioFilter;

TEST(Factory, CatalogueOrderAndBytes) {
    std::size_t count = 0;
    const aurivane::CatalogueEntry* entries = aurivane::Catalogue(&count);
    ASSERT_EQ(count, 8u);
    const ClassId* expected[] = {&aurivane::kWaveRecorderId, &aurivane::kWavePlayerId,
                                 &aurivane::kSplitterId,     &aurivane::kSplitterAltId,
                                 &aurivane::kG729EncoderId,  &aurivane::kG729DecoderId,
                                 &aurivane::kAacEncoderId,   &aurivane::kAacDecoderId};
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(std::memcmp(&entries[i].id, expected[i], sizeof(ClassId)), 0) << "entry " << i;
    }
    // The GUID layout in memory: little-endian words, then the eight bytes.
    const uint8_t recorderBytes[16] = {0x6C, 0x6E, 0xAC, 0xFD, 0x3D, 0xA2, 0xF7, 0x43,
                                       0x97, 0x83, 0xBF, 0x2C, 0x23, 0xAA, 0x6B, 0xE1};
    EXPECT_EQ(std::memcmp(&aurivane::kWaveRecorderId, recorderBytes, 16), 0);
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
