// The pictures behind the image keys of the tree, the tool bars and the list.
#pragma once

#include <QIcon>
#include <QString>

namespace kestrane::qt {

// The icon of an image key: the desktop theme's where it has a fitting one,
// else one drawn by the program. Never a null icon for a known key.
QIcon IconForKey(const QString& key);
// True when the key is one of the two picture lists'.
bool IsKnownImageKey(const QString& key);

}  // namespace kestrane::qt
