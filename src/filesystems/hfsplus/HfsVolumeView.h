#pragma once

#include "filesystems/VolumeParser.h"
#include "filesystems/hfsplus/HFSP.h"

namespace qis {

// The HFS+ entry map seen through the common parser shape; an entry's
// handle is its catalog node ID.
class HfsVolumeView : public VolumeParser {
public:
    explicit HfsVolumeView(HFSP& volume) : volume_(volume) {}

    [[nodiscard]] std::vector<EntryHandle> topLevel() const override;
    [[nodiscard]] EntryHandle firstChild(EntryHandle entry) const override;
    [[nodiscard]] EntryHandle nextSibling(EntryHandle entry) const override;
    [[nodiscard]] std::u16string name(EntryHandle entry) const override;
    [[nodiscard]] bool isFolder(EntryHandle entry) const override;
    [[nodiscard]] bool isDeleted(EntryHandle entry) const override;
    // The catalog node ID; nullopt for ORPHAN_ENTRY.
    [[nodiscard]] std::optional<std::uint64_t> entryNumber(EntryHandle entry) const override;
    Recoverability recoverability(EntryHandle entry) override;
    EntryDetails describe(EntryHandle entry) override;
    bool saveEntry(EntryHandle entry, DataSink& out) override;
    void rename(EntryHandle entry, std::u16string name) override;
    std::optional<std::vector<ByteRun>> unallocatedSpace() override { return volume_.unallocatedSpace(); }
    std::optional<std::uint64_t> firstDataByte(EntryHandle entry) override;

private:
    [[nodiscard]] const HfsEntry* find(EntryHandle entry) const;
    HFSP& volume_;
};

} // namespace qis
