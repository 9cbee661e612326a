#include "win32/icons.h"

#include <shellapi.h>

#include <functional>
#include <set>

#include "catalogue/catalogue.h"
#include "core/platform.h"

namespace kestrane::win32 {

namespace {

// Windows' own pictures for the keys that have one.
struct StockIcon {
    const char* key;
    SHSTOCKICONID id;
};
constexpr StockIcon kStock[] = {
    {"HDD", SIID_DRIVEFIXED},        {"CDDrive", SIID_DRIVECD},       {"FloppyDrive", SIID_DRIVE35},
    {"Printer", SIID_PRINTER},       {"Group", SIID_FOLDER},          {"OpenGroup", SIID_FOLDEROPEN},
    {"NoInfo", SIID_WARNING},        {"Info1", SIID_INFO},            {"Info2", SIID_INFO},
    {"USB", SIID_DRIVEREMOVE},       {"Security", SIID_SHIELD},       {"Users", SIID_USERS},
    {"Share", SIID_SHARE},           {"Network", SIID_WORLD},         {"Font", SIID_DOCASSOC},
};

HICON StockIconFor(const std::string& key, bool large) {
    for (const auto& s : kStock) {
        if (key != s.key) continue;
        SHSTOCKICONINFO info{};
        info.cbSize = sizeof info;
        if (SUCCEEDED(SHGetStockIconInfo(s.id, SHGSI_ICON | (large ? SHGSI_LARGEICON : SHGSI_SMALLICON), &info)))
            return info.hIcon;
    }
    return nullptr;
}

// A drawn picture: a rounded tile in a colour of the key's own, with the
// key's first letters, so every key has a distinct, readable icon.
void DrawTile(HDC dc, int size, const std::string& key) {
    const std::size_t h = std::hash<std::string>{}(key);
    const COLORREF colour = RGB(40 + (h & 0x7f), 60 + ((h >> 8) & 0x7f), 90 + ((h >> 16) & 0x7f));
    HBRUSH brush = CreateSolidBrush(colour);
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(30, 30, 30));
    HGDIOBJ oldBrush = SelectObject(dc, brush), oldPen = SelectObject(dc, pen);
    RoundRect(dc, 0, 0, size, size, size / 3, size / 3);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(brush);
    DeleteObject(pen);
    std::wstring letters;
    for (char c : key)
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) letters += static_cast<wchar_t>(c);
    if (letters.empty() && !key.empty()) letters = static_cast<wchar_t>(key[0]);
    if (letters.size() > 2) letters.resize(2);
    HFONT font = CreateFontW(-size * 11 / 20, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0,
                             L"Segoe UI");
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    RECT rc{0, 0, size, size};
    DrawTextW(dc, letters.c_str(), static_cast<int>(letters.size()), &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, oldFont);
    DeleteObject(font);
}

void AddDrawn(HIMAGELIST list, int size, const std::string& key) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, size, size), mask = CreateBitmap(size, size, 1, 1, nullptr);
    HGDIOBJ old = SelectObject(dc, bmp);
    RECT rc{0, 0, size, size};
    HBRUSH magenta = CreateSolidBrush(RGB(255, 0, 255));
    FillRect(dc, &rc, magenta);
    DeleteObject(magenta);
    DrawTile(dc, size, key);
    SelectObject(dc, old);
    ImageList_AddMasked(list, bmp, RGB(255, 0, 255));
    DeleteObject(bmp);
    DeleteObject(mask);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

}  // namespace

ImageLists::ImageLists(int dpi) {
    const int smallSize = MulDiv(16, dpi, 96), largeSize = MulDiv(32, dpi, 96);
    std::set<std::string> seen;
    std::vector<std::string> keys;
    for (auto list : {SmallImageKeys(), LargeImageKeys()})
        for (const char* k : list)
            if (seen.insert(k).second) keys.emplace_back(k);
    for (const char* extra : {"Crest", "Connect", "Refresh", "Exit", "About"})
        if (seen.insert(extra).second) keys.emplace_back(extra);
    small_ = ImageList_Create(smallSize, smallSize, ILC_COLOR32 | ILC_MASK, static_cast<int>(keys.size()), 8);
    large_ = ImageList_Create(largeSize, largeSize, ILC_COLOR32 | ILC_MASK, static_cast<int>(keys.size()), 8);
    for (const std::string& key : keys) {
        for (bool large : {false, true}) {
            HIMAGELIST list = large ? large_ : small_;
            if (HICON icon = StockIconFor(key, large)) {
                ImageList_AddIcon(list, icon);
                DestroyIcon(icon);
            } else {
                AddDrawn(list, large ? largeSize : smallSize, key);
            }
        }
        index_[key] = static_cast<int>(index_.size());
    }
}

ImageLists::~ImageLists() {
    if (small_) ImageList_Destroy(small_);
    if (large_) ImageList_Destroy(large_);
}

int ImageLists::index(const std::string& key) const {
    auto it = index_.find(key);
    return it == index_.end() ? -1 : it->second;
}

}  // namespace kestrane::win32
