// Snapshot files come from anywhere: a malformed one must end in FileError,
// and a loaded one must enumerate every class it claims to hold.
#include <cstdint>
#include <string_view>

#include "core/file_error.h"
#include "fuzz_input.h"
#include "wmi/snapshot/snapshot.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::shared_ptr<wmi::SnapshotProvider> snap;
    try {
        snap = wmi::ParseSnapshot(text, "fuzz.json");
    } catch (const kestrane::FileError& e) {
        fuzz::Check(std::string_view(e.what()).starts_with("fuzz.json: "), "error names the file");
        return 0;
    }
    for (const std::string& name : snap->classNames()) {
        fuzz::Check(snap->schemaOf(name) != nullptr, "listed class has a schema");
        auto cursor = snap->enumerate(name);
        std::size_t count = 0;
        while (auto obj = cursor->next()) {
            fuzz::Check(obj->values().size() == obj->schema().size(), "one value per declared property");
            for (const wmi::Value& v : obj->values()) (void)wmi::ValueText(v);
            ++count;
        }
        fuzz::Check(count == snap->instanceCount(name), "instance count matches enumeration");
    }
    return 0;
}
