// Starts kestrane.exe, reads its window from outside and drives it with
// messages, and compares what it shows with kestrane-cli.exe's listing of
// the same node. Prints "N passed, N failed"; exit status 1 on a failure.
//   kestrane_window_test.exe KESTRANE_EXE CLI_EXE WORKDIR DPI [--quick]
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <wincred.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "remote_window.h"
#include "win32/resource.h"

using namespace kestrane::wintest;
using Rows = std::vector<std::vector<std::string>>;

namespace {

int passed = 0, failed = 0;
std::wstring kestraneExe, cliExe, workDir;

void Check(bool ok, const std::string& what) {
    ++(ok ? passed : failed);
    static const bool verbose = GetEnvironmentVariableW(L"KESTRANE_TEST_VERBOSE", nullptr, 0) > 0;
    static const DWORD start = GetTickCount();
    if (!ok) std::printf("FAIL: %s\n", what.c_str());
    else if (verbose) std::printf("[%5.1f s] ok: %s\n", (GetTickCount() - start) / 1000.0, what.c_str());
    std::fflush(stdout);
}

std::string Path(const std::string& name) { return Utf8(workDir) + "\\" + name; }

std::string Slurp(const std::string& path) {
    std::ifstream in(std::filesystem::path(Wide(path)), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool Exists(const std::string& path) { return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// Runs kestrane-cli.exe and returns what it printed.
std::string Cli(const std::string& args) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE rd, wr;
    CreatePipe(&rd, &wr, &sa, 0);
    SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = wr;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring cmd = L"\"" + cliExe + L"\" " + Wide(args);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
        CloseHandle(rd);
        CloseHandle(wr);
        return {};
    }
    CloseHandle(wr);
    std::string out;
    char buf[65536];
    DWORD got;
    while (ReadFile(rd, buf, sizeof buf, &got, nullptr) && got) out.append(buf, got);
    CloseHandle(rd);
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return out;
}

struct Listing {
    std::vector<std::string> captions;
    Rows rows;
};

Listing CliListing(const std::string& snapshot, const std::string& what) {
    Listing l;
    std::istringstream in(Cli("--snapshot " + Quote(snapshot) + " --json " + what));
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        auto j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_discarded()) continue;
        if (j.contains("columns")) {
            for (auto& c : j["columns"]) l.captions.push_back(c.get<std::string>());
            continue;
        }
        std::vector<std::string> cells{j["text"].get<std::string>()};
        for (auto& s : j["sub"]) cells.push_back(s.get<std::string>());
        l.rows.push_back(std::move(cells));
    }
    return l;
}

// The window under test.
struct App {
    PROCESS_INFORMATION pi{};
    HWND main = nullptr, tree = nullptr, list = nullptr, status = nullptr, progress = nullptr;
    std::unique_ptr<RemoteProcess> rp;
    DWORD pid() const { return pi.dwProcessId; }
};

// The message box of the window, if one is showing.
HWND MessageBoxOf(const App& app) {
    auto boxes = TopWindows(app.pid(), L"#32770", L"Kestrane");
    return boxes.empty() ? nullptr : boxes.front();
}

HWND WaitDialog(const App& app, const wchar_t* title, DWORD ms = 20000) {
    for (DWORD t = 0; t < ms; t += 50) {
        auto d = TopWindows(app.pid(), L"#32770", title);
        if (!d.empty()) return d.front();
        Sleep(50);
    }
    return nullptr;
}

// Waits until the window has finished what it was asked; returns the
// message box it shows instead, if any.
HWND WaitIdle(const App& app, DWORD ms = 60000) {
    for (DWORD t = 0; t < ms; t += 20) {
        if (HWND box = MessageBoxOf(app)) return box;
        DWORD_PTR r;
        SendMessageTimeoutW(app.main, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &r);
        if (IsWindowEnabled(app.tree) && !IsWindowVisible(app.progress) && !MessageBoxOf(app)) return nullptr;
        Sleep(20);
    }
    return nullptr;
}

// Reads a message box's text and closes it.
std::string Dismiss(HWND box) {
    std::string text = DialogText(box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 200 && IsWindow(box); ++i) Sleep(20);
    return text;
}

bool Launch(App& app, const std::string& args) {
    std::wstring cmd = L"\"" + kestraneExe + L"\" " + Wide(args);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &app.pi)) return false;
    for (int i = 0; i < 1500; ++i) {
        auto w = TopWindows(app.pid(), L"KestraneMain");
        if (!w.empty()) {
            app.main = w.front();
            app.tree = GetDlgItem(app.main, IDC_TREE);
            app.list = GetDlgItem(app.main, IDC_LIST);
            app.status = GetDlgItem(app.main, IDC_STATUS);
            app.progress = GetDlgItem(app.main, IDC_PROGRESS_AREA);
            app.rp = std::make_unique<RemoteProcess>(app.pid());
            return app.tree && app.list && app.rp->ok();
        }
        Sleep(20);
    }
    return false;
}

