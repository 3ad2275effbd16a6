// A Windows host that loads aurivane.dll by path and talks to it only
// through the two ordinal exports, as a real host does.
#include <aurivane/aurivane.h>
#include <aurivane/aurivane_loader.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int passed = 0;
int failed = 0;

void Check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
    (ok ? passed : failed)++;
}

class LogSink final : public aurivane::AudioSink {
public:
    LogSink(char name, std::string* log) : name_(name), log_(log) {}
    int32_t Process(const void* data, uint32_t bytes) override {
        log_->push_back(name_);
        lastData = data;
        lastBytes = bytes;
        return 1;
    }
    const void* lastData = nullptr;
    uint32_t lastBytes = 0;

private:
    char name_;
    std::string* log_;
};

}  // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "aurivane.dll";
    // A DLL with ordinal 1 only: the loader must refuse it and clear both pointers.
    if (argc > 2) {
        aurivane::DllLoader partial;
        Check(!partial.Load(argv[2]) && partial.create == nullptr && partial.destroy == nullptr &&
                  partial.Module() == nullptr && std::strstr(partial.Error(), "ordinal 2") != nullptr,
              "a DLL without ordinal 2 is refused and released");
    }
    aurivane::DllLoader engine;
    Check(engine.Load(path), "LoadLibrary and ordinals 1 and 2 resolve");
    if (!engine.Loaded()) {
        std::printf("%s: %s\n%d passed, %d failed\n", path, engine.Error(), passed, failed);
        return 1;
    }
    const HMODULE dll = engine.Module();
    const aurivane::DllLoader::CreateFn create = engine.create;
    const aurivane::DllLoader::DestroyFn destroy = engine.destroy;
    Check(GetProcAddress(dll, "CreateObject") == nullptr, "no export named CreateObject");
    Check(GetProcAddress(dll, "DestroyObject") == nullptr, "no export named DestroyObject");
    Check(GetProcAddress(dll, MAKEINTRESOURCEA(3)) == nullptr, "no ordinal 3");

    struct Class {
        const ClassId* id;
        const char* name;
    };
    const Class classes[] = {{&aurivane::kWaveRecorderId, "WaveRecorder"}, {&aurivane::kWavePlayerId, "CWavePlayer"},
                             {&aurivane::kSplitterId, "Splitter"},         {&aurivane::kSplitterAltId, "Splitter (second id)"},
                             {&aurivane::kG729EncoderId, "G729Encoder"},   {&aurivane::kG729DecoderId, "G729Decoder"},
                             {&aurivane::kAacEncoderId, "AacEncoder"},     {&aurivane::kAacDecoderId, "AacDecoder"}};
    // The DLL build provides the whole catalogue, the sound-card objects included.
    for (const Class& c : classes) {
        void* object = create(c.id);
        Check(object != nullptr, (std::string(c.name) + " creates").c_str());
        destroy(c.id, object);
    }

    ClassId altered = aurivane::kSplitterId;
    altered.data4[7] ^= 1;
    Check(create(&altered) == nullptr, "id differing in the last byte yields null");
    // A null object, under any id or an unknown one, is ignored: the engine
    // goes on creating every class afterwards.
    for (const Class& c : classes) destroy(c.id, nullptr);
    destroy(&altered, nullptr);
    int afterwards = 0;
    for (const Class& c : classes) {
        void* object = create(c.id);
        afterwards += object != nullptr;
        destroy(c.id, object);
    }
    Check(afterwards == 8, "DestroyObject with a null object changes nothing");

    auto* head = static_cast<aurivane::AudioFilter*>(create(&aurivane::kSplitterId));
    auto* inner = static_cast<aurivane::AudioFilter*>(create(&aurivane::kSplitterAltId));
    Check(head != nullptr && inner != nullptr, "both splitter ids create");
    if (head != nullptr && inner != nullptr) {
        std::string log;
        LogSink a('A', &log), b('B', &log), c('C', &log);
        head->AddSink(&a);
        head->AddSink(inner);
        head->AddSink(&a);
        inner->AddSink(&b);
        inner->AddSink(&c);
        const char data[] = "payload";
        Check(head->Process(data, 7) == 1, "Process returns 1");
        Check(log == "ABCA", "depth-first delivery in list order");
        Check(a.lastData == data && a.lastBytes == 7, "same pointer and count forwarded");
        log.clear();
        Check(head->RemoveSink(&a) == 1, "RemoveSink of a present sink returns 1");
        Check(head->RemoveSink(&b) == 0, "RemoveSink of an absent sink returns 0");
        head->Process(data, 0);
        Check(log == "BCA" && a.lastBytes == 0, "first A removed; zero length forwarded");
    }
    destroy(&aurivane::kSplitterId, head);
    destroy(&aurivane::kSplitterAltId, inner);

    engine.Unload();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
