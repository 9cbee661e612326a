// The pictures of the image keys, as image lists at the system's DPI.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <unordered_map>

namespace kestrane::win32 {

class ImageLists {
public:
    // Both lists for every key of the catalogue's picture lists; the large
    // one is drawn when first asked for.
    explicit ImageLists(int dpi);
    ~ImageLists();
    ImageLists(const ImageLists&) = delete;
    ImageLists& operator=(const ImageLists&) = delete;

    HIMAGELIST small() const { return small_; }
    HIMAGELIST large();
    // The index of a key in both lists; -1 for an unknown or empty key.
    int index(const std::string& key) const;
    int count() const { return static_cast<int>(index_.size()); }

private:
    int dpi_;
    HIMAGELIST small_ = nullptr, large_ = nullptr;
    std::unordered_map<std::string, int> index_;
};

}  // namespace kestrane::win32