DWORD Close(App& app) {
    PostMessageW(app.main, WM_CLOSE, 0, 0);
    WaitForSingleObject(app.pi.hProcess, 30000);
    DWORD code = 259;
    GetExitCodeProcess(app.pi.hProcess, &code);
    if (code == STILL_ACTIVE) TerminateProcess(app.pi.hProcess, 1);
    CloseHandle(app.pi.hProcess);
    CloseHandle(app.pi.hThread);
    app.rp.reset();
    return code;
}

// A command that finishes without a dialog; sent, so it is done on return
// (a posted one could come after messages sent later).
void Command(const App& app, int id) {
    DWORD_PTR r;
    SendMessageTimeoutW(app.main, WM_COMMAND, static_cast<WPARAM>(id), 0, SMTO_NORMAL, 120000, &r);
}

// A command that opens a dialog: posted, as the dialog holds it until closed.
void Open(const App& app, int id) { PostMessageW(app.main, WM_COMMAND, static_cast<WPARAM>(id), 0); }

// Cell for cell; the first difference is reported.
void CompareRows(const Rows& window, const Rows& expected, const std::string& what) {
    bool same = window.size() == expected.size();
    std::string diff = same ? "" : " (" + std::to_string(window.size()) + " rows, expected " +
                                       std::to_string(expected.size()) + ")";
    for (std::size_t r = 0; same && r < window.size(); ++r)
        for (std::size_t c = 0; c < window[r].size(); ++c) {
            const std::string want = c < expected[r].size() ? expected[r][c] : "";
            if (window[r][c] != want) {
                same = false;
                diff = " (row " + std::to_string(r) + " column " + std::to_string(c) + ": \"" + window[r][c] +
                       "\", expected \"" + want + "\")";
                break;
            }
        }
    Check(same, what + diff);
}

std::vector<nlohmann::json> CliTree() {
    std::vector<nlohmann::json> out;
    std::istringstream in(Cli("--json tree --level 1"));
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(nlohmann::json::parse(line, nullptr, false));
    return out;
}

std::string Trimmed(std::string s) {
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

bool Recorded(const std::vector<std::string>& classes, const std::string& key) {
    return std::find(classes.begin(), classes.end(), Trimmed(key)) != classes.end();
}

bool IsClassKey(const std::string& k) { return k.rfind("Win32_", 0) == 0 || k.rfind("CIM_", 0) == 0; }

void Select(App& app, HTREEITEM item) { SendNotifyMessageW(app.tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)); }

}  // namespace

namespace {

struct Fixture {
    std::string rich, big, malformed;
    int added = 0;  // classes the rich snapshot has beyond the sample
    std::vector<std::string> richClasses;  // class keys the rich snapshot records
};

// Values chosen so that every sort kind and escaping case shows: sizes whose
// text order differs from their numeric order, markup, non-ASCII text.
nlohmann::json SyntheticClass() {
    nlohmann::json c;
    c["properties"] = nlohmann::json::array({
        {{"name", "Availability"}, {"cimtype", 18}, {"array", false}, {"origin", "CIM_LogicalDevice"}},
        {{"name", "Caption"}, {"cimtype", 8}, {"array", false}, {"origin", "CIM_ManagedSystemElement"}},
        {{"name", "InstallDate"}, {"cimtype", 101}, {"array", false}, {"origin", "CIM_ManagedSystemElement"}},
        {{"name", "Name"}, {"cimtype", 8}, {"array", false}, {"origin", "CIM_ManagedSystemElement"}},
        {{"name", "Size"}, {"cimtype", 21}, {"array", false}, {"origin", "CIM_LogicalDevice"}},
        {{"name", "Status"}, {"cimtype", 8}, {"array", false}, {"origin", "CIM_ManagedSystemElement"}},
    });
    c["instances"] = nlohmann::json::array({
        {{"Availability", 3}, {"Caption", "needle one <b>&amp;"}, {"InstallDate", "20250101120000.000000+000"},
         {"Name", "Alpha"}, {"Size", "900"}, {"Status", "OK"}},
        {{"Availability", 4}, {"Caption", "Überhitzung ✓"}, {"Name", "Bravo"}, {"Size", "10000"},
         {"Status", nullptr}},
        {{"Caption", "needle two"}, {"InstallDate", "20240615083000.000000+060"}, {"Name", "Charlie"},
         {"Size", "25"}, {"Status", "Degraded"}},
    });
    return c;
}

Fixture MakeFixtures(const std::string& sample, const std::vector<nlohmann::json>& tree) {
    Fixture f;
    nlohmann::json snap = nlohmann::json::parse(Slurp(sample));
    snap["computer"] = "WINTEST";
    int added = 0;
    for (const auto& n : tree) {
        // Some keys carry a trailing blank; the class is recorded without it.
        const std::string key = Trimmed(n["key"].get<std::string>());
        if (!IsClassKey(key) || key == "Win32_Process") continue;
        if (!snap["classes"].contains(key) && added < 16) {
            snap["classes"][key] = SyntheticClass();
            ++added;
        }
    }
    f.added = added;
    for (auto& [k, v] : snap["classes"].items()) f.richClasses.push_back(k);
    f.rich = Path("rich.json");
    std::ofstream(std::filesystem::path(Wide(f.rich)), std::ios::binary) << snap.dump();

    // A long class: 100 000 processes.
    f.big = Path("big.json");
    std::ofstream big(std::filesystem::path(Wide(f.big)), std::ios::binary);
    big << R"({"format":"kestrane-snapshot","version":1,"computer":"BIGBOX","captured":"20261206101500.000000+000",)"
        << R"("classes":{"Win32_Process":{"properties":[)"
        << R"({"name":"Caption","cimtype":8,"array":false,"origin":"CIM_ManagedSystemElement"},)"
        << R"({"name":"Name","cimtype":8,"array":false,"origin":"CIM_ManagedSystemElement"},)"
        << R"({"name":"ProcessId","cimtype":19,"array":false,"origin":"Win32_Process"},)"
        << R"({"name":"WorkingSetSize","cimtype":21,"array":false,"origin":"CIM_Process"}],"instances":[)";
    for (int i = 0; i < 100000; ++i)
        big << (i ? "," : "") << R"({"Caption":"proc)" << i << R"(.exe","Name":"proc)" << i
            << R"(.exe","ProcessId":)" << i << R"(,"WorkingSetSize":")" << (i * 4096L) << R"("})";
    big << "]}}}";
    big.close();

    f.malformed = Path("malformed.json");
    std::ofstream(std::filesystem::path(Wide(f.malformed)), std::ios::binary) << R"({"format":"kestrane-snapshot","version":1,"classes":{)";
    return f;
}

