#include "fleet/capture.h"

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "core/file_error.h"

namespace kestrane::fleet {

namespace {

using Clock = std::chrono::steady_clock;
struct Cancelled {};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    if (!in) throw FileError(path, "cannot be read back");
    return s.str();
}

}  // namespace

std::vector<Target> ReadHostsFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw FileError(path, "cannot be opened for reading");
    std::vector<Target> out;
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        Target t;
        if (!(words >> t.computer)) continue;
        words >> t.user;
        std::string extra;
        if (words >> extra)
            throw FileError(path, "line " + std::to_string(n) + ": a computer and at most a user, not \"" + extra + "\"");
        out.push_back(std::move(t));
    }
    return out;
}

std::vector<TargetResult> CaptureFleet(Store& store, const std::vector<Target>& targets,
                                       const FleetCaptureOptions& options) {
    const std::size_t jobs =
        static_cast<std::size_t>(std::clamp(options.jobs, 1, kMaxJobs));
    std::vector<TargetResult> results(targets.size());
    std::mutex mu;  // the store, the progress and the shared counters
    std::size_t next = 0, done = 0, failed = 0;
    std::vector<std::pair<std::size_t, Clock::time_point>> running;
    const auto begin = Clock::now();
    const std::string tempDir =
        options.tempDir.empty() ? std::filesystem::temp_directory_path().string() : options.tempDir;
    auto cancelled = [&] { return options.cancel && options.cancel->load(); };

    auto report = [&] {  // under mu
        if (!options.progress) return;
        FleetProgress p{done, targets.size(), failed, 0, "", 0};
        const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
        p.perSecond = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
        for (const auto& [i, start] : running) {
            const double s = std::chrono::duration<double>(Clock::now() - start).count();
            if (s >= p.slowestSeconds) {
                p.slowest = targets[i].computer;
                p.slowestSeconds = s;
            }
        }
        options.progress(p);
    };

    auto one = [&](std::size_t i) {
        const Target& t = targets[i];
        TargetResult& r = results[i];
        r.computer = t.computer;
        const auto start = Clock::now();
        const std::string started = IsoNowUtc();
        const std::string file = tempDir + "/kestrane-capture-" + std::to_string(getpid()) + "-" +
                                 std::to_string(i) + ".json";
        CaptureFailure failure{"failed", std::nullopt, ""};
        bool stored = false;
        try {
            if (cancelled()) throw Cancelled{};
            auto provider = options.connect(t.computer, t.user.empty() ? options.user : t.user, options.password);
            auto res = wmi::CaptureSnapshot(
                file, *provider, options.classes, provider->computerName().empty() ? t.computer : provider->computerName(),
                wmi::DmtfNowUtc(), [&](std::size_t, std::size_t, const std::string&) { return !cancelled(); });
            if (res.cancelled) throw Cancelled{};
            const std::string text = ReadFile(file);
            std::lock_guard lock(mu);
            // Ctrl+C between the last class and here still keeps the capture:
            // it is whole.
            r.instances = 0;
            const std::int64_t id = store.addSnapshot(text, t.computer, t.computer, started, IsoNowUtc());
            for (const auto& c : store.captures(t.computer))
                if (c.id == id) r.instances = c.instances;
            stored = true;
        } catch (const Cancelled&) {
            failure = {"cancelled", std::nullopt, "cancelled"};
        } catch (const wmi::Error& e) {
            failure.errorNumber = e.number();
            failure.errorText = e.displayText();
        } catch (const FileError& e) {
            failure.errorNumber = static_cast<std::int32_t>(wmi::WBEM_E_FAILED);
            failure.errorText = e.what();
        } catch (const std::exception& e) {
            failure.errorNumber = static_cast<std::int32_t>(wmi::WBEM_E_FAILED);
            failure.errorText = e.what();
        }
        std::error_code ec;
        std::filesystem::remove(file, ec);
        r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::lock_guard lock(mu);
        if (stored) {
            r.status = "complete";
        } else {
            r.status = failure.status;
            r.errorNumber = failure.errorNumber;
            r.errorText = failure.errorText;
            try {
                store.addFailure(t.computer, t.computer, started, IsoNowUtc(), failure);
            } catch (const std::exception& e) {
                r.errorText += " (and it could not be recorded: " + std::string(e.what()) + ")";
            }
            if (r.status == "failed") ++failed;
        }
    };

    auto worker = [&] {
        for (;;) {
            std::size_t i;
            {
                std::lock_guard lock(mu);
                if (next >= targets.size()) return;
                i = next++;
                running.emplace_back(i, Clock::now());
                report();
            }
            one(i);
            std::lock_guard lock(mu);
            running.erase(std::find_if(running.begin(), running.end(), [&](const auto& p) { return p.first == i; }));
            ++done;
            report();
        }
    };
    std::vector<std::thread> pool;
    for (std::size_t w = 0; w < std::min(jobs, targets.size()); ++w) pool.emplace_back(worker);
    for (auto& th : pool) th.join();
    return results;
}

}  // namespace kestrane::fleet
