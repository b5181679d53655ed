#pragma once

#include <cstdint>
#include <vector>

namespace qis {

// Links a table whose records name their parent by index into first-child /
// next-sibling chains, children in table order. Record 0 stands for the
// root; a record that names itself or an index past the table stays
// unlinked. One pass with an append point per parent, so a folder with
// many thousands of files links as fast as a small one.
template <typename Record, typename Progress>
void linkByParentIndex(std::vector<Record>& records, std::uint32_t none, Progress&& progress)
{
    std::vector<std::uint32_t> lastChild(records.size(), none);
    for (auto& r : records) {
        r.firstChild = none;
        r.nextSibling = none;
    }
    const std::size_t n = records.size();
    for (std::size_t i = 1; i < n; ++i) {
        std::uint32_t parent = records[i].parentIndex;
        if (parent >= n || parent == i)
            continue;
        if (lastChild[parent] == none)
            records[parent].firstChild = static_cast<std::uint32_t>(i);
        else
            records[lastChild[parent]].nextSibling = static_cast<std::uint32_t>(i);
        lastChild[parent] = static_cast<std::uint32_t>(i);
        progress(i, n);
    }
}

// The chain of a record's children, in order, guarded against a chain
// that comes back on itself.
template <typename Record>
std::vector<std::uint32_t> childrenOf(const std::vector<Record>& records, std::uint32_t parent, std::uint32_t none)
{
    std::vector<std::uint32_t> children;
    if (parent >= records.size())
        return children;
    for (std::uint32_t c = records[parent].firstChild; c != none && c < records.size() && children.size() < records.size();
         c = records[c].nextSibling)
        children.push_back(c);
    return children;
}

} // namespace qis
