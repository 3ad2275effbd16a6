// The class catalogue: every class id with its constructor and tear-down.
#ifndef AURIVANE_ENGINE_CATALOGUE_H
#define AURIVANE_ENGINE_CATALOGUE_H

#include <aurivane/aurivane.h>

#include <cstddef>

namespace aurivane {

struct CatalogueEntry {
    ClassId id;
    const char* name;
    // Null while this build does not provide the class: creation yields null.
    void* (*create)();
    void (*destroy)(void* object);
};

// The eight entries in the order CreateObject and DestroyObject test them.
const CatalogueEntry* Catalogue(std::size_t* count);

// First entry whose 16 bytes equal id, or null.
const CatalogueEntry* FindClass(const ClassId* id);

}  // namespace aurivane

#endif
