#pragma once

#include <cstdint>
#include <vector>

namespace qis {

// The check boxes of the wizard's folder tree, apart from any toolkit:
// per item its own flag and the counts of the items below it, checked and
// in all. Checking an item checks everything below it; a folder reads as
// checked when everything below it is, partly checked when some of it is.
class CheckTreeState {
public:
    using ItemId = std::uint32_t;
    // The invisible root every top-level item hangs under.
    static constexpr ItemId kRoot = 0;

    // The state image's base: unchecked, checked, partly checked; +4 for a
    // disabled item, +8 while the mouse is over its check box.
    enum Image : int { kUnchecked = 1, kChecked = 2, kPartly = 3, kDisabled = 4, kHot = 8 };

    CheckTreeState();

    // A new unchecked, enabled item as the last child of `parent`. A fully
    // checked parent with a new unchecked child is partly checked.
    ItemId insert(ItemId parent);
    // Removes the item and everything below it.
    void remove(ItemId item);

    // Checks or unchecks the item and its whole subtree, then brings its
    // ancestors up to date. False (nothing changed) for a disabled item, a
    // separator, the root or a removed item.
    bool setCheck(ItemId item, bool checked);
    // Checked: for an item with children, only when every checkable item
    // below it is checked; otherwise its own flag.
    [[nodiscard]] bool getCheck(ItemId item) const;
    [[nodiscard]] int image(ItemId item) const;

    void setEnabled(ItemId item, bool enabled);
    void setSeparator(ItemId item, bool separator);
    void setHot(ItemId item, bool hot);
    void setExpanded(ItemId item, bool expanded);

    // The item's own flag, whatever the items below it are.
    [[nodiscard]] bool checkedFlag(ItemId item) const { return exists(item) && items_[item].checked; }
    [[nodiscard]] bool exists(ItemId item) const { return item < items_.size() && items_[item].alive; }
    [[nodiscard]] bool enabled(ItemId item) const { return exists(item) && items_[item].enabled; }
    [[nodiscard]] bool expanded(ItemId item) const { return exists(item) && items_[item].expanded; }
    [[nodiscard]] ItemId parent(ItemId item) const { return items_[item].parent; }
    [[nodiscard]] const std::vector<ItemId>& children(ItemId item) const { return items_[item].children; }
    [[nodiscard]] std::uint32_t descendants(ItemId item) const { return items_[item].descendants; }
    [[nodiscard]] std::uint32_t checkedDescendants(ItemId item) const { return items_[item].checkedDescendants; }

private:
    struct Item {
        bool alive = true;
        bool checked = false;
        bool enabled = true;
        bool separator = false;
        bool expanded = false;
        bool hot = false;
        std::uint32_t descendants = 0;
        std::uint32_t checkedDescendants = 0;
        std::uint32_t separatorDescendants = 0;
        ItemId parent = kRoot;
        std::vector<ItemId> children;
    };
    [[nodiscard]] std::uint32_t checkable(const Item& i) const { return i.descendants - i.separatorDescendants; }
    // Adds `delta` checked items to every ancestor of `item`, each ancestor
    // checked exactly when everything below it is.
    void updateAncestors(ItemId item, std::int64_t delta);
    void setSubtree(ItemId item, bool checked);

    std::vector<Item> items_;
};

// The check boxes of the file list: one per row and one in the header of
// the first column that checks or clears them all.
class CheckListState {
public:
    void setRows(std::size_t count); // new rows are unchecked
    void setRow(std::size_t row, bool checked);
    [[nodiscard]] bool row(std::size_t row) const { return row < rows_.size() && rows_[row]; }
    [[nodiscard]] std::size_t rowCount() const { return rows_.size(); }
    // A click on the header box: it flips, and every row takes its state.
    void clickHeader();
    // The header box shows checked when every row is (or there are none).
    [[nodiscard]] bool headerChecked() const { return header_; }

private:
    void followRows();
    std::vector<bool> rows_;
    bool header_ = false;
};

} // namespace qis
