#pragma once

#include <cstddef>
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

// Where parent links go round in a loop (a folder that is, through its
// parents, its own ancestor): such a folder and everything under it is
// never reached from the root, so a tree would lose it silently. Following
// `parentOf` from every entry, each loop is named once, by the entry at
// which the walk came back into it; that entry is where the loop is cut.
// `parentOf(i)` gives `count` for an entry with no parent (the root, a
// missing or self-naming parent). Linear in the entries.
template <typename ParentOf>
std::vector<std::size_t> parentLoops(std::size_t count, ParentOf&& parentOf)
{
    enum : std::uint8_t { Unseen, OnWalk, Done };
    std::vector<std::uint8_t> state(count, Unseen);
    std::vector<std::size_t> loops, walk;
    for (std::size_t start = 0; start < count; ++start) {
        walk.clear();
        std::size_t i = start;
        while (i < count && state[i] == Unseen) {
            state[i] = OnWalk;
            walk.push_back(i);
            i = parentOf(i);
        }
        if (i < count && state[i] == OnWalk)
            loops.push_back(i);
        for (std::size_t w : walk)
            state[w] = Done;
    }
    return loops;
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
