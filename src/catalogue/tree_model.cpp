#include "catalogue/tree_model.h"

namespace kestrane {

void TreeModel::clear() {
    nodes_.clear();
    top_.clear();
    byKey_.clear();
    selected_ = -1;
}

int TreeModel::add(const std::string& relative, const std::string& key, const std::string& text,
                   const std::string& image) {
    if (byKey_.count(key)) throw TreeError("Key is not unique in collection: " + key);
    int parent = -1;
    if (!relative.empty()) {
        parent = find(relative);
        if (parent < 0) throw TreeError("Element not found: " + relative);
    }
    int index = static_cast<int>(nodes_.size());
    nodes_.push_back({key, text, image, parent, {}, false});
    byKey_.emplace(key, index);
    if (parent < 0)
        top_.push_back(index);
    else
        nodes_[static_cast<std::size_t>(parent)].children.push_back(index);
    return index;
}

int TreeModel::find(const std::string& key) const {
    auto it = byKey_.find(key);
    return it == byKey_.end() ? -1 : it->second;
}

void TreeModel::setSelected(int i) {
    if (i < -1 || i >= static_cast<int>(nodes_.size())) throw TreeError("Invalid node");
    selected_ = i;
}

std::vector<int> TreeModel::preorder() const {
    std::vector<int> out;
    out.reserve(nodes_.size());
    std::vector<int> stack(top_.rbegin(), top_.rend());
    while (!stack.empty()) {
        int n = stack.back();
        stack.pop_back();
        out.push_back(n);
        const auto& ch = nodes_[static_cast<std::size_t>(n)].children;
        stack.insert(stack.end(), ch.rbegin(), ch.rend());
    }
    return out;
}

int TreeModel::depth(int i) const {
    int d = 0;
    while ((i = node(i).parent) >= 0) ++d;
    return d;
}

}  // namespace kestrane
