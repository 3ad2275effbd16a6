// Loading aurivane.dll at run time on Windows, header only. The DLL exports
// CreateObject and DestroyObject by ordinal (1 and 2) and by no name, so a
// host resolves them with MAKEINTRESOURCE rather than by name:
//
//   aurivane::DllLoader engine;
//   if (!engine.Load("aurivane.dll")) { report engine.Error(); }
//   void* splitter = engine.create(&aurivane::kSplitterId);
//   engine.destroy(&aurivane::kSplitterId, splitter);
//
// When either ordinal is missing the library is released again and both
// pointers are cleared, so a host never calls into a half-resolved DLL.
#ifndef AURIVANE_AURIVANE_LOADER_H
#define AURIVANE_AURIVANE_LOADER_H

#if defined(_WIN32)

#include <aurivane/aurivane.h>

#include <windows.h>

namespace aurivane {

class DllLoader {
public:
    using CreateFn = void* (*)(const ClassId* id);
    using DestroyFn = void (*)(const ClassId* id, void* object);

    DllLoader() = default;
    ~DllLoader() { Unload(); }
    DllLoader(const DllLoader&) = delete;
    DllLoader& operator=(const DllLoader&) = delete;

    // True when the DLL is loaded and both ordinals resolved.
    bool Load(const char* path) {
        Unload();
        module_ = LoadLibraryA(path);
        if (module_ == nullptr) {
            error_ = "LoadLibrary failed";
            return false;
        }
        create = reinterpret_cast<CreateFn>(reinterpret_cast<void*>(GetProcAddress(module_, MAKEINTRESOURCEA(1))));
        destroy = reinterpret_cast<DestroyFn>(reinterpret_cast<void*>(GetProcAddress(module_, MAKEINTRESOURCEA(2))));
        if (create == nullptr || destroy == nullptr) {
            error_ = create == nullptr ? "ordinal 1 (CreateObject) is not exported" : "ordinal 2 (DestroyObject) is not exported";
            Unload();
            return false;
        }
        error_ = "";
        return true;
    }

    void Unload() {
        create = nullptr;
        destroy = nullptr;
        if (module_ != nullptr) FreeLibrary(module_);
        module_ = nullptr;
    }

    bool Loaded() const { return create != nullptr; }
    HMODULE Module() const { return module_; }
    // Why the last Load failed; empty after a successful one.
    const char* Error() const { return error_; }

    CreateFn create = nullptr;
    DestroyFn destroy = nullptr;

private:
    HMODULE module_ = nullptr;
    const char* error_ = "";
};

}  // namespace aurivane

#endif  // _WIN32

#endif
