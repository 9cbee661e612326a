#include "win32/icons.h"

#include <shellapi.h>

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

// A drawn picture, as the Qt window draws it: a rounded tile in the
// picture's colour with its glyph.
void DrawTile(HDC dc, int size, const window::IconPicture& picture) {
    const unsigned c = picture.rgb;
    HBRUSH brush = CreateSolidBrush(RGB((c >> 16) & 0xff, (c >> 8) & 0xff, c & 0xff));
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(30, 30, 30));
    HGDIOBJ oldBrush = SelectObject(dc, brush), oldPen = SelectObject(dc, pen);
    RoundRect(dc, 0, 0, size, size, size / 3, size / 3);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(brush);
    DeleteObject(pen);
    const std::wstring glyph = WideFromUtf8(picture.glyph);
    // Three letters must fit where one may fill the tile.
    const int percent = glyph.size() >= 3 ? 36 : glyph.size() == 2 ? 46 : 62;
    HFONT font = CreateFontW(-size * percent / 100, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                             CLEARTYPE_QUALITY, 0, L"Segoe UI");
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    RECT rc{0, 0, size, size};
    DrawTextW(dc, glyph.c_str(), static_cast<int>(glyph.size()), &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, oldFont);
    DeleteObject(font);
}

void AddDrawn(HIMAGELIST list, int size, const window::IconPicture& picture) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, size, size), mask = CreateBitmap(size, size, 1, 1, nullptr);
    HGDIOBJ old = SelectObject(dc, bmp);
    RECT rc{0, 0, size, size};
    HBRUSH magenta = CreateSolidBrush(RGB(255, 0, 255));
    FillRect(dc, &rc, magenta);
    DeleteObject(magenta);
    DrawTile(dc, size, picture);
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
    const auto pictures = window::IconTable();
    small_ = ImageList_Create(smallSize, smallSize, ILC_COLOR32 | ILC_MASK, static_cast<int>(pictures.size()), 8);
    large_ = ImageList_Create(largeSize, largeSize, ILC_COLOR32 | ILC_MASK, static_cast<int>(pictures.size()), 8);
    for (const window::IconPicture& picture : pictures) {
        for (bool large : {false, true}) {
            HIMAGELIST list = large ? large_ : small_;
            if (HICON icon = StockIconFor(picture.key, large)) {
                ImageList_AddIcon(list, icon);
                DestroyIcon(icon);
            } else {
                AddDrawn(list, large ? largeSize : smallSize, picture);
            }
        }
        index_[picture.key] = static_cast<int>(index_.size());
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
