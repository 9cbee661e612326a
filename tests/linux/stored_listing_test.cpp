// Every class of the Linux provider over each fixture tree, compared with the
// listing stored beside the fixture (tests/fixtures/listings/<tree>.txt). A
// changed value, a value that appears or goes Null, an instance gained or lost
// shows as a diff of that class. After an intended change, rewrite the stored
// listings with KESTRANE_UPDATE_LISTINGS=1 and read the diff before committing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "linux_test_util.h"
#include "wmi/error.h"

namespace {

std::string Quoted(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') out += {'\\', static_cast<char>(c)};
        else if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else out += static_cast<char>(c);
    }
    return out + "\"";
}

// Types stay visible: 64-bit figures are strings, reals are marked.
std::string Text(const wmi::Value& v) {
    if (v.isNull()) return "null";
    if (v.isBool()) return v.asBool() ? "true" : "false";
    if (v.isInt()) return std::to_string(v.asInt());
    if (v.isDouble()) return wmi::NumberText(v.asDouble()) + "r";
    if (v.isString()) return Quoted(v.asString());
    std::string out = "[";
    for (const auto& e : v.asArray()) out += (out.size() > 1 ? ", " : "") + Text(e);
    return out + "]";
}

// Each class's listing: its instances (with the subclass each comes from),
// one non-Null property a line.
std::map<std::string, std::string> ListAll(const std::string& root, const std::vector<std::string>& classes) {
    std::map<std::string, std::string> out;
    auto provider = wmi::MakeLinuxProvider(root);
    for (const auto& cls : classes) {
        std::string& text = out[cls];
        try {
            auto cursor = provider->enumerate(cls);
            while (auto o = cursor->next()) {
                text += "- " + o->className() + "\n";
                for (const auto& p : o->Properties_()) {
                    if (p.value().isNull()) continue;
                    // Install dates come from the times of package files, which a checkout sets.
                    const bool fileTime = p.name() == "InstallDate" || p.name() == "InstallDate2";
                    text += p.name() + " = " + (fileTime ? "(a file's time)" : Text(p.value())) + "\n";
                }
            }
        } catch (const wmi::Error& e) {
            text += "error " + std::to_string(e.number()) + "\n";
        }
    }
    return out;
}

std::string StoredPath(const std::string& tree) { return lnxtest::Fixture("listings/" + tree + ".txt"); }

std::map<std::string, std::string> ReadStored(const std::string& tree) {
    std::map<std::string, std::string> out;
    std::ifstream in(StoredPath(tree));
    std::string line, *current = nullptr;
    while (std::getline(in, line)) {
        if (line.rfind("== ", 0) == 0) current = &out[line.substr(3)];
        else if (current) *current += line + "\n";
    }
    return out;
}

// A fixture tree's every class, or some classes of a tree built by the test.
void ExpectStoredListing(const std::string& tree, const std::string& root = "",
                         const std::vector<std::string>& classes = wmi::lnx::LinuxProviderClasses()) {
    const auto actual = ListAll(root.empty() ? lnxtest::Fixture(tree) : root, classes);
    if (std::getenv("KESTRANE_UPDATE_LISTINGS")) {
        std::ofstream f(StoredPath(tree), std::ios::binary);
        for (const auto& [cls, text] : actual) f << "== " << cls << "\n" << text;
        return;
    }
    const auto stored = ReadStored(tree);
    ASSERT_FALSE(stored.empty()) << StoredPath(tree) << " is missing: KESTRANE_UPDATE_LISTINGS=1 writes it";
    for (const auto& [cls, text] : actual) {
        auto it = stored.find(cls);
        if (it == stored.end()) {
            ADD_FAILURE() << cls << " is not in " << StoredPath(tree);
        } else {
            EXPECT_EQ(text, it->second) << cls << " in " << tree;
        }
    }
    for (const auto& [cls, text] : stored) EXPECT_TRUE(actual.count(cls)) << cls << " is no longer listed";
}

}  // namespace

TEST(StoredListing, Laptop) { ExpectStoredListing("laptop"); }
TEST(StoredListing, Server) { ExpectStoredListing("server"); }
TEST(StoredListing, PrintServer) { ExpectStoredListing("printserver"); }
TEST(StoredListing, ThisMachine) { ExpectStoredListing("thismachine"); }
TEST(StoredListing, ArmVm) { ExpectStoredListing("armvm"); }
TEST(StoredListing, Oddities) { ExpectStoredListing("oddities"); }
// No tree at all: only the singletons answer, empty of facts, and nothing fails.
TEST(StoredListing, Absent) { ExpectStoredListing("absent"); }

// Events split by facility, with their types and users, numbered per log.
TEST(StoredListing, JournalEvents) {
    lnxtest::TempTree t;
    t.write("/var/log/journal/0123/system.journal", lnxtest::JournalBytes());
    t.write("/etc/passwd", "root:x:0:0::/root:/bin/sh\nalice:x:1000:1000::/home/alice:/bin/sh\n");
    t.write("/proc/sys/kernel/hostname", "srv01\n");
    // A build with the journal reader must read this journal; only a build
    // without it may skip.
    if (!wmi::lnx::JournalReaderBuiltIn()) GTEST_SKIP() << "built without the journal reader";
    ExpectStoredListing("journal-events", t.path(), {"Win32_NTLogEvent", "Win32_NTEventlogFile"});
}

// Without a journal, the text logs: the year each line lacks from the file's
// time, an offset applied, a torn line skipped.
TEST(StoredListing, TextLogEvents) {
    lnxtest::TempTree t;
    t.write("/var/log/syslog",
            "Dec 30 23:59:58 srv01 CRON[100]: (root) CMD (run-parts)\n"
            "a torn line\n"
            "Jan  2 08:00:00 srv01 kernel: usb 1-1: new device\n");
    t.write("/var/log/auth.log", "2025-01-02T09:00:00.5+01:00 srv01 sshd[812]: Accepted key\n");
    t.touch("/var/log/syslog", 1735819200);  // 2025-01-02 12:00 UTC
    t.touch("/var/log/auth.log", 1735819200);
    ExpectStoredListing("text-log-events", t.path(), {"Win32_NTLogEvent", "Win32_NTEventlogFile"});
}