void ConnectTo(App& app, const std::string& computer, const std::string& user = "", const std::string& password = "") {
    Open(app, IDM_CONNECT);
    HWND dlg = WaitDialog(app, L"Connect To Remote Computer");
    Check(dlg != nullptr, "Connect To opens its dialog");
    if (!dlg) return;
    SetWindowTextW(GetDlgItem(dlg, IDC_COMPUTER), Wide(computer).c_str());
    SetWindowTextW(GetDlgItem(dlg, IDC_USER), Wide(user).c_str());
    SetWindowTextW(GetDlgItem(dlg, IDC_PASSWORD), Wide(password).c_str());
    PostMessageW(dlg, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 250 && IsWindow(dlg); ++i) Sleep(20);
}

// Types a file name into a file dialog and presses its OK (or Cancel).
bool AnswerFileDialog(App& app, const wchar_t* title, const std::string& file, bool ok = true) {
    HWND dlg = WaitDialog(app, title);
    if (!dlg) return false;
    HWND name = GetDlgItem(dlg, 0x47c);  // cmb13
    if (!name) name = GetDlgItem(dlg, 0x480);  // edt1
    if (name) SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Wide(file).c_str()));
    PostMessageW(dlg, WM_COMMAND, ok ? IDOK : IDCANCEL, 0);
    for (int i = 0; i < 250 && IsWindow(dlg); ++i) Sleep(20);
    return name != nullptr;
}

std::string Clipboard(UINT format, bool wide) {
    std::string out;
    for (int i = 0; i < 50 && !OpenClipboard(nullptr); ++i) Sleep(20);
    if (HANDLE h = GetClipboardData(format)) {
        const void* p = GlobalLock(h);
        out = wide ? Utf8(static_cast<const wchar_t*>(p)) : std::string(static_cast<const char*>(p));
        GlobalUnlock(h);
    }
    CloseClipboard();
    return out;
}

std::size_t HeaderOffset(const std::string& cf, const std::string& name) {
    std::size_t p = cf.find(name + ":");
    return p == std::string::npos ? std::string::npos : std::stoul(cf.substr(p + name.size() + 1, 10));
}

// The tree's items beside the command-line tool's keys, in tree order.
struct Node {
    HTREEITEM item;
    std::string key, text;
};

std::vector<Node> Nodes(App& app, const std::vector<nlohmann::json>& cliTree) {
    auto items = app.rp->treeItems(app.tree);
    Check(items.size() == cliTree.size(), "the tree has the command-line tool's " + std::to_string(cliTree.size()) +
                                              " nodes (has " + std::to_string(items.size()) + ")");
    std::vector<Node> out;
    for (std::size_t i = 0; i < items.size() && i < cliTree.size(); ++i)
        out.push_back({items[i].item, cliTree[i]["key"].get<std::string>(), items[i].text});
    return out;
}

const Node* Find(const std::vector<Node>& nodes, const std::string& key) {
    for (const auto& n : nodes)
        if (n.key == key) return &n;
    return nullptr;
}

