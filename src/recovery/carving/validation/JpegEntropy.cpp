#include "recovery/carving/validation/JpegEntropy.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace qis::carve::validation {
namespace {

std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

bool isRestart(std::uint8_t marker) { return marker >= 0xD0 && marker <= 0xD7; }

} // namespace

JpegDecode JpegDecoder::run(std::uint64_t until)
{
    JpegDecode out;
    if (!started_) {
        if (!s_->matches(0, "\xFF\xD8"))
            return out;
        pos_ = 2;
        started_ = true;
    }
    for (;;) {
        if (inScan_) {
            if (decodable_ ? !decodeScan(out, until, UINT64_MAX) : !skipScan(out)) {
                out.segmentStart = decodable_ ? out.brokeAt : segment_;
                return out;
            }
            inScan_ = false;
            continue;
        }
        if (pos_ > until) {
            out.reached = true;
            out.brokeAt = pos_;
            return out;
        }
        snapshot();
        if (markerStep(out) == Step::Done)
            return out;
    }
}

JpegDecode JpegDecoder::run(std::vector<JpegDecoder>& snapshots, std::uint64_t every)
{
    snapshots_ = &snapshots;
    snapshotEvery_ = std::max<std::uint64_t>(every, 1);
    nextSnapshot_ = pos_;
    const JpegDecode out = run();
    snapshots_ = nullptr;
    return out;
}

void JpegDecoder::snapshot()
{
    if (snapshots_ == nullptr || pos_ < nextSnapshot_)
        return;
    snapshots_->push_back(*this);
    snapshots_->back().snapshots_ = nullptr;
    nextSnapshot_ = pos_ + snapshotEvery_;
}

std::vector<JpegDecoder> JpegDecoder::checkpointsBefore(std::span<const std::uint64_t> offsets) const
{
    std::vector<JpegDecoder> out;
    out.reserve(offsets.size());
    JpegDecoder d = *this;
    d.snapshots_ = nullptr;
    if (!d.started_ && s_->matches(0, "\xFF\xD8")) {
        d.pos_ = 2;
        d.started_ = true;
    }
    JpegDecoder best = d; // the state before the last marker read, or where it began
    std::size_t next = 0;
    while (d.started_ && next < offsets.size()) {
        if (d.inScan_) {
            JpegDecode r;
            if (!d.decodable_) {
                if (!d.skipScan(r))
                    break;
            } else if (!d.decodeScan(r, UINT64_MAX, offsets[next])) {
                if (r.reached) {
                    // Stopped at the last MCU before the offset: decoding
                    // goes on from there for the next one.
                    out.push_back(d);
                    ++next;
                    continue;
                }
                if (r.brokeAt == 0) {
                    // The scan's data begins past the offset: nothing decoded yet.
                    out.push_back(best);
                    ++next;
                    continue;
                }
                break; // the scan broke before the offset, and so before every later one
            }
            d.inScan_ = false;
            continue;
        }
        while (next < offsets.size() && d.pos_ > offsets[next]) {
            out.push_back(best);
            ++next;
        }
        if (next == offsets.size())
            break;
        best = d;
        JpegDecode r;
        if (d.markerStep(r) == Step::Done)
            break;
    }
    while (out.size() < offsets.size())
        out.push_back(best);
    return out;
}

