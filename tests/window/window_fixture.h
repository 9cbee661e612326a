#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "listing/fake_computer.h"
#include "window/window.h"

namespace kestrane::window::testing {

// A front end that draws nothing and remembers what it was told.
class RecordingFrontEnd : public FrontEnd {
public:
    struct Said {
        MessageKind kind;
        std::string text;
    };
    std::vector<Said> messages;
    ListMode mode = ListMode::Report;
    bool inputEnabled = true, progressVisible = false;
    std::string progressText, flashed;
    int processed = 0;
    // Runs at each chance the user gets to act during work.
    std::function<void()> onProcessEvents;
    mutable long long clock = 0;
    long long tick = 20;

    void listChanged() override {}
    void setListMode(ListMode m) override { mode = m; }
    void setInputEnabled(bool e) override { inputEnabled = e; }
    void setProgressVisible(bool v) override { progressVisible = v; }
    void setProgress(const std::string& text, std::size_t, std::size_t) override { progressText = text; }
    void processEvents() override {
        ++processed;
        if (onProcessEvents) onProcessEvents();
    }
    void treeRebuilt() override {}
    void treeTextChanged(int) override {}
    void treeSelectionChanged(int) override {}
    void statusChanged() override {}
    void flash(const std::string& text) override { flashed = text; }
    bool message(MessageKind kind, const std::string& text, bool) override {
        messages.push_back({kind, text});
        return true;
    }
    // Every look at the clock finds `tick` ms gone; 20: each chance to yield is taken.
    long long nowMs() const override { return clock += tick; }
};

class Secrets : public SecretStore {
public:
    bool answers = true;
    std::map<std::string, std::string> kept;
    std::optional<std::string> read(const std::string& key) override {
        if (!answers) return std::nullopt;
        auto it = kept.find(key);
        return it == kept.end() ? std::optional<std::string>("") : it->second;
    }
    bool write(const std::string& key, const std::string& secret) override {
        if (answers) kept[key] = secret;
        return answers;
    }
    bool remove(const std::string& key) override { return kept.erase(key) > 0; }
};

inline std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Three disks, one processor and an empty class of fans, as both window
// layers' tests list them; `capabilities` adds an array column.
inline void FillComputer(kestrane::testing::FakeComputer& pc, bool capabilities) {
    using kestrane::testing::Decl;
    std::vector<wmi::PropertyDecl> disk = {Decl("InstallDate", 101), Decl("Model", 8), Decl("Name", 8),
                                           Decl("Partitions", 19), Decl("Size", 21)};
    if (capabilities) disk.insert(disk.begin(), Decl("Capabilities", 18, true));
    pc.define("Win32_DiskDrive", disk);
    std::vector<std::pair<std::string, wmi::Value>> first = {{"Name", "Disk 10"}, {"Model", "Tab\there <b>&"},
                                                             {"Size", "2147483648"}, {"Partitions", 3},
                                                             {"InstallDate", "20250101120000.000000+000"}};
    if (capabilities) first.push_back({"Capabilities", wmi::Value(wmi::Value::Array{wmi::Value(3), wmi::Value(4)})});
    pc.add("Win32_DiskDrive", first);
    pc.add("Win32_DiskDrive", {{"Name", "disk 2"}, {"Model", "M2"}, {"Size", "512"}, {"Partitions", 12},
                               {"InstallDate", "20240615080000.000000+000"}});
    pc.add("Win32_DiskDrive", {{"Name", "Disk 1"}, {"Model", "M3"}, {"Size", "1048576"},
                               {"InstallDate", "20241231235959.000000+000"}});
    pc.define("Win32_Processor", {Decl("Name", 8)});
    pc.add("Win32_Processor", {{"Name", "cpu0"}});
    pc.define("Win32_Fan", {Decl("Name", 8)});
}

// A window core over a fake computer with three disks, one processor and an
// empty class of fans, in a temporary folder of its own.
class CoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("kestrane-window-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        FillComputer(*pc, true);
        wmi::Backends b;
        b.local = [this] {
            ++connections;
            return pc;
        };
        b.remote = [this](const std::string& server, const std::string& user,
                          const std::string&) -> std::shared_ptr<wmi::Provider> {
            remoteCalls.push_back(server + "/" + user);
            throw wmi::MakeError(wmi::E_ACCESSDENIED_WIN32, "SWbemLocator");
        };
        core = std::make_unique<WindowCore>(ui, settings, secrets, b);
        core->load();
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    int Node(const char* key) { return core->tree().find(key); }
    void List(const char* key, bool horizontal) {
        core->setHorizontal(horizontal);
        core->select(Node(key));
    }
    // The cells of one column, top to bottom.
    std::vector<std::string> Column(std::size_t c) {
        std::vector<std::string> out;
        for (const ListRow& r : core->list().rows()) out.push_back(c == 0 ? r.text : r.sub.at(c - 1));
        return out;
    }
    long RowOf(const std::string& label) {
        for (std::size_t r = 0; r < core->list().rowCount(); ++r)
            if (core->list().row(r).text == "    " + label) return static_cast<long>(r);
        return -1;
    }
    std::vector<std::string> Files() {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    std::filesystem::path dir;
    std::shared_ptr<kestrane::testing::FakeComputer> pc = std::make_shared<kestrane::testing::FakeComputer>();
    int connections = 0;
    std::vector<std::string> remoteCalls;
    RecordingFrontEnd ui;
    MemorySettingsStore settings;
    Secrets secrets;
    std::unique_ptr<WindowCore> core;
};

}  // namespace kestrane::window::testing
