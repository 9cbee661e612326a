// The compiled catalogue of categories and classes, and the tree built from it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/tree_model.h"
#include "core/app_state.h"

namespace kestrane {

struct CatalogueEntry {
    const char* relative;  // parent key
    const char* key;
    const char* text;
    const char* image;
    std::uint8_t minLevel;
};

inline constexpr const char* kRootKey = "[Root...]";

// The 317 entries in catalogue order; every parent precedes its children.
std::span<const CatalogueEntry> Catalogue();
// The catalogue entry of a key, or nullptr.
const CatalogueEntry* FindCatalogueEntry(std::string_view key);

enum class NodeKind { Class, Root, Category };
// Class when the key begins with "CIM_" or "Win32_" (case-sensitive), else
// the root for exactly "[Root...]", else a category.
NodeKind ClassifyNodeKey(std::string_view key);
bool IsClassKey(std::string_view key);
// The classes a snapshot of a computer records: each class of the catalogue
// once, in catalogue order, without the trailing blanks some keys carry.
std::vector<std::string> SnapshotClassNames();

// The local computer's name, whole; "" when the system gives none.
std::string GetLocalComputerName();
// The root's text: the computer string itself unless it is empty or ".".
std::string RootText(const std::string& computer);

// Fills an empty tree for the state's level: root, then the entries of each
// level in catalogue order; expands "Operating System", "Computer System
// Hardware" and the root, and selects the root.
void BuildCategoryTree(TreeModel& tree, const AppState& state);

// The image keys of the small and the large picture lists, in order.
std::span<const char* const> SmallImageKeys();
std::span<const char* const> LargeImageKeys();

}  // namespace kestrane