JpegDecoder::Step JpegDecoder::markerStep(JpegDecode& out)
{
    Source& s = *s_;
    std::uint64_t p = pos_;
    // No marker here: the segment before went wrong.
    out.segmentStart = segment_;
    if (!s.has(p, 2) || s.u8(p) != 0xFF) {
        out.brokeAt = p;
        return Step::Done;
    }
    out.segmentStart = segment_ = p;
    while (s.has(p, 1) && s.u8(p) == 0xFF)
        ++p;
    if (!s.has(p, 1)) {
        out.brokeAt = p;
        return Step::Done;
    }
    const std::uint8_t marker = s.u8(p++);
    if (marker == 0xD9) {
        if (scanned_ && framed_) {
            out.whole = true;
            out.length = p;
        } else {
            out.brokeAt = pos_;
        }
        return Step::Done;
    }
    if (marker == 0x01 || isRestart(marker)) {
        pos_ = p;
        return Step::Next;
    }
    if (marker == 0x00 || marker == 0xD8 || !s.has(p, 2)) {
        out.brokeAt = pos_;
        return Step::Done;
    }
    const std::uint32_t length = s.be(p, 2);
    // A segment that does not parse has gone wrong somewhere inside it:
    // its end is the first place the bytes are known not to fit.
    out.brokeAt = p + length;
    if (length < 2 || !s.has(p, length))
        return Step::Done;
    const std::uint64_t body = p + 2;
    const std::uint32_t n = length - 2;
    bool ok = true;
    if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
        ok = !framed_ && parseFrame(body, n, marker == 0xC2);
    } else if (marker >= 0xC3 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
        // Lossless or arithmetic-coded: walked by its markers only.
        ok = !framed_;
        framed_ = true;
        huffman_ = false;
    } else if (marker == 0xC4) {
        ok = parseTables(body, n);
    } else if (marker == 0xDB) {
        ok = parseQuant(body, n);
    } else if (marker == 0xDD) {
        ok = n >= 2;
        restartInterval_ = n >= 2 ? s.be(body, 2) : 0;
    } else if (marker == 0xDA) {
        ok = framed_ && parseScan(body, n);
    }
    if (!ok)
        return Step::Done;
    out.brokeAt = 0;
    pos_ = p + length;
    if (marker != 0xDA)
        return Step::Next;
    scanned_ = true;
    inScan_ = true;
    bits_ = 0;
    bitCount_ = 0;
    mcu_ = 0;
    eobRun_ = 0;
    dcPredictor_.fill(0);
    return Step::Scan;
}

bool JpegDecoder::parseFrame(std::uint64_t p, std::uint32_t length, bool progressive)
{
    Source& s = *s_;
    if (length < 6)
        return false;
    precision_ = s.u8(p);
    height_ = s.be(p + 1, 2);
    width_ = s.be(p + 3, 2);
    componentCount_ = s.u8(p + 5);
    if ((precision_ != 8 && precision_ != 12) || width_ == 0 || componentCount_ == 0 || componentCount_ > 4 ||
        length < 6 + 3 * componentCount_)
        return false;
    hMax_ = vMax_ = 1;
    for (unsigned i = 0; i < componentCount_; ++i) {
        Component& c = components_[i];
        c.id = s.u8(p + 6 + 3 * i);
        c.h = s.u8(p + 7 + 3 * i) >> 4;
        c.v = s.u8(p + 7 + 3 * i) & 15;
        c.quant = s.u8(p + 8 + 3 * i) & 3;
        if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4)
            return false;
        hMax_ = std::max<unsigned>(hMax_, c.h);
        vMax_ = std::max<unsigned>(vMax_, c.v);
    }
    framed_ = true;
    progressive_ = progressive;
    // A height given later by a DNL segment leaves the MCU count unknown.
    huffman_ = height_ != 0;
    return true;
}

bool JpegDecoder::parseTables(std::uint64_t p, std::uint32_t length)
{
    Source& s = *s_;
    const std::uint64_t end = p + length;
    auto tables = std::make_shared<Tables>(*tables_);
    while (p < end) {
        if (end - p < 17)
            return false;
        const std::uint8_t kind = s.u8(p);
        if ((kind >> 4) > 1 || (kind & 15) > 3)
            return false;
        const bool isAc = (kind >> 4) != 0;
        Table& t = isAc ? tables->ac[kind & 15] : tables->dc[kind & 15];
        t = Table{};
        unsigned total = 0;
        int left = 1;
        for (unsigned len = 1; len <= 16; ++len) {
            t.counts[len] = s.u8(p + len);
            total += t.counts[len];
            left = left * 2 - t.counts[len];
            if (left < 0)
                return false; // more codes than the lengths allow
        }
        if (total > 256 || end - p - 17 < total)
            return false;
        for (unsigned i = 0; i < total; ++i)
            t.symbols[i] = s.u8(p + 17 + i);
        unsigned code = 0, index = 0;
        for (unsigned len = 1; len <= kFastBits; ++len, code <<= 1)
            for (unsigned n = 0; n < t.counts[len]; ++n, ++code, ++index)
                for (unsigned low = 0; low < (1u << (kFastBits - len)); ++low)
                    t.fast[(code << (kFastBits - len)) | low] = static_cast<std::uint16_t>(len << 8 | t.symbols[index]);
        if (isAc) {
            for (unsigned i = 0; i < t.fast.size(); ++i) {
                const unsigned e = t.fast[i], len = e >> 8, run = (e >> 4) & 15, size = e & 15;
                if (e == 0 || size == 0 || len + size > kFastBits)
                    continue;
                const std::int32_t raw = static_cast<std::int32_t>((i >> (kFastBits - len - size)) & ((1u << size) - 1));
                const std::int32_t value = raw < (1 << (size - 1)) ? raw - (1 << size) + 1 : raw;
                t.fastAc[i] = value * 256 + static_cast<std::int32_t>(run << 4 | (len + size));
            }
        }
        t.defined = true;
        p += 17 + total;
    }
    tables_ = std::move(tables);
    return true;
}