void CheckListing(App& app, const Fixture& f, const Node& n, bool horizontal) {
    const bool isClass = IsClassKey(n.key);
    Listing want = n.key == "[Root...]" ? CliListing(f.rich, "summary")
                                       : CliListing(f.rich, "list " + Quote(n.key) + (horizontal ? " --horizontal" : ""));
    CompareRows(app.rp->listRows(app.list), want.rows,
                n.key + (horizontal ? " (horizontal)" : " (vertical)") + " lists as kestrane-cli does");
    if (isClass && horizontal)
        Check(app.rp->headerCaptions(app.list) == want.captions, n.key + ": the columns are the properties");
}

void ListingChecks(App& app, const Fixture& f, const std::vector<Node>& nodes, bool quick) {
    int compared = 0;
    for (bool horizontal : {false, true}) {
        Command(app, horizontal ? IDM_HORIZONTAL : IDM_VERTICAL);
        for (const auto& n : nodes) {
            const bool recorded = Recorded(f.richClasses, n.key);
            if (!(n.key == "[Root...]" || (IsClassKey(n.key) && recorded))) continue;
            Select(app, n.item);
            if (HWND box = WaitIdle(app)) Check(false, n.key + ": " + Dismiss(box));
            CheckListing(app, f, n, horizontal);
            if (!horizontal) ++compared;
            if (quick && compared >= 4) break;
        }
    }
    if (!quick) Check(compared >= 21, "the root and at least 20 classes were compared (" + std::to_string(compared) + ")");
}

const Node* SyntheticNode(const std::vector<Node>& nodes, const std::string& sample) {
    auto snap = nlohmann::json::parse(Slurp(sample));
    for (const auto& n : nodes)
        if (IsClassKey(n.key) && !snap["classes"].contains(Trimmed(n.key)) && n.key != "Win32_Process") return &n;
    return nullptr;
}

void SortFindCopy(App& app, const Node& n) {
    Command(app, IDM_HORIZONTAL);
    Select(app, n.item);
    WaitIdle(app);
    auto caps = app.rp->headerCaptions(app.list);
    int size = -1, name = -1;
    for (int i = 0; i < static_cast<int>(caps.size()); ++i) {
        if (caps[i] == "Size") size = i;
        if (caps[i] == "Name") name = i;
    }
    Check(size >= 0 && name >= 0, "the horizontal view has Size and Name columns");
    // Copy: every column with the captions first, as text and as HTML.
    app.rp->selectRows(app.list, {0, 1, 2});
    SendMessageW(app.main, WM_COMMAND, IDM_COPY, 0);
    Rows rows = app.rp->listRows(app.list);
    std::string expected;
    for (std::size_t c = 0; c < caps.size(); ++c) expected += (c ? "\t" : "") + caps[c];
    expected += "\r\n";
    for (const auto& r : rows) {
        for (std::size_t c = 0; c < r.size(); ++c) expected += (c ? "\t" : "") + r[c];
        expected += "\r\n";
    }
    Check(Clipboard(CF_UNICODETEXT, true) == expected, "Copy puts the rows on the clipboard as tab-separated text");
    const std::string cf = Clipboard(RegisterClipboardFormatW(L"HTML Format"), false);
    const std::size_t sh = HeaderOffset(cf, "StartHTML"), eh = HeaderOffset(cf, "EndHTML"),
                      sf = HeaderOffset(cf, "StartFragment"), ef = HeaderOffset(cf, "EndFragment");
    const bool offsets = sh < cf.size() && eh == cf.size() && sf < ef && ef <= cf.size();
    Check(offsets && cf.compare(sh, 6, "<html>") == 0 && cf.compare(sf, 7, "<table>") == 0 &&
              cf.compare(ef - 9, 9, "</table>\n") == 0,
          "the HTML Format header's offsets frame the document and the table");
    Check(offsets && cf.find("needle one &lt;b&gt;&amp;amp;") != std::string::npos &&
              cf.find("Überhitzung ✓") != std::string::npos,
          "the HTML copy escapes markup and keeps non-ASCII text");

    // A header click sorts by that column's kind (sizes as numbers), shows
    // the direction on the header and goes the other way on a second click.
    auto names = [&] {
        std::vector<std::string> out;
        for (const auto& r : app.rp->listRows(app.list)) out.push_back(r[name]);
        return out;
    };
    const std::vector<std::string> bySize = {"Charlie", "Alpha", "Bravo"};
    app.rp->clickHeader(app.list, size);
    Check(names() == bySize && app.rp->headerArrow(app.list, size) == 1 && app.rp->headerArrow(app.list, name) == 0,
          "a click on the Size header sorts by size, smallest first, with the arrow up on that column");
    app.rp->clickHeader(app.list, size);
    Check(names() == std::vector<std::string>(bySize.rbegin(), bySize.rend()) &&
              app.rp->headerArrow(app.list, size) == -1,
          "a second click sorts the other way, with the arrow down");
    SendMessageW(app.main, WM_COMMAND, IDM_REFRESH, 0);
    WaitIdle(app);
    Check(names() == std::vector<std::string>{"Alpha", "Bravo", "Charlie"} && app.rp->headerArrow(app.list, size) == 0,
          "a new listing comes in the computer's order, without an arrow");

    // Find, F3 and Shift+F3 over the vertical listing.
    Command(app, IDM_VERTICAL);
    SendMessageW(app.main, WM_COMMAND, IDM_REFRESH, 0);
    WaitIdle(app);
    Open(app, IDM_FIND);
    HWND dlg = WaitDialog(app, L"Find");
    Check(dlg != nullptr, "Ctrl+F opens Find");
    if (!dlg) return;
    SetWindowTextW(GetDlgItem(dlg, IDC_FIND_TEXT), L"NEEDLE");
    PostMessageW(dlg, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 250 && IsWindow(dlg); ++i) Sleep(20);
    WaitIdle(app);
    auto sel = app.rp->selectedRows(app.list);
    const int first = sel.empty() ? -1 : sel[0];
    Check(first >= 0 && app.rp->listCell(app.list, first, 1) == "needle one <b>&amp;", "Find selects the first row holding the text, any case");
    SendMessageW(app.main, WM_COMMAND, IDM_FIND_NEXT, 0);
    sel = app.rp->selectedRows(app.list);
    const int second = sel.empty() ? -1 : sel[0];
    Check(second > first && app.rp->listCell(app.list, second, 1) == "needle two", "F3 goes on to the next row holding it");
    SendMessageW(app.main, WM_COMMAND, IDM_FIND_PREVIOUS, 0);
    sel = app.rp->selectedRows(app.list);
    Check(!sel.empty() && sel[0] == first, "Shift+F3 goes back");
}

