// The category tree as the core sees it: nodes with a unique key, a text and
// an image, in insertion order under their parent.
#pragma once

#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrane {

struct TreeNode {
    std::string key;
    std::string text;
    std::string image;
    int parent = -1;
    std::vector<int> children;
    bool expanded = false;
};

class TreeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TreeModel {
public:
    void clear();
    // Adds a node under the node keyed `relative` ("" for a top-level node).
    // Throws TreeError for a key already in the tree or an unknown parent.
    int add(const std::string& relative, const std::string& key, const std::string& text,
            const std::string& image);
    // The node with exactly this key (a trailing blank counts), or -1.
    int find(const std::string& key) const;

    std::size_t size() const { return nodes_.size(); }
    const TreeNode& node(int i) const { return nodes_.at(static_cast<std::size_t>(i)); }
    const std::vector<int>& topLevel() const { return top_; }

    void setText(int i, const std::string& text) { nodes_.at(static_cast<std::size_t>(i)).text = text; }
    void setExpanded(int i, bool expanded) { nodes_.at(static_cast<std::size_t>(i)).expanded = expanded; }
    void setSelected(int i);
    int selected() const { return selected_; }

    // Every node in tree order (depth-first, children in insertion order).
    std::vector<int> preorder() const;
    int depth(int i) const;

private:
    std::vector<TreeNode> nodes_;
    std::vector<int> top_;
    std::unordered_map<std::string, int> byKey_;
    int selected_ = -1;
};

}  // namespace kestrane