bool JpegDecoder::parseQuant(std::uint64_t p, std::uint32_t length)
{
    Source& s = *s_;
    const std::uint64_t end = p + length;
    while (p < end) {
        const std::uint8_t kind = s.u8(p);
        const unsigned wide = kind >> 4;
        if (wide > 1 || (kind & 15) > 3 || end - p < 1 + 64 * (wide + 1))
            return false;
        for (unsigned k = 0; k < 64; ++k)
            quant_[kind & 15][k] = static_cast<std::uint16_t>(wide ? s.be(p + 1 + 2 * k, 2) : s.u8(p + 1 + k));
        p += 1 + 64 * (wide + 1);
    }
    return true;
}

bool JpegDecoder::parseScan(std::uint64_t p, std::uint32_t length)
{
    Source& s = *s_;
    if (length < 1)
        return false;
    scanCount_ = s.u8(p);
    if (scanCount_ < 1 || scanCount_ > 4 || length < 4 + 2 * scanCount_)
        return false;
    unsigned blocks = 0;
    for (unsigned i = 0; i < scanCount_; ++i) {
        const std::uint8_t id = s.u8(p + 1 + 2 * i), tables = s.u8(p + 2 + 2 * i);
        unsigned k = 0;
        while (k < componentCount_ && components_[k].id != id)
            ++k;
        if (k == componentCount_ || (tables >> 4) > 3 || (tables & 15) > 3)
            return false;
        scanComponents_[i] = static_cast<std::uint8_t>(k);
        scanDc_[i] = tables >> 4;
        scanAc_[i] = tables & 15;
        blocks += components_[k].h * components_[k].v;
    }
    const std::uint64_t q = p + 1 + 2 * scanCount_;
    ss_ = s.u8(q);
    se_ = s.u8(q + 1);
    ah_ = s.u8(q + 2) >> 4;
    al_ = s.u8(q + 2) & 15;
    if (scanCount_ > 1 && blocks > 10)
        return false;
    if (scanCount_ == 1) {
        const Component& c = components_[scanComponents_[0]];
        mcus_ = ceilDiv(ceilDiv(std::uint64_t{width_} * c.h, hMax_), 8) *
                ceilDiv(ceilDiv(std::uint64_t{height_} * c.v, vMax_), 8);
    } else {
        mcus_ = ceilDiv(width_, 8 * hMax_) * ceilDiv(height_, 8 * vMax_);
    }
    if (!progressive_)
        decodable_ = huffman_ && ss_ == 0 && se_ == 63;
    else
        decodable_ = huffman_ && ss_ <= se_ && se_ <= 63 && (ss_ == 0 ? se_ == 0 : ah_ == 0 && scanCount_ == 1);
    scanLimits();
    return true;
}

void JpegDecoder::scanLimits()
{
    const std::int64_t base = precision_ == 12 ? 16384 : 1024;
    // The DC value is scaled by the point transform in every scan, the AC
    // coefficients only in progressive ones.
    const unsigned acShift = progressive_ ? al_ : 0;
    for (unsigned i = 0; i < scanCount_; ++i) {
        const auto& quant = quant_[components_[scanComponents_[i]].quant];
        for (unsigned k = 0; k < 64; ++k) {
            const std::int64_t q = quant[k];
            const std::int64_t step = q << (k == 0 ? al_ : acShift);
            limit_[i][k] = q == 0 ? INT64_MAX : (base + q) / step;
        }
    }
}

