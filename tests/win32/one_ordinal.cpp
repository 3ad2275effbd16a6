// A DLL that exports CreateObject as ordinal 1 and nothing as ordinal 2.
extern "C" void* CreateObject(const void*) { return nullptr; }
