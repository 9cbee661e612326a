// The pictures behind the image keys of the tree, the tool bars and the
// list, without a toolkit: what each picture shows, a desktop theme's name
// for it and how to draw one where no theme has it. Each front end maps the
// keys to pictures of its own.
#pragma once

#include <span>
#include <string_view>

namespace kestrane::window {

struct IconPicture {
    const char* key;
    const char* theme;  // freedesktop icon name, or nullptr
    const char* glyph;  // UTF-8 text the drawn picture shows
    unsigned rgb;       // its background colour
    const char* shows;  // what the picture stands for, in a few words
};

// Every picture, one per key of the two picture lists and the tool bars.
std::span<const IconPicture> IconTable();
// The picture of a key; nullptr for a key no list has.
const IconPicture* FindIcon(std::string_view key);

}  // namespace kestrane::window