// Takes whole bytes of entropy data into the bit buffer up to a marker:
// a stuffed zero is data, anything else after 0xFF ends the bits.
void JpegDecoder::fill()
{
    Source& s = *s_;
    while (bitCount_ <= 56) {
        const std::span<const std::uint8_t> bytes = s.run(pos_);
        std::size_t i = 0;
        while (bitCount_ <= 56 && i < bytes.size() && bytes[i] != 0xFF) {
            bits_ = bits_ << 8 | bytes[i++];
            bitCount_ += 8;
        }
        pos_ += i;
        if (bitCount_ > 56 || bytes.empty())
            return;
        if (i == bytes.size())
            continue; // the next block
        // 0xFF: a stuffed zero is data, anything else ends the bits.
        if (!s.has(pos_, 2) || s.u8(pos_ + 1) != 0)
            return;
        pos_ += 2;
        bits_ = bits_ << 8 | 0xFF;
        bitCount_ += 8;
    }
}

int JpegDecoder::bit()
{
    if (bitCount_ == 0) {
        fill();
        if (bitCount_ == 0)
            return -1;
    }
    --bitCount_;
    return static_cast<int>(bits_ >> bitCount_ & 1);
}

std::int64_t JpegDecoder::receive(unsigned n)
{
    if (n == 0)
        return 0;
    if (bitCount_ < n)
        fill();
    if (bitCount_ < n)
        return -1;
    bitCount_ -= n;
    return static_cast<std::int64_t>(bits_ >> bitCount_ & ((1u << n) - 1));
}

inline int JpegDecoder::decode(const Table& t)
{
    if (!t.defined)
        return -1;
    if (bitCount_ < 16)
        fill();
    if (bitCount_ >= kFastBits) {
        const std::uint16_t e = t.fast[bits_ >> (bitCount_ - kFastBits) & ((1u << kFastBits) - 1)];
        if (e != 0) {
            bitCount_ -= e >> 8;
            return e & 0xFF;
        }
    }
    return decodeLong(t);
}

