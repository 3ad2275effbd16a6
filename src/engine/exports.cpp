// The library's two entry points. No exception may cross them.
#include <aurivane/aurivane.h>

#include "engine/catalogue.h"

extern "C" void* CreateObject(const ClassId* id) {
    try {
        const aurivane::CatalogueEntry* entry = aurivane::FindClass(id);
        if (entry == nullptr || entry->create == nullptr) return nullptr;
        return entry->create();
    } catch (...) {
        return nullptr;
    }
}

extern "C" void DestroyObject(const ClassId* id, void* object) {
    try {
        const aurivane::CatalogueEntry* entry = aurivane::FindClass(id);
        if (entry == nullptr || object == nullptr || entry->destroy == nullptr) return;
        entry->destroy(object);
    } catch (...) {
    }
}
