// kestrane-cli.exe against the computer's WMI: every listing equals the
// same listing of what wmi_probe.exe (COM calls of its own) read.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "cli/cli.h"
#include "core/platform.h"
#include "wmi/schema/schema_table.h"
#include "wmi/snapshot/snapshot.h"

namespace {

std::wstring Dir() {
    wchar_t buf[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
    std::wstring p(buf, n);
    return p.substr(0, p.find_last_of(L"\\/") + 1);
}

struct Result {
    DWORD code = 0;
    std::string out, err;
};

std::string Drain(HANDLE h) {
    std::string s;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) s.append(buf, got);
    return s;
}

// Runs a program beside this one with the arguments (none holds a blank or
// a quote) and collects both outputs.
Result RunProgram(const std::string& program, const std::vector<std::string>& args) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE outR, outW, errR, errW;
    CreatePipe(&outR, &outW, &sa, 0);
    CreatePipe(&errR, &errW, &sa, 0);
    SetHandleInformation(outR, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errR, HANDLE_FLAG_INHERIT, 0);
    std::wstring exe = Dir() + kestrane::WideFromUtf8(program);
    std::wstring cmd = L"\"" + exe + L"\"";
    for (const auto& a : args) cmd += L" " + kestrane::WideFromUtf8(a);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = outW;
    si.hStdError = errW;
    PROCESS_INFORMATION pi{};
    Result r;
    if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        r.code = 9999;
        CloseHandle(outR), CloseHandle(outW), CloseHandle(errR), CloseHandle(errW);
        return r;
    }
    CloseHandle(outW);
    CloseHandle(errW);
    std::thread errThread([&] { r.err = Drain(errR); });
    r.out = Drain(outR);
    errThread.join();
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &r.code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(outR);
    CloseHandle(errR);
    return r;
}

bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

std::string TempFile(const std::string& name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + "kestrane-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

// The probe's snapshot with every property of the published class that WMI
// left out added without a value, in the object model's order, as the
// provider gives them. Wine writes LocalDateTime with a two-digit UTC offset,
// which no snapshot file may hold: such values are left out here and their
// rows out of the comparison.
std::string Reference(const std::vector<std::string>& classes, const std::string& name,
                      std::set<std::string>& incomparable) {
    Result r = RunProgram("wmi_probe.exe", classes);
    EXPECT_EQ(r.code, 0u) << r.err;
    nlohmann::ordered_json snap = nlohmann::ordered_json::parse(r.out);
    for (auto& [cls, body] : snap["classes"].items()) {
        auto& props = body["properties"];
        for (const auto& p : props) {
            if (p["cimtype"] != wmi::CIM_DATETIME || p["array"]) continue;
            const std::string n = p["name"];
            for (auto& inst : body["instances"])
                if (inst.contains(n) && !wmi::IsDmtfDatetime(inst[n].get<std::string>())) {
                    inst.erase(n);
                    incomparable.insert(n + "\xC3\x87");
                    incomparable.insert(n);
                }
        }
        std::set<std::string> have;
        for (const auto& p : props) have.insert(wmi::ToLowerAscii(p["name"].get<std::string>()));
        if (wmi::SchemaPtr published = wmi::LookupSchema(cls))
            for (const auto& p : published->properties())
                if (!have.count(wmi::ToLowerAscii(p.name)))
                    props.push_back({{"name", p.name}, {"cimtype", p.cimType}, {"array", p.isArray}, {"origin", p.origin}});
        std::vector<nlohmann::ordered_json> sorted(props.begin(), props.end());
        std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
            return wmi::ToLowerAscii(a["name"].template get<std::string>()) <
                   wmi::ToLowerAscii(b["name"].template get<std::string>());
        });
        props = sorted;
    }
    std::string path = TempFile(name);
    std::ofstream(kestrane::PathFromUtf8(path), std::ios::binary) << snap.dump(1);
    return path;
}

// A listing's rows as "key|text|values", the instance number left out of
// keys and header rows, grouped into instance blocks (one block per row in a
// horizontal listing, which starts with its columns).
using Block = std::vector<std::string>;

std::vector<Block> Blocks(const std::string& jsonLines) {
    std::vector<Block> blocks;
    bool horizontal = false;
    std::istringstream in(jsonLines);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line == "\r") continue;
        auto j = nlohmann::json::parse(line);
        if (j.contains("columns")) {
            blocks.push_back({j.dump()});
            horizontal = true;
            continue;
        }
        std::string key = j.value("key", "");
        while (!key.empty() && key.back() >= '0' && key.back() <= '9') key.pop_back();
        std::string row = key + "|" + j.value("text", "");
        if (j.value("bold", false) || horizontal) {
            blocks.emplace_back();
        } else {
            for (const auto& s : j["sub"]) row += "|" + s.get<std::string>();
        }
        if (blocks.empty()) blocks.emplace_back();
        blocks.back().push_back(row);
    }
    return blocks;
}