int JpegDecoder::decodeLong(const Table& t)
{
    int code = 0, first = 0, index = 0;
    for (unsigned len = 1; len <= 16; ++len) {
        const int b = bit();
        if (b < 0)
            return -1;
        code |= b;
        const int count = t.counts[len];
        if (code - count < first)
            return t.symbols[static_cast<std::size_t>(index + (code - first))];
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return -1; // a code no table entry has
}

bool JpegDecoder::coefficient(unsigned size, std::int32_t& value)
{
    const std::int64_t v = receive(size);
    if (v < 0)
        return false;
    if (size == 0) {
        value = 0;
        return true;
    }
    const auto raw = static_cast<std::int32_t>(v);
    value = raw < (1 << (size - 1)) ? raw - (1 << size) + 1 : raw;
    return true;
}

bool JpegDecoder::decodeBlock(unsigned i)
{
    const unsigned dcMax = precision_ == 12 ? 15 : 11, acMax = dcMax - 1;
    const Table& dc = tables_->dc[scanDc_[i]];
    const Table& ac = tables_->ac[scanAc_[i]];
    const std::array<std::int64_t, 64>& limit = limit_[i];
    auto dcValue = [&] {
        const int size = decode(dc);
        std::int32_t diff = 0;
        if (size < 0 || static_cast<unsigned>(size) > dcMax || !coefficient(static_cast<unsigned>(size), diff))
            return false;
        dcPredictor_[i] += diff;
        return (dcPredictor_[i] < 0 ? -dcPredictor_[i] : dcPredictor_[i]) <= limit[0];
    };
    if (progressive_ && ss_ == 0)
        return ah_ != 0 ? bit() >= 0 : dcValue();
    unsigned k = ss_;
    if (!progressive_) {
        if (!dcValue())
            return false;
        k = 1;
    } else if (eobRun_ > 0) {
        --eobRun_;
        return true;
    }
    if (!ac.defined)
        return false;
    while (k <= se_) {
        if (bitCount_ < 16)
            fill();
        if (bitCount_ >= kFastBits) {
            // Most coefficients: the code and the value's bits in one look.
            const std::int32_t f = ac.fastAc[bits_ >> (bitCount_ - kFastBits) & ((1u << kFastBits) - 1)];
            if (f != 0) {
                bitCount_ -= static_cast<unsigned>(f & 15);
                k += static_cast<unsigned>(f >> 4) & 15;
                const std::int64_t value = f >> 8;
                if (k > se_ || (value < 0 ? -value : value) > limit[k])
                    return false;
                ++k;
                continue;
            }
        }
        const int rs = decode(ac);
        if (rs < 0)
            return false;
        const unsigned run = static_cast<unsigned>(rs) >> 4, size = static_cast<unsigned>(rs) & 15;
        if (size == 0) {
            if (run == 15) {
                k += 16;
                if (k > se_ + 1)
                    return false;
                continue;
            }
            if (!progressive_)
                return true; // end of block
            const std::int64_t extra = receive(run);
            if (extra < 0)
                return false;
            eobRun_ = (1u << run) - 1 + static_cast<std::uint32_t>(extra);
            return true;
        }
        k += run;
        if (size > acMax || k > se_)
            return false;
        std::int32_t value = 0;
        if (!coefficient(size, value) || (value < 0 ? -std::int64_t{value} : value) > limit[k])
            return false;
        ++k;
    }
    return true;
}

bool JpegDecoder::decodeScan(JpegDecode& out, std::uint64_t until, std::uint64_t stopBefore)
{
    Source& s = *s_;
    bool saved = false;
    std::uint64_t savedPos = 0, savedMcu = 0;
    std::uint64_t savedBits = 0;
    std::uint32_t savedEob = 0;
    unsigned savedCount = 0;
    std::array<std::int64_t, 4> savedDc{};
    while (mcu_ < mcus_) {
        if (pos_ > stopBefore) {
            out.reached = saved;
            if (saved) {
                pos_ = savedPos;
                bits_ = savedBits;
                bitCount_ = savedCount;
                mcu_ = savedMcu;
                eobRun_ = savedEob;
                dcPredictor_ = savedDc;
            }
            return false;
        }
        if (stopBefore != UINT64_MAX) {
            saved = true;
            savedPos = pos_;
            savedBits = bits_;
            savedCount = bitCount_;
            savedMcu = mcu_;
            savedEob = eobRun_;
            savedDc = dcPredictor_;
        }
        if (pos_ > until) {
            out.reached = true;
            out.brokeAt = pos_;
            return false;
        }
        snapshot();
        bool ok = true;
        if (scanCount_ == 1) {
            ok = decodeBlock(0);
        } else {
            for (unsigned i = 0; i < scanCount_ && ok; ++i) {
                const Component& c = components_[scanComponents_[i]];
                for (unsigned b = 0; b < unsigned{c.h} * c.v && ok; ++b)
                    ok = decodeBlock(i);
            }
        }
        if (!ok) {
            out.brokeAt = pos_;
            return false;
        }
        ++mcu_;
        if (restartInterval_ != 0 && mcu_ % restartInterval_ == 0 && mcu_ < mcus_) {
            // The restart marker due here, in sequence, and nothing else.
            bitCount_ = 0;
            eobRun_ = 0;
            dcPredictor_.fill(0);
            std::uint64_t p = pos_;
            if (!s.has(p, 2) || s.u8(p) != 0xFF) {
                out.brokeAt = p;
                return false;
            }
            while (s.has(p, 1) && s.u8(p) == 0xFF)
                ++p;
            if (!s.has(p, 1) || s.u8(p) != 0xD0 + ((mcu_ / restartInterval_ - 1) & 7)) {
                out.brokeAt = p;
                return false;
            }
            pos_ = p + 1;
        }
    }
    // What is left of the last byte is padding; a marker must follow.
    bitCount_ = 0;
    if (!s.has(pos_, 2) || s.u8(pos_) != 0xFF || s.u8(pos_ + 1) == 0) {
        out.brokeAt = pos_;
        return false;
    }
    return true;
}

bool JpegDecoder::skipScan(JpegDecode& out)
{
    Source& s = *s_;
    for (std::uint64_t p = pos_;; ++p) {
        auto mark = s.findByte(0xFF, p);
        if (!mark || !s.has(*mark, 2)) {
            out.brokeAt = s.limit();
            return false;
        }
        p = *mark;
        const std::uint8_t next = s.u8(p + 1);
        if (next == 0x00 || isRestart(next)) {
            ++p;
        } else if (next != 0xFF) {
            pos_ = p;
            return true;
        }
    }
}

} // namespace qis::carve::validation
