#pragma once

#include "filesystems/VolumeParser.h"
#include "filesystems/ext/ext2Class.h"

namespace qis {

// The ext entry map seen through the common parser shape; an entry's
// handle is its position in the map.
class ExtVolumeView : public VolumeParser {
public:
    explicit ExtVolumeView(ext2Class& volume) : volume_(volume) {}

    [[nodiscard]] std::vector<EntryHandle> topLevel() const override;
    [[nodiscard]] EntryHandle firstChild(EntryHandle entry) const override;
    [[nodiscard]] EntryHandle nextSibling(EntryHandle entry) const override;
    [[nodiscard]] std::u16string name(EntryHandle entry) const override;
    [[nodiscard]] std::string nameUtf8(EntryHandle entry) const override;
    [[nodiscard]] bool isFolder(EntryHandle entry) const override;
    [[nodiscard]] bool isDeleted(EntryHandle entry) const override;
    // The inode number; nullopt for ORPHAN_ENTRY.
    [[nodiscard]] std::optional<std::uint64_t> entryNumber(EntryHandle entry) const override;
    EntryDetails describe(EntryHandle entry) override;
    EntryDetails details(EntryHandle entry) override;
    Recoverability recoverability(EntryHandle entry) override;
    bool saveEntry(EntryHandle entry, DataSink& out) override;
    void rename(EntryHandle entry, std::u16string name) override;
    std::optional<std::vector<ByteRun>> unallocatedSpace() override { return volume_.unallocatedSpace(); }
    std::optional<std::uint64_t> firstDataByte(EntryHandle entry) override;

private:
    [[nodiscard]] const ExtEntry* find(EntryHandle entry) const;
    ext2Class& volume_;
};

// An ext name: UTF-8 where it is well-formed (what Linux writes), else
// the bytes as Windows-1252.
std::u16string extNameText(const std::string& bytes);

} // namespace qis