// Rows that differed between two reads of the probe are sampled values
// (free memory, clock speed, thread counts): left out everywhere.
void DropSampled(std::vector<Block>& listing, const std::set<std::string>& sampledKeys) {
    for (auto& b : listing)
        b.erase(std::remove_if(b.begin(), b.end(),
                               [&](const std::string& row) { return sampledKeys.count(row.substr(0, row.find('|'))); }),
                b.end());
}

std::set<std::string> SampledKeys(const std::vector<Block>& a, const std::vector<Block>& b) {
    std::multiset<std::string> ra, rb;
    for (const auto& x : a) ra.insert(x.begin(), x.end());
    for (const auto& x : b) rb.insert(x.begin(), x.end());
    std::set<std::string> keys;
    for (const auto& r : ra)
        if (!rb.count(r)) keys.insert(r.substr(0, r.find('|')));
    for (const auto& r : rb)
        if (!ra.count(r)) keys.insert(r.substr(0, r.find('|')));
    return keys;
}

// The test's own programs come and go between reads.
void DropOwnProcesses(std::vector<Block>& listing) {
    listing.erase(std::remove_if(listing.begin(), listing.end(),
                                 [](const Block& b) {
                                     for (const auto& r : b)
                                         for (const char* own : {"kestrane-cli.exe", "wmi_probe.exe",
                                                                 "kestrane_windows_tests.exe"})
                                             if (r.find(std::string("|") + own) != std::string::npos) return true;
                                     return false;
                                 }),
                  listing.end());
    std::sort(listing.begin(), listing.end());
}

const std::vector<std::string> kClasses = {
    "Win32_BaseBoard", "Win32_BIOS", "Win32_ComputerSystem", "Win32_ComputerSystemProduct",
    "Win32_DesktopMonitor", "Win32_DiskDrive", "Win32_DiskPartition", "Win32_DisplayConfiguration",
    "Win32_DisplayControllerConfiguration", "Win32_IP4RouteTable", "Win32_LogicalDisk", "Win32_NetworkAdapter",
    "Win32_NetworkAdapterConfiguration", "Win32_OperatingSystem", "Win32_PageFileUsage", "Win32_PhysicalMemory",
    "Win32_PNPEntity", "Win32_Process", "Win32_Processor", "Win32_QuickFixEngineering", "Win32_Service",
    "Win32_SoundDevice", "Win32_VideoController",
};

// The listing of a snapshot file, made in this process.
std::vector<Block> SnapshotListing(const std::string& file, const std::vector<std::string>& command) {
    std::vector<std::string> a = {"--snapshot", file};
    a.insert(a.end(), command.begin(), command.end());
    std::ostringstream out, err;
    EXPECT_EQ(kestrane::cli::Run(a, out, err), 0) << err.str();
    return Blocks(out.str());
}

// Lists the commands live between two reads of the probe and compares each
// with the first read, leaving out what the two reads disagree on. A
// sampled value may change without the probe seeing it change: a mismatch
// is read again before it counts. Returns how many listings of the first
// read had rows.
std::size_t ExpectSameListings(const std::vector<std::pair<std::string, std::vector<std::string>>>& commands) {
    std::vector<std::size_t> pending(commands.size());
    for (std::size_t i = 0; i < pending.size(); ++i) pending[i] = i;
    std::map<std::size_t, std::pair<std::vector<Block>, std::vector<Block>>> last;  // live, reference
    std::size_t answered = 0;
    for (int attempt = 0; attempt < 3 && !pending.empty(); ++attempt) {
        std::set<std::string> incomparable;
        const std::string before = Reference(kClasses, "before.json", incomparable);
        std::map<std::size_t, std::vector<Block>> live;
        for (std::size_t i : pending) {
            Result r = RunProgram("kestrane-cli.exe", commands[i].second);
            EXPECT_EQ(r.code, 0u) << r.err;
            live[i] = Blocks(r.out);
        }
        const std::string after = Reference(kClasses, "after.json", incomparable);
        std::vector<std::size_t> again;
        for (std::size_t i : pending) {
            auto& [now, reference] = last[i] = {live[i], SnapshotListing(before, commands[i].second)};
            std::vector<Block> second = SnapshotListing(after, commands[i].second);
            if (commands[i].first == "Win32_Process")
                for (auto* listing : {&now, &reference, &second}) DropOwnProcesses(*listing);
            std::set<std::string> leaveOut = SampledKeys(reference, second);
            leaveOut.insert(incomparable.begin(), incomparable.end());
            DropSampled(now, leaveOut);
            DropSampled(reference, leaveOut);
            if (now != reference) again.push_back(i);
            if (attempt == 0) answered += !reference.empty();
        }
        std::error_code ec;
        for (const std::string& file : {before, after}) std::filesystem::remove(kestrane::PathFromUtf8(file), ec);
        pending = again;
    }
    for (std::size_t i : pending) {
        const auto& [now, reference] = last[i];
        EXPECT_EQ(now.size(), reference.size()) << commands[i].first;
        for (std::size_t b = 0; b < now.size() && b < reference.size(); ++b)
            EXPECT_EQ(now[b], reference[b]) << commands[i].first << " block " << b;
    }
    return answered;
}

