#include "wmi/linux/linux_provider.h"

#include <chrono>
#include <future>
#include <system_error>
#include <thread>

#include "wmi/linux/provider_core.h"
#include "wmi/schema/schema_table.h"

namespace wmi::lnx {

namespace {

const Registry& TheRegistry() {
    static const Registry registry = [] {
        Registry r;
        RegisterSystemClasses(r);
        RegisterOsClasses(r);
        RegisterStorageClasses(r);
        RegisterDisplayClasses(r);
        RegisterDeviceClasses(r);
        RegisterPowerClasses(r);
        RegisterNetworkClasses(r);
        RegisterSmbiosClasses(r);
        RegisterPortClasses(r);
        RegisterProcessClasses(r);
        RegisterAccountClasses(r);
        RegisterServiceClasses(r);
        RegisterOsSettingClasses(r);
        RegisterSoftwareClasses(r);
        RegisterEventLogClasses(r);
        RegisterPerfClasses(r);
        RegisterPrintingClasses(r);
        RegisterStartMenuClasses(r);
        return r;
    }();
    return registry;
}

class LinuxProvider : public Provider {
public:
    explicit LinuxProvider(std::shared_ptr<FileSystem> fs)
        : fs_(std::move(fs)), cache_(std::make_shared<SharedCache>()) {}

    std::unique_ptr<InstanceCursor> enumerate(std::string_view className) override {
        const ClassEntry* e = TheRegistry().find(className);
        // Classes without a Linux counterpart, and those not written yet, are
        // reported like a class the computer lacks rather than as empty.
        if (!e) throw MakeError(WBEM_E_INVALID_CLASS, "SWbemObjectSet");
        Context ctx(fs_, cache_);
        return e->collect(ctx, LookupSchema(e->name));
    }

    std::unique_ptr<InstanceCursor> enumerate(std::string_view className,
                                              const std::vector<std::string>& properties) override {
        const ClassEntry* e = TheRegistry().find(className);
        if (!e) throw MakeError(WBEM_E_INVALID_CLASS, "SWbemObjectSet");
        Context ctx(fs_, cache_);
        ctx.readsOnly(properties);
        return e->collect(ctx, LookupSchema(e->name));
    }

    // The slow preparations of the announced classes run on a thread of their
    // own while the caller lists the others. A failure there is met again,
    // and reported, when the class itself is listed.
    void prefetch(const std::vector<std::string>& classNames) override {
        std::vector<WarmUp> work;
        for (const auto& n : classNames)
            if (const ClassEntry* e = TheRegistry().find(n);
                e && e->warmUp && (!e->warmUpNeeded || e->warmUpNeeded(Context(fs_, cache_))))
                work.push_back(e->warmUp);
        if (work.empty() || std::thread::hardware_concurrency() < 2) return;
        // A window shows many summaries in a session: forget the finished.
        std::erase_if(warming_, [](const std::future<void>& f) {
            return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        });
        try {
            warming_.push_back(std::async(std::launch::async, [ctx = Context(fs_, cache_), work = std::move(work)] {
                for (const auto& w : work) {
                    try {
                        w(ctx);
                    } catch (...) {
                    }
                }
            }));
        } catch (const std::system_error&) {
            // No thread to be had: the classes do the work when listed.
        }
    }

    std::vector<std::string> reasons(std::string_view className) override {
        const ClassEntry* e = TheRegistry().find(className);
        if (!e) return {};
        return MissingValueReasons(Context(fs_, cache_), e->name);
    }

    // A tree under --root is another computer: its own host name, not the
    // one of the computer reading it (which the caller knows on "/").
    std::string computerName() const override {
        if (fs_->isLiveRoot()) return {};
        return Context(fs_, cache_).hostName().value_or("");
    }

private:
    std::shared_ptr<FileSystem> fs_;
    std::shared_ptr<SharedCache> cache_;
    std::vector<std::future<void>> warming_;  // last, so waited for before the rest goes
};

}  // namespace

std::shared_ptr<wmi::Provider> MakeLinuxProvider(std::shared_ptr<FileSystem> fs) {
    return std::make_shared<LinuxProvider>(std::move(fs));
}

std::vector<std::string> LinuxProviderClasses() { return TheRegistry().names(); }

}  // namespace wmi::lnx

namespace wmi {

std::shared_ptr<Provider> MakeLinuxProvider(std::string root) {
    return lnx::MakeLinuxProvider(lnx::MakeLocalFileSystem(std::move(root)));
}

}  // namespace wmi
