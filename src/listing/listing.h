// Filling the list pane from WMI: the root summary and the two class views.
#pragma once

#include <functional>
#include <string>

#include "listing/list_model.h"
#include "wmi/services.h"

namespace kestrane {

// What a listing needs from the window around it.
class ListingHost {
public:
    virtual ~ListingHost() = default;
    // The Cancel button's flag.
    virtual bool cancelRequested() const = 0;
    // "Listed " followed by the count.
    virtual void setListedCount(long count) = 0;
    virtual void setProgressVisible(bool visible) = 0;
    // Lets the user interface process pending events once; with `always`
    // false only when input is waiting.
    virtual void yieldToUser(bool always) = 0;
    // The key of the tree's selected node (the class name the formatter
    // is given).
    virtual std::string selectedNodeKey() const = 0;
    // At the end of a class listing: whether every instance was listed
    // (false when cancelled or failed).
    virtual void listingEnded(bool /*complete*/) {}
};

// A host for listings without a window.
class HeadlessHost : public ListingHost {
public:
    bool cancel = false;
    long listedCount = 0;
    bool progressVisible = false;
    std::string selectedKey;
    std::function<void(long)> onInstance;  // called at each yield

    bool cancelRequested() const override { return cancel; }
    void setListedCount(long c) override { listedCount = c; }
    void setProgressVisible(bool v) override { progressVisible = v; }
    void yieldToUser(bool) override {
        if (onInstance) onInstance(listedCount);
    }
    std::string selectedNodeKey() const override { return selectedKey; }
};

struct ListingNode {
    std::string key, text, image;
};

using ServicesFactory = std::function<wmi::Services()>;

// The key separator inside property row keys: U+00C7, in UTF-8.
inline constexpr const char* kKeySeparator = "\xC3\x87";

// The one-page summary of the computer (seven groups). Rows added before an
// error stay; the error is raised again after the progress area is hidden.
void ShowRootSummary(ListModel& list, ListingHost& host, const ServicesFactory& GetWMIServices);

// One block of label and value rows per instance.
void List_Items_Vertically(const ListingNode& nodSelected, ListModel& list, ListingHost& host,
                           const ServicesFactory& GetWMIServices);

// One row per instance, one column per property.
void List_Items_Horizontally(const ListingNode& nodSelected, ListModel& list, ListingHost& host,
                             const ServicesFactory& GetWMIServices);

}  // namespace kestrane