void FileChecks(App& app, const Node& n) {
    Select(app, n.item);
    WaitIdle(app);
    // Export appends.
    const std::string html = Path("export.html");
    for (int round = 0; round < 2; ++round) {
        Open(app, IDM_EXPORT);
        Check(AnswerFileDialog(app, L"Kestrane - Export (appended to an existing file)", html), "Export asks for a file");
        if (HWND box = WaitIdle(app)) Check(false, "Export: " + Dismiss(box));
    }
    const std::string exported = Slurp(html);
    const std::size_t once = exported.find("needle one &lt;b&gt;&amp;amp;");
    Check(once != std::string::npos && exported.find("needle one &lt;b&gt;&amp;amp;", once + 1) != std::string::npos,
          "Export writes the listing, escaped, and a second export appends");
    // An unwritable place: a clear message, nothing written.
    Open(app, IDM_EXPORT);
    AnswerFileDialog(app, L"Kestrane - Export (appended to an existing file)", "Z:\\proc\\kestrane-export.html");
    HWND box = WaitIdle(app);
    std::string text = box ? Dismiss(box) : "";
    Check(text.find("kestrane-export.html") != std::string::npos, "an unwritable export path is named in a message (" + text + ")");

    // Save Snapshot: the file appears whole, nothing else is left.
    const std::string saved = Path("saved.json");
    Open(app, IDM_SAVE_SNAPSHOT);
    Check(AnswerFileDialog(app, L"Kestrane - Save Snapshot", saved), "Save Snapshot asks for a file");
    if (HWND b = WaitIdle(app)) Check(false, "Save Snapshot: " + Dismiss(b));
    auto j = nlohmann::json::parse(Slurp(saved), nullptr, false);
    Check(!j.is_discarded() && j.value("format", "") == "kestrane-snapshot" && j["classes"].size() >= 10,
          "Save Snapshot writes a snapshot of the computer");
    WIN32_FIND_DATAW fd;
    int strays = 0;
    HANDLE h = FindFirstFileW((workDir + L"\\saved*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do ++strays; while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    Check(strays == 1, "no temporary file is left beside the snapshot");
    Open(app, IDM_SAVE_SNAPSHOT);
    AnswerFileDialog(app, L"Kestrane - Save Snapshot", Path("cancelled.json"), false);
    WaitIdle(app);
    Check(!Exists(Path("cancelled.json")), "a cancelled Save Snapshot writes nothing");
}

// Compare With the sample the rich snapshot was made from: the classes it
// adds are the differences, each instance of them added.
void CompareChecks(App& app, const Fixture& f) {
    Open(app, IDM_COMPARE_WITH);
    Check(AnswerFileDialog(app, L"Kestrane - Compare With", Path("sample.json")), "Compare With asks for a snapshot");
    if (HWND box = WaitIdle(app)) Check(false, "Compare With: " + Dismiss(box));
    const std::string count = std::to_string(3 * f.added) + " instances differ";
    Check(app.rp->statusText(app.status, 5) == count,
          "Compare With counts what differs (" + app.rp->statusText(app.status, 5) + ", expected " + count + ")");
    Check(app.rp->statusText(app.status, 0).rfind("Differences between the snapshot ", 0) == 0,
          "the status bar says what is compared (" + app.rp->statusText(app.status, 0) + ")");
    int added = 0;
    for (const auto& r : app.rp->listRows(app.list)) added += Trimmed(r[0]) == "Added";
    Check(added == 3 * f.added, "the list shows each added instance (" + std::to_string(added) + ")");

    Open(app, IDM_COMPARE_WITH);
    AnswerFileDialog(app, L"Kestrane - Compare With", f.malformed);
    HWND box = WaitIdle(app);
    const std::string text = box ? Dismiss(box) : "";
    Check(text.find("malformed.json") != std::string::npos && app.rp->statusText(app.status, 5) == count,
          "a snapshot that cannot be read is named in a message and the differences stay (" + text + ")");
}

void ConnectChecks(App& app, const Fixture& f, const std::vector<Node>& nodes) {
    const HTREEITEM root = nodes.front().item;
    struct Bad {
        std::string computer, says;
    };
    const Bad bad[] = {
        {Path("missing.json"), "missing.json"},
        {f.malformed, "malformed.json"},
        {"ssh://admin@server", "SSH"},
        {"https://server:5986/wsman", "WS-Management"},
    };
    for (const auto& b : bad) {
        ConnectTo(app, b.computer);
        HWND box = WaitIdle(app);
        std::string text = box ? Dismiss(box) : "";
        Check(text.find(b.says) != std::string::npos, "Connect To " + b.computer + " says why (" + text + ")");
        Check(app.rp->treeText(app.tree, root) == "WINTEST", "after " + b.computer + " the window still shows its computer");
    }
    // Another computer with a login: the password goes to Credential Manager only.
    ConnectTo(app, "127.0.0.2", "tester", "s3cret-pw");
    WaitIdle(app);
    Select(app, nodes[1].item);
    WaitIdle(app);
    Select(app, root);
    HWND box = WaitIdle(app);
    std::string text = box ? Dismiss(box) : "";
    Check(!text.empty(), "an unreachable computer gives a message (" + text + ")");
    Check(WaitIdle(app) == nullptr && IsWindowEnabled(app.tree), "the window is usable after it");
    PCREDENTIALW cred = nullptr;
    std::string stored;
    if (CredReadW(L"Kestrane:Login/Password", CRED_TYPE_GENERIC, 0, &cred)) {
        stored = Utf8(std::wstring(reinterpret_cast<wchar_t*>(cred->CredentialBlob), cred->CredentialBlobSize / 2));
        CredFree(cred);
    }
    Check(stored == "s3cret-pw", "the password is in Credential Manager");
    PWSTR appData = nullptr;
    SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &appData);
    const std::string ini = Slurp(Utf8(appData) + "\\Kestrane\\kestrane.ini");
    CoTaskMemFree(appData);
    Check(ini.find("tester") != std::string::npos && ini.find("s3cret-pw") == std::string::npos,
          "the settings file has the user name and never the password");

    // A snapshot path, then a long listing cancelled.
    ConnectTo(app, f.big);
    WaitIdle(app, 120000);
    Check(app.rp->treeText(app.tree, root) == "BIGBOX", "Connect To a snapshot path browses that computer");
    const Node* proc = Find(nodes, "Win32_Process");
    Check(proc != nullptr, "the tree has Win32_Process");
    if (!proc) return;
    Command(app, IDM_HORIZONTAL);
    Select(app, proc->item);
    for (int i = 0; i < 500 && !IsWindowVisible(app.progress); ++i) Sleep(10);
    Sleep(100);
    PostMessageW(app.main, WM_COMMAND, IDC_CANCEL, 0);
    WaitIdle(app);
    const int listed = app.rp->listCount(app.list);
    const std::string note = app.rp->statusText(app.status, 5);
    Check(listed > 0 && listed < 100000 && note.rfind("Incomplete (cancelled)", 0) == 0,
          "Cancel stops a long listing and says so (" + std::to_string(listed) + ", " + note + ")");
    ConnectTo(app, f.rich);
    WaitIdle(app);
}

void DpiChecks(App& app, int dpi) {
    const int height = static_cast<int>(SendMessageW(app.tree, TVM_GETITEMHEIGHT, 0, 0));
    Check(height >= dpi / 6 && height < dpi / 3,
          "tree rows are sized for " + std::to_string(dpi) + " DPI (" + std::to_string(height) + " px)");
    const LRESULT button = SendMessageW(GetDlgItem(app.main, IDC_TOOLBAR), TB_GETBUTTONSIZE, 0, 0);
    Check(HIWORD(button) >= dpi / 6, "tool bar buttons are sized for the DPI (" + std::to_string(HIWORD(button)) + " px)");
}

void StartupChecks(const Fixture& f) {
    // Bad snapshots on the command line: a message, then the window as usual.
    for (const std::string& file : {Path("missing.json"), f.malformed}) {
        App app;
        Check(Launch(app, Quote(file)), "kestrane.exe starts with " + file);
        HWND box = WaitIdle(app);
        std::string text = box ? Dismiss(box) : "";
        Check(text.find(file.substr(file.find_last_of('\\') + 1)) != std::string::npos,
              "a bad snapshot on the command line is named in a message (" + text + ")");
        WaitIdle(app);
        Check(IsWindowEnabled(app.tree) && app.rp->listCount(app.list) > 0, "the window then shows this computer");
        Check(Close(app) == 0, "the window closes cleanly");
    }
    // Settings out of range: safe values, the window as usual.
    PWSTR appData = nullptr;
    SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &appData);
    const std::wstring dir = std::wstring(appData) + L"\\Kestrane";
    CoTaskMemFree(appData);
    CreateDirectoryW(dir.c_str(), nullptr);
    std::ofstream(std::filesystem::path(dir + L"\\kestrane.ini"), std::ios::binary)
        << "[Console]\r\nState=7\r\nWidth=-5\r\nHeight=99999999999\r\n[LeftPane]\r\nWidth=abc\r\n"
           "[RightPane]\r\nWidth=1e39\r\nDataWidth=-1e39\r\n[View]\r\nLevel=300\r\n"
           "[Login]\r\nPassword=old-secret\r\n";
    App app;
    Check(Launch(app, Quote(f.rich)), "kestrane.exe starts with settings out of range");
    if (HWND box = WaitIdle(app)) Check(false, "settings out of range: " + Dismiss(box));
    RECT rc;
    GetWindowRect(app.main, &rc);
    Check(rc.right - rc.left > 100 && rc.bottom - rc.top > 100 && app.rp->listCount(app.list) > 0,
          "settings out of range leave a usable window");
    Check(Close(app) == 0, "the window closes cleanly");
    // A password an older version left in the settings moves to Credential Manager.
    const std::string ini = Slurp(Utf8(dir) + "\\kestrane.ini");
    PCREDENTIALW cred = nullptr;
    std::string stored;
    if (CredReadW(L"Kestrane:Login/Password", CRED_TYPE_GENERIC, 0, &cred)) {
        stored = Utf8(std::wstring(reinterpret_cast<wchar_t*>(cred->CredentialBlob), cred->CredentialBlobSize / 2));
        CredFree(cred);
    }
    Check(!ini.empty() && ini.find("old-secret") == std::string::npos && stored == "old-secret",
          "a password found in the settings moves to Credential Manager and leaves the file");
}

