// The print system's job files: each job's control file in the IPP encoding
// and the text of job.cache and cups-files.conf. Anyone who can write to the
// spool, or a copied tree, may leave anything there.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "wmi/linux/cups_parsers.h"
#include "wmi/linux/ipp_parser.h"

namespace lnx = wmi::lnx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);

    if (auto m = lnx::ParseIppMessage(bytes)) {
        fuzz::Check(size >= 9, "a message has a header and an end tag");
        std::size_t octets = 0, values = 0;
        for (const auto& a : m->attributes) {
            fuzz::Check(!a.name.empty() && !a.values.empty(), "an attribute has a name and a value");
            octets += a.name.size();
            for (const auto& v : a.values) octets += v.octets.size();
            values += a.values.size();
            (void)lnx::IppInteger(&a);
            if (auto s = lnx::IppString(&a)) fuzz::Check(s->size() <= size, "a string lies in the message");
            (void)lnx::IppDateTime(&a);
        }
        fuzz::Check(octets <= size && values * 5 <= size, "nothing is read twice");
        auto job = lnx::JobFromAttributes(*m, 1);
        if (job.printer) fuzz::Check(!job.printer->empty(), "a queue has a name");
    }

    std::size_t blocks = 0;
    for (std::size_t at = bytes.find('<'); at != std::string_view::npos; at = bytes.find('<', at + 1)) ++blocks;
    auto jobs = lnx::ParseJobCache(bytes);
    fuzz::Check(jobs.size() <= blocks, "a job per <Job> line at most");
    for (const auto& j : jobs) {
        fuzz::Check(j.id >= 1, "job ids are positive");
        if (j.state) fuzz::Check(*j.state >= 3 && *j.state <= 9, "states are clamped");
    }
    auto dirs = lnx::ParseCupsFilesConf(bytes);
    fuzz::Check(dirs.spool.front() == '/' && dirs.cache.front() == '/', "directories are absolute");

    if (auto id = lnx::ControlFileJobId(bytes)) {
        fuzz::Check(*id >= 1, "job ids are positive");
        fuzz::Check(lnx::ControlFileJobId(lnx::ControlFileName(*id)) == id, "a control file name reads back");
    }
    if (auto q = lnx::QueueFromPrinterUri(bytes)) fuzz::Check(!q->empty() && q->size() <= size, "queue names");
    if (auto media = lnx::ParsePwgMediaSize(bytes)) fuzz::Check(media->width > 0 && media->length > 0, "media sizes");
    return 0;
}
