#include "win32/icons.h"

#include <shellapi.h>

#include <map>

#include "core/platform.h"
#include "window/icons.h"

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

// A drawn picture at `x` of the strip, as the Qt window draws it: a rounded
// tile in the picture's colour with its glyph. `fonts` holds the glyph
// fonts made so far, by height.
void DrawTile(HDC dc, int x, int size, const window::IconPicture& picture, std::map<int, HFONT>& fonts) {
    const unsigned c = picture.rgb;
    HBRUSH brush = CreateSolidBrush(RGB((c >> 16) & 0xff, (c >> 8) & 0xff, c & 0xff));
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(30, 30, 30));
    HGDIOBJ oldBrush = SelectObject(dc, brush), oldPen = SelectObject(dc, pen);
    RoundRect(dc, x, 0, x + size, size, size / 3, size / 3);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(brush);
    DeleteObject(pen);
    const std::wstring glyph = WideFromUtf8(picture.glyph);
    // Three letters must fit where one may fill the tile.
    const int percent = glyph.size() >= 3 ? 36 : glyph.size() == 2 ? 46 : 62;
    HFONT& font = fonts[-size * percent / 100];
    if (!font)
        font = CreateFontW(-size * percent / 100, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY,
                           0, L"Segoe UI");
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    RECT rc{x, 0, x + size, size};
    DrawTextW(dc, glyph.c_str(), static_cast<int>(glyph.size()), &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, oldFont);
}

// Every picture of one size, in the table's order: all drawn side by side on
// one bitmap and added at once, then Windows' own where it has one. A device
// context, a bitmap and a font per picture cost Wine half a second at start.
HIMAGELIST MakeList(int size, bool large) {
    const auto pictures = window::IconTable();
    const int n = static_cast<int>(pictures.size());
    HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, n, 8);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP strip = CreateCompatibleBitmap(screen, size * n, size);
    HGDIOBJ old = SelectObject(dc, strip);
    RECT rc{0, 0, size * n, size};
    HBRUSH magenta = CreateSolidBrush(RGB(255, 0, 255));
    FillRect(dc, &rc, magenta);
    DeleteObject(magenta);
    std::map<int, HFONT> fonts;
    for (int i = 0; i < n; ++i) DrawTile(dc, i * size, size, pictures[static_cast<std::size_t>(i)], fonts);
    SelectObject(dc, old);
    for (auto& [height, font] : fonts) DeleteObject(font);
    ImageList_AddMasked(list, strip, RGB(255, 0, 255));
    DeleteObject(strip);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    for (int i = 0; i < n; ++i) {
        if (HICON icon = StockIconFor(pictures[static_cast<std::size_t>(i)].key, large)) {
            ImageList_ReplaceIcon(list, i, icon);
            DestroyIcon(icon);
        }
    }
    return list;
}

}  // namespace

ImageLists::ImageLists(int dpi) : dpi_(dpi) {
    small_ = MakeList(MulDiv(16, dpi, 96), false);
    for (const window::IconPicture& picture : window::IconTable())
        index_[picture.key] = static_cast<int>(index_.size());
}

ImageLists::~ImageLists() {
    if (small_) ImageList_Destroy(small_);
    if (large_) ImageList_Destroy(large_);
}

HIMAGELIST ImageLists::large() {
    if (!large_) large_ = MakeList(MulDiv(32, dpi_, 96), true);
    return large_;
}

int ImageLists::index(const std::string& key) const {
    auto it = index_.find(key);
    return it == index_.end() ? -1 : it->second;
}

}  // namespace kestrane::win32