// Figures for docs/performance.md: start to the summary shown beside the
// command-line tool's summary, and 100 000 instances listed while the window
// keeps answering.
bool Busy(const App& app) { return !IsWindowEnabled(app.tree) || IsWindowVisible(app.progress); }

// How long the window takes to answer a message sent now, in ms.
DWORD Answer(const App& app) {
    const DWORD s = GetTickCount();
    DWORD_PTR r;
    SendMessageTimeoutW(app.main, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &r);
    return GetTickCount() - s;
}

void BenchLongListing(App& app, const Fixture& f, const std::vector<nlohmann::json>& cliTree) {
    ConnectTo(app, f.big);
    WaitIdle(app, 120000);
    const auto nodes = Nodes(app, cliTree);
    const std::string root = nodes.empty() ? "" : app.rp->treeText(app.tree, nodes.front().item);
    const Node* proc = Find(nodes, "Win32_Process");
    if (root != "BIGBOX" || !proc) {
        std::printf("100 000 instances: Connect To the snapshot shows \"%s\", not BIGBOX; no figures\n", root.c_str());
        return;
    }
    for (bool horizontal : {false, true}) {
        Command(app, horizontal ? IDM_HORIZONTAL : IDM_VERTICAL);
        Select(app, nodes.front().item);
        WaitIdle(app);
        const DWORD t = GetTickCount();
        Select(app, proc->item);
        // The selection is a sent message, so the first answer comes after
        // it: from then on the window is busy until the listing is done.
        // A listing far slower than the goal is cut off and said so, so
        // that the bench ends.
        constexpr DWORD kCutOffMs = 60000;
        DWORD worst = 0;
        do {
            worst = std::max(worst, Answer(app));
            Sleep(10);
        } while (Busy(app) && GetTickCount() - t < kCutOffMs);
        const double took = (GetTickCount() - t) / 1000.0;
        const char* orientation = horizontal ? "horizontal" : "vertical";
        if (Busy(app)) {
            const std::string listed = WindowText(GetDlgItem(app.progress, IDC_LISTED_COUNT));
            std::printf("100 000 instances, %s: not done after %.0f s (\"%s\", %d rows), "
                        "longest wait for an answer %lu ms\n",
                        orientation, took, listed.c_str(), app.rp->listCount(app.list), worst);
            PostMessageW(app.main, WM_COMMAND, IDC_CANCEL, 0);
            WaitIdle(app, 120000);
            continue;
        }
        const std::string first = app.rp->listCell(app.list, 0, 0), note = app.rp->statusText(app.status, 5);
        std::printf("100 000 instances, %s: %d rows in %.2f s, longest wait for an answer %lu ms "
                    "(first row \"%s\", status \"%s\")\n",
                    orientation, app.rp->listCount(app.list), took, worst, first.c_str(), note.c_str());
    }
}

