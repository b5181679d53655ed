#pragma once

#include "filesystems/VolumeParser.h"
#include "filesystems/ntfs/Ntfs.h"

namespace qis {

// The NTFS parser's table seen through the common parser shape.
class NtfsVolumeParser : public VolumeParser {
public:
    explicit NtfsVolumeParser(ntfs& parser) : parser_(parser) {}

    [[nodiscard]] std::vector<EntryHandle> topLevel() const override;
    [[nodiscard]] EntryHandle firstChild(EntryHandle entry) const override;
    [[nodiscard]] EntryHandle nextSibling(EntryHandle entry) const override;
    [[nodiscard]] std::u16string name(EntryHandle entry) const override;
    [[nodiscard]] bool isFolder(EntryHandle entry) const override;
    [[nodiscard]] bool isDeleted(EntryHandle entry) const override;
    [[nodiscard]] std::optional<std::uint64_t> entryNumber(EntryHandle entry) const override
    {
        return parser_.recordNumber(entry);
    }
    EntryDetails describe(EntryHandle entry) override;
    Recoverability recoverability(EntryHandle entry) override { return parser_.recoverability(entry); }
    [[nodiscard]] std::u16string outputName(EntryHandle entry) const override;
    [[nodiscard]] bool skipOnSave(EntryHandle entry) const override;
    bool saveEntry(EntryHandle entry, DataSink& out) override;
    void rename(EntryHandle entry, std::u16string name) override;
    std::optional<std::vector<ByteRun>> unallocatedSpace() override { return parser_.unallocatedSpace(); }
    std::optional<std::uint64_t> firstDataByte(EntryHandle entry) override;

private:
    [[nodiscard]] EntryHandle link(std::int64_t position) const;
    ntfs& parser_;
};

} // namespace qis