TEST(CliUnderWmi, ListingsEqualWhatWmiReturns) {
    std::vector<std::pair<std::string, std::vector<std::string>>> commands = {
        {"summary", {"--json", "summary"}},
        {"Win32_Service", {"--json", "list", "Win32_Service", "--horizontal"}}};
    for (const std::string& cls : kClasses) commands.push_back({cls, {"--json", "list", cls}});
    // Wine answers most of these; a WMI that answered none would prove nothing.
    EXPECT_GE(ExpectSameListings(commands), 16u);
    Result text = RunProgram("kestrane-cli.exe", {"summary"});
    EXPECT_EQ(text.code, 0u) << text.err;
    EXPECT_NE(text.out.find("Operating System"), std::string::npos);
}

TEST(CliUnderWmi, ErrorsAreNumberAndDescription) {
    // Another computer: Wine's WMI has no DCOM transport and refuses before
    // any traffic; Windows would try the network, which a test must not. The
    // number travels unchanged, and the password stays out of the message.
    if (UnderWine()) {
        SetEnvironmentVariableW(L"KESTRANE_PASSWORD", L"secret");
        Result r = RunProgram("kestrane-cli.exe",
                              {"--computer", "127.0.0.2", "--user", "DOMAIN\\user", "list", "Win32_BIOS"});
        SetEnvironmentVariableW(L"KESTRANE_PASSWORD", nullptr);
        EXPECT_EQ(r.code, 3u);
        EXPECT_EQ(r.err, "-2147217387:Transport failure\r\n");
    }
    // A class this computer lacks: Windows fails with 0x80041010, Wine
    // answers an empty set.
    Result unknown = RunProgram("kestrane-cli.exe", {"list", "Win32_NoSuchClassHere"});
    if (UnderWine()) {
        EXPECT_EQ(unknown.code, 0u) << unknown.err;
        EXPECT_NE(unknown.out.find("No Information Available"), std::string::npos);
    } else {
        EXPECT_EQ(unknown.code, 3u);
        EXPECT_EQ(unknown.err, "-2147217392:Invalid class\r\n");
    }
    // Options of back-ends the Windows build leaves out are refused plainly.
    for (std::vector<std::string> args : {std::vector<std::string>{"--root", "C:\\", "summary"},
                                          {"--computer", "x", "--accept-new-host-key", "summary"},
                                          {"serve"}}) {
        Result r = RunProgram("kestrane-cli.exe", args);
        EXPECT_EQ(r.code, 2u) << args[0];
        EXPECT_NE(r.err.find("Windows build"), std::string::npos) << r.err;
    }
}

TEST(CliUnderWmi, FileNamesBeyondTheCodePage) {
    // Windows hands main() its arguments in the ANSI code page; the program
    // takes them as UTF-8 from the wide command line.
    std::set<std::string> unused;
    std::string snapshot = Reference({"Win32_BIOS"}, "\xC3\x9C" "bung-\xE6\x97\xA5.json", unused);
    std::string html = TempFile("\xC3\x84rger-\xE6\x97\xA5.html");
    Result listed = RunProgram("kestrane-cli.exe", {"--snapshot", snapshot, "list", "Win32_BIOS"});
    EXPECT_EQ(listed.code, 0u) << listed.err;
    EXPECT_NE(listed.out.find("BIOS"), std::string::npos);
    for (int i = 0; i < 2; ++i) {
        Result r = RunProgram("kestrane-cli.exe", {"--snapshot", snapshot, "export", "Win32_BIOS", html});
        EXPECT_EQ(r.code, 0u) << r.err;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(kestrane::PathFromUtf8(html), ec);
    EXPECT_FALSE(ec);
    EXPECT_GT(size, 0u);
    std::filesystem::remove(kestrane::PathFromUtf8(snapshot), ec);
    std::filesystem::remove(kestrane::PathFromUtf8(html), ec);
}

}  // namespace
