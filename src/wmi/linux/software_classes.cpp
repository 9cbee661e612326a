// Installed software from dpkg's status database: each installed package is
// a product, a software element and a software feature. The install date is
// the time dpkg wrote the package's file list.
#include "wmi/linux/os_common.h"

namespace wmi::lnx {

namespace {

constexpr int kInstalled = 5;
constexpr int kBadConfiguration = -6;

struct Packages {
    std::vector<DpkgPackage> list;
};

std::shared_ptr<Packages> ReadPackages(const Context& ctx) {
    auto p = std::make_shared<Packages>();
    if (auto t = ctx.read("/var/lib/dpkg/status", 256u << 20))
        for (auto& pkg : ParseDpkgStatus(*t))
            if (DpkgIsInstalled(pkg)) p->list.push_back(std::move(pkg));
    return p;
}

std::optional<std::int64_t> InstallTime(const Context& ctx, const DpkgPackage& p) {
    std::string base = "/var/lib/dpkg/info/" + p.package;
    if (auto t = ctx.fs().modificationTime(base + ":" + p.architecture + ".list")) return t;
    return ctx.fs().modificationTime(base + ".list");
}

int InstallState(const DpkgPackage& p) {
    auto w = SplitWhitespace(p.status);
    return w.size() == 3 && w[2] == "installed" ? kInstalled : kBadConfiguration;
}

std::string PackageId(const DpkgPackage& p) { return p.architecture.empty() ? p.package : p.package + ":" + p.architecture; }

using Builder = std::function<Object(const Context&, const SchemaPtr&, const DpkgPackage&)>;

std::unique_ptr<InstanceCursor> Lazy(const Context& ctx, const SchemaPtr& schema, const Builder& build) {
    auto pkgs = ReadPackages(ctx);
    std::vector<std::string> keys;
    keys.reserve(pkgs->list.size());
    for (std::size_t i = 0; i < pkgs->list.size(); ++i) keys.push_back(std::to_string(i));
    return std::make_unique<LazyCursor>(std::move(keys), [ctx, schema, pkgs, build](const std::string& k) -> std::optional<Object> {
        return build(ctx, schema, pkgs->list[std::stoul(k)]);
    });
}

Object ProductRow(const Context& ctx, const SchemaPtr& schema, const DpkgPackage& p) {
    Row r(schema);
    std::string summary = p.summary();
    r.set("Name", p.package).set("Version", p.version).set("IdentifyingNumber", PackageId(p));
    if (!summary.empty()) r.set("Caption", summary).set("Description", summary);
    if (!p.maintainer.empty()) r.set("Vendor", p.maintainer);
    if (!p.homepage.empty()) r.set("URLInfoAbout", p.homepage);
    r.set("InstallState", InstallState(p));
    if (auto t = InstallTime(ctx, p)) {
        std::string dmtf = ctx.dmtf(*t);
        r.set("InstallDate", dmtf.substr(0, 8)).set("InstallDate2", dmtf);
    }
    return r.build();
}

Object ElementRow(const Context& ctx, const SchemaPtr& schema, const DpkgPackage& p) {
    Row r(schema);
    std::string summary = p.summary();
    r.set("Name", p.package).set("Version", p.version).set("SoftwareElementID", PackageId(p));
    r.set("IdentificationCode", PackageId(p));
    if (!summary.empty()) r.set("Caption", summary).set("Description", summary);
    if (!p.maintainer.empty()) r.set("Manufacturer", p.maintainer);
    r.set("SoftwareElementState", 2);    // executable: installed and usable
    r.set("TargetOperatingSystem", 36);  // LINUX
    r.set("InstallState", InstallState(p));
    r.set("Status", InstallState(p) == kInstalled ? "OK" : "Degraded");
    if (auto t = InstallTime(ctx, p)) r.set("InstallDate", ctx.dmtf(*t));
    return r.build();
}

Object FeatureRow(const Context& ctx, const SchemaPtr& schema, const DpkgPackage& p) {
    Row r(schema);
    std::string summary = p.summary();
    r.set("Name", p.package).set("Version", p.version).set("IdentifyingNumber", PackageId(p));
    // A binary package is a feature of the source package it was built from.
    std::string source = p.source.empty() ? p.package : FirstWord(p.source);
    r.set("ProductName", source);
    if (!summary.empty()) r.set("Caption", summary).set("Description", summary);
    if (!p.maintainer.empty()) r.set("Vendor", p.maintainer);
    r.set("InstallState", InstallState(p) == kInstalled ? 3 : kBadConfiguration);  // 3: installed locally
    r.set("Status", InstallState(p) == kInstalled ? "OK" : "Degraded");
    if (auto t = InstallTime(ctx, p)) r.set("InstallDate", ctx.dmtf(*t));
    return r.build();
}

}  // namespace

void RegisterSoftwareClasses(Registry& r) {
    r.add("Win32_Product", [](const Context& c, const SchemaPtr& s) { return Lazy(c, s, ProductRow); });
    r.add("Win32_SoftwareElement", [](const Context& c, const SchemaPtr& s) { return Lazy(c, s, ElementRow); });
    r.add("Win32_SoftwareFeature", [](const Context& c, const SchemaPtr& s) { return Lazy(c, s, FeatureRow); });
}

}  // namespace wmi::lnx
