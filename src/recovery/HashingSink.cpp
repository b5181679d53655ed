#include "recovery/HashingSink.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <new>

namespace qis {
namespace {

struct ContextFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;

Context started(const EVP_MD* type)
{
    Context c(EVP_MD_CTX_new());
    if (!c || EVP_DigestInit_ex(c.get(), type, nullptr) != 1)
        throw std::bad_alloc();
    return c;
}

std::string finished(EVP_MD_CTX* c)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned length = 0;
    if (EVP_DigestFinal_ex(c, digest.data(), &length) != 1)
        return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * length);
    for (unsigned i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

} // namespace

struct Digests::Contexts {
    Context md5 = started(EVP_md5());
    Context sha256 = started(EVP_sha256());
    bool failed = false;
};

Digests::Digests() : contexts_(std::make_unique<Contexts>()) {}
Digests::~Digests() = default;

void Digests::update(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty())
        return;
    // A digest that missed a piece must not be given as the file's.
    if (EVP_DigestUpdate(contexts_->md5.get(), bytes.data(), bytes.size()) != 1 ||
        EVP_DigestUpdate(contexts_->sha256.get(), bytes.data(), bytes.size()) != 1)
        contexts_->failed = true;
}

void Digests::updateZeros(std::uint64_t count)
{
    static const std::array<std::uint8_t, 64 * 1024> kZeros{};
    while (count != 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, kZeros.size()));
        update(std::span<const std::uint8_t>(kZeros.data(), n));
        count -= n;
    }
}

FileHashes Digests::finish()
{
    FileHashes h{finished(contexts_->md5.get()), finished(contexts_->sha256.get())};
    if (contexts_->failed || h.md5.empty() || h.sha256.empty())
        return {};
    return h;
}

bool HashingSink::write(std::span<const std::uint8_t> data)
{
    if (!inner_.write(data))
        return false;
    digests_.update(data);
    return true;
}

bool HashingSink::skip(std::uint64_t bytes)
{
    if (!inner_.skip(bytes))
        return false;
    digests_.updateZeros(bytes);
    return true;
}

} // namespace qis
