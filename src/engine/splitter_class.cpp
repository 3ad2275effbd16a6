#include "engine/class_constructors.h"
#include "engine/splitter.h"

#include <new>

namespace aurivane {

void* NewSplitter() { return new (std::nothrow) Splitter(); }

void DeleteSplitter(void* object) { delete static_cast<Splitter*>(object); }

}  // namespace aurivane