void Bench(const Fixture& f, const std::vector<nlohmann::json>& cliTree) {
    auto seconds = [](DWORD from) { return (GetTickCount() - from) / 1000.0; };
    // A console process of ours that does nothing but start: what Wine's
    // process start costs before any window.
    for (int round = 0; round < 3; ++round) {
        DWORD t = GetTickCount();
        Cli("--version");
        const double bare = seconds(t);
        t = GetTickCount();
        Cli("--snapshot " + Quote(f.rich) + " summary");
        const double cli = seconds(t);
        App app;
        t = GetTickCount();
        if (!Launch(app, Quote(f.rich))) {
            std::printf("kestrane.exe did not start\n");
            return;
        }
        const double shown = seconds(t);
        while (app.rp->listCount(app.list) == 0 || WaitIdle(app) != nullptr) Sleep(5);
        const double window = seconds(t);
        // The yardstick beside kestrane.exe (bench/window/minimal_win32.cpp),
        // timed alike, when the bench script has built it.
        const std::wstring exe = kestraneExe;
        kestraneExe = exe.substr(0, exe.find_last_of(L'\\') + 1) + L"bench_minimal_win32.exe";
        std::string minimal;
        if (App yard; GetFileAttributesW(kestraneExe.c_str()) != INVALID_FILE_ATTRIBUTES) {
            t = GetTickCount();
            if (Launch(yard, "")) {
                const double yardShown = seconds(t);
                while (yard.rp->listCount(yard.list) == 0 || WaitIdle(yard) != nullptr) Sleep(5);
                char text[96];
                std::snprintf(text, sizeof text, ", minimal Win32 window %.2f s (shown at %.2f s)", seconds(t), yardShown);
                minimal = text;
                Close(yard);
            }
        }
        kestraneExe = exe;
        std::printf("summary: kestrane.exe %.2f s (window shown at %.2f s)%s, kestrane-cli.exe %.2f s "
                    "(kestrane-cli.exe --version %.2f s)\n",
                    window, shown, minimal.c_str(), cli, bare);
        if (round == 2) BenchLongListing(app, f, cliTree);
        Close(app);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: kestrane_window_test KESTRANE_EXE CLI_EXE WORKDIR DPI [--quick | --only=GROUP]\n");
        return 2;
    }
    kestraneExe = argv[1];
    cliExe = argv[2];
    workDir = argv[3];
    const int dpi = _wtoi(argv[4]);
    // --quick: start, the root and a few classes; --only=startup|listings|
    // edit|files|compare|connect: start and that group alone.
    const std::wstring option = argc > 5 ? argv[5] : L"";
    const bool quick = option == L"--quick";
    const std::wstring only = option.rfind(L"--only=", 0) == 0 ? option.substr(7) : L"";
    auto run = [&](const wchar_t* group) { return !quick && (only.empty() || only == group); };
    const std::string sample = Path("sample.json");
    const auto cliTree = CliTree();
    Check(cliTree.size() > 50, "kestrane-cli.exe prints the tree");
    Fixture f = MakeFixtures(sample, cliTree);

    if (option == L"--bench") {
        Bench(f, cliTree);
        return 0;
    }
    if (run(L"startup")) StartupChecks(f);
    App app;
    Check(Launch(app, Quote(f.rich)), "kestrane.exe starts on a snapshot");
    if (HWND box = WaitIdle(app)) Check(false, "start: " + Dismiss(box));
    auto nodes = Nodes(app, cliTree);
    Check(!nodes.empty() && app.rp->treeText(app.tree, nodes.front().item) == "WINTEST",
          "the root is named after the snapshot's computer");
    Check(app.rp->statusText(app.status, 6).rfind("Snapshot of WINTEST, captured ", 0) == 0,
          "the status bar names the snapshot");
    DpiChecks(app, dpi);
    if (quick || run(L"listings")) ListingChecks(app, f, nodes, quick);
    if (run(L"listings")) {
        // A category lists its children as large icons.
        for (const auto& n : nodes) {
            if (IsClassKey(n.key) || n.key == "[Root...]") continue;
            Select(app, n.item);
            WaitIdle(app);
            const LONG style = GetWindowLongW(app.list, GWL_STYLE);
            Check((style & LVS_TYPEMASK) == LVS_ICON && app.rp->listCount(app.list) > 0,
                  n.text + " lists its children as large icons");
            break;
        }
        // A class the computer lacks.
        for (const auto& n : nodes) {
            if (!IsClassKey(n.key) || Recorded(f.richClasses, n.key))
                continue;
            Select(app, n.item);
            HWND box = WaitIdle(app);
            std::string text = box ? Dismiss(box) : "";
            Check(text == "This feature is NOT supported by the computer...!", n.key + " (not recorded) says so (" + text + ")");
            break;
        }
    }
    if (const Node* n = SyntheticNode(nodes, sample)) {
        if (run(L"edit")) SortFindCopy(app, *n);
        if (run(L"files")) FileChecks(app, *n);
    }
    if (run(L"compare")) CompareChecks(app, f);
    if (run(L"connect")) ConnectChecks(app, f, nodes);
    Check(Close(app) == 0, "the window closes cleanly");
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
