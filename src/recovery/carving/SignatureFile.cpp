#include "recovery/carving/SignatureFile.h"

#include <fstream>

namespace qis {
namespace {

constexpr std::uint64_t kLastRecordLimit = 1048576;
constexpr const char* kNotValid = "Please select a valid file..";

} // namespace

bool readSignatureFile(const std::filesystem::path& path, std::vector<SignatureRecord>& records, std::string& message)
{
    records.clear();
    // Only a regular file: a FIFO given by mistake would block the open.
    std::error_code ec;
    std::ifstream in;
    if (std::filesystem::is_regular_file(path, ec))
        in.open(path, std::ios::binary);
    if (!in.is_open()) {
        message = "Cannot open the selected file";
        return false;
    }
    in.seekg(0, std::ios::end);
    const auto length = static_cast<std::uint64_t>(in.tellg());
    if (length < SignatureRecord::kBytes || length - SignatureRecord::kBytes > kLastRecordLimit) {
        message = kNotValid;
        return false;
    }
    std::array<std::uint8_t, SignatureRecord::kBytes> bytes{};
    in.seekg(static_cast<std::streamoff>(length - SignatureRecord::kBytes));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    SignatureRecord last = SignatureRecord::decode(bytes);
    if (last.bytesInSize > 8) {
        message = kNotValid;
        return false;
    }
    // The last record's index says how many records there are; a file that
    // holds fewer gives only those it holds.
    const std::uint64_t announced = std::uint64_t{last.recordIndex} + 1;
    const std::uint64_t held = length / SignatureRecord::kBytes;
    in.seekg(0);
    for (std::uint64_t i = 0; i < std::min(announced, held); ++i) {
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        SignatureRecord r = SignatureRecord::decode(bytes);
        const std::string which = "Signature " + std::to_string(i + 1) + " of the file ";
        if (r.startLength > SignatureRecord::kMaxSignatureBytes || r.endLength > SignatureRecord::kMaxSignatureBytes) {
            message = which + "has a signature of more than 10 bytes.";
            return false;
        }
        if (std::size_t{r.startOffset} + r.startLength > 512) {
            message = which + "has its starting signature beyond the first 512 bytes.";
            return false;
        }
        records.push_back(r);
    }
    return true;
}

bool loadSignatureFile(const std::filesystem::path& path, myJpg& engine, std::string& message)
{
    std::vector<SignatureRecord> records;
    if (!readSignatureFile(path, records, message))
        return false;
    if (engine.signatureTypes.size() + records.size() > myJpg::kMaxTypes) {
        message = "At most 128 signatures can be loaded at once; this file would bring " +
                  std::to_string(engine.signatureTypes.size() + records.size()) + ".";
        return false;
    }
    for (const SignatureRecord& r : records)
        engine.addSignature(r);
    return true;
}

void loadDefaultSignatures(const std::filesystem::path& path, myJpg& engine)
{
    std::string ignored;
    std::vector<SignatureRecord> records;
    if (!readSignatureFile(path, records, ignored))
        return;
    for (const SignatureRecord& r : records)
        if (!engine.addSignature(r))
            break;
}

} // namespace qis
