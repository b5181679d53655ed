#include "ui/model/CheckTreeState.h"

#include <algorithm>

namespace qis {

CheckTreeState::CheckTreeState() { items_.emplace_back(); }

CheckTreeState::ItemId CheckTreeState::insert(ItemId parent)
{
    if (!exists(parent))
        parent = kRoot;
    const auto id = static_cast<ItemId>(items_.size());
    Item item;
    item.parent = parent;
    items_.push_back(std::move(item));
    items_[parent].children.push_back(id);
    // Every ancestor has one more item below it, not checked.
    for (ItemId a = parent;; a = items_[a].parent) {
        ++items_[a].descendants;
        if (a == kRoot)
            break;
    }
    updateAncestors(id, 0);
    return id;
}

void CheckTreeState::remove(ItemId item)
{
    if (!exists(item) || item == kRoot)
        return;
    Item& gone = items_[item];
    const std::uint32_t all = gone.descendants + 1;
    const std::uint32_t checked = gone.checkedDescendants + (gone.checked ? 1 : 0);
    const std::uint32_t separators = gone.separatorDescendants + (gone.separator ? 1 : 0);
    auto& siblings = items_[gone.parent].children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), item), siblings.end());
    for (ItemId a = gone.parent;; a = items_[a].parent) {
        Item& p = items_[a];
        p.descendants -= std::min(p.descendants, all);
        p.checkedDescendants -= std::min(p.checkedDescendants, checked);
        p.separatorDescendants -= std::min(p.separatorDescendants, separators);
        if (a == kRoot)
            break;
    }
    std::vector<ItemId> stack = {item};
    while (!stack.empty()) {
        ItemId i = stack.back();
        stack.pop_back();
        items_[i].alive = false;
        stack.insert(stack.end(), items_[i].children.begin(), items_[i].children.end());
    }
}

void CheckTreeState::setSubtree(ItemId item, bool checked)
{
    std::vector<ItemId> stack(items_[item].children.rbegin(), items_[item].children.rend());
    while (!stack.empty()) {
        ItemId i = stack.back();
        stack.pop_back();
        Item& d = items_[i];
        if (d.enabled && !d.separator) {
            d.checked = checked;
            d.checkedDescendants = checked ? checkable(d) : 0;
        }
        stack.insert(stack.end(), d.children.rbegin(), d.children.rend());
    }
}

void CheckTreeState::updateAncestors(ItemId item, std::int64_t delta)
{
    for (ItemId a = items_[item].parent; a != kRoot; a = items_[a].parent) {
        Item& p = items_[a];
        const std::int64_t count = std::max<std::int64_t>(0, std::int64_t{p.checkedDescendants} + delta);
        p.checkedDescendants = static_cast<std::uint32_t>(count);
        const bool was = p.checked;
        p.checked = p.checkedDescendants == checkable(p);
        if (p.checked != was)
            delta += p.checked ? 1 : -1;
    }
}

bool CheckTreeState::setCheck(ItemId item, bool checked)
{
    if (!exists(item) || item == kRoot || !items_[item].enabled || items_[item].separator)
        return false;
    Item& i = items_[item];
    const bool changed = i.checked != checked;
    const std::int64_t delta = !changed ? 0
                               : checked ? std::int64_t{i.descendants} - i.checkedDescendants + 1
                                         : -(std::int64_t{i.checkedDescendants} + 1);
    i.checked = checked;
    i.checkedDescendants = checked ? checkable(i) : 0;
    setSubtree(item, checked);
    if (changed)
        updateAncestors(item, delta);
    return true;
}

bool CheckTreeState::getCheck(ItemId item) const
{
    if (!exists(item))
        return false;
    const Item& i = items_[item];
    if (i.descendants > 0)
        return i.checkedDescendants == checkable(i);
    return i.checked;
}

int CheckTreeState::image(ItemId item) const
{
    if (!exists(item))
        return 0;
    const Item& i = items_[item];
    int base = 0;
    if (i.descendants > 0)
        base = i.checkedDescendants == 0 ? kUnchecked : i.checkedDescendants == checkable(i) ? kChecked : kPartly;
    else
        base = i.checked ? kChecked : kUnchecked;
    return base + (i.enabled ? 0 : kDisabled) + (i.hot ? kHot : 0);
}

void CheckTreeState::setEnabled(ItemId item, bool enabled)
{
    if (exists(item) && item != kRoot)
        items_[item].enabled = enabled;
}

void CheckTreeState::setSeparator(ItemId item, bool separator)
{
    if (!exists(item) || item == kRoot || items_[item].separator == separator)
        return;
    items_[item].separator = separator;
    for (ItemId a = items_[item].parent;; a = items_[a].parent) {
        items_[a].separatorDescendants += separator ? 1 : static_cast<std::uint32_t>(-1);
        if (a == kRoot)
            break;
    }
}

void CheckTreeState::setHot(ItemId item, bool hot)
{
    if (exists(item))
        items_[item].hot = hot;
}

void CheckTreeState::setExpanded(ItemId item, bool expanded)
{
    if (exists(item) && items_[item].enabled && !items_[item].children.empty())
        items_[item].expanded = expanded;
}

void CheckListState::setRows(std::size_t count)
{
    rows_.resize(count, false);
    followRows();
}

void CheckListState::setRow(std::size_t row, bool checked)
{
    if (row < rows_.size())
        rows_[row] = checked;
    followRows();
}

void CheckListState::clickHeader()
{
    header_ = !header_;
    std::fill(rows_.begin(), rows_.end(), header_);
}

void CheckListState::followRows()
{
    header_ = std::all_of(rows_.begin(), rows_.end(), [](bool b) { return b; });
}

} // namespace qis
