// Commands that show the engine core: the catalogue and a splitter chain.
#include "commands.h"

#include <aurivane/aurivane.h>

#include "engine/catalogue.h"

#include <cstdio>
#include <string>

namespace aurivane::cli {

namespace {

std::string IdText(const ClassId& id) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned>(id.data1), id.data2, id.data3, id.data4[0], id.data4[1],
                  id.data4[2], id.data4[3], id.data4[4], id.data4[5], id.data4[6], id.data4[7]);
    return text;
}

// A host-side sink that prints what reaches it.
class PrintingSink final : public AudioSink {
public:
    explicit PrintingSink(const char* name) : name_(name) {}
    int32_t Process(const void* data, uint32_t byteCount) override {
        std::printf("  %s received %u bytes: \"%.*s\"\n", name_, static_cast<unsigned>(byteCount),
                    static_cast<int>(byteCount), static_cast<const char*>(data));
        return 1;
    }

private:
    const char* name_;
};

}  // namespace

int RunClasses(const Args& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "usage: aurivane classes\n");
        return 2;
    }
    std::size_t count = 0;
    const CatalogueEntry* entries = Catalogue(&count);
    std::printf("%-3s %-38s %-14s %s\n", "#", "class id", "class", "in this build");
    for (std::size_t i = 0; i < count; ++i) {
        const CatalogueEntry& e = entries[i];
        // Ask the factory itself rather than the table: what a host would see.
        void* object = CreateObject(&e.id);
        const bool provided = object != nullptr;
        DestroyObject(&e.id, object);
        std::printf("%-3zu %-38s %-14s %s\n", i + 1, IdText(e.id).c_str(), e.name, provided ? "yes" : "no");
    }
    return 0;
}

int RunSplitterDemo(const Args& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "usage: aurivane splitter-demo\n");
        return 2;
    }
    auto* head = static_cast<AudioFilter*>(CreateObject(&kSplitterId));
    auto* branch = static_cast<AudioFilter*>(CreateObject(&kSplitterAltId));
    if (head == nullptr || branch == nullptr) {
        std::fprintf(stderr, "aurivane splitter-demo: the splitter classes are not available\n");
        DestroyObject(&kSplitterId, head);
        DestroyObject(&kSplitterAltId, branch);
        return 1;
    }
    PrintingSink a("sink A"), b("sink B"), c("sink C");
    // head -> A, branch(-> B, C), A
    head->AddSink(&a);
    head->AddSink(branch);
    head->AddSink(&a);
    branch->AddSink(&b);
    branch->AddSink(&c);
    std::printf("chain: splitter -> [A, splitter -> [B, C], A]\n");
    const char message[] = "hello, chain";
    head->Process(message, sizeof message - 1);
    std::printf("after RemoveSink(A) (removes the first A only):\n");
    head->RemoveSink(&a);
    head->Process(message, 5);
    DestroyObject(&kSplitterId, head);
    DestroyObject(&kSplitterAltId, branch);
    return 0;
}

}  // namespace aurivane::cli
