#include "recovery/carving/CarveValidation.h"

#include "recovery/carving/validation/ValidationSource.h"
#include "recovery/carving/validation/Validators.h"

#include <string_view>

namespace qis::carve {
namespace {

std::u16string lower(std::u16string text)
{
    for (char16_t& c : text)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    return text;
}

using namespace validation;
using Plain = Length (*)(Source&);
using Named = Length (*)(Source&, std::u16string&);
struct Kind {
    std::u16string_view extensions[8];
    Plain length;
    Named namedLength;
};
const Kind kKinds[] = {
    {{u"jpg", u"jpeg", u"jpe", u"jfif"}, jpeg, nullptr},
    {{u"png"}, png, nullptr},
    {{u"gif"}, gif, nullptr},
    {{u"bmp", u"dib"}, bmp, nullptr},
    {{u"tif", u"tiff", u"cr2", u"nef", u"dng", u"arw", u"orf", u"rw2"}, nullptr, tiff},
    {{u"ico", u"cur"}, ico, nullptr},
    {{u"psd", u"psb"}, psd, nullptr},
    {{u"xcf"}, xcf, nullptr},
    {{u"ppm", u"pgm", u"pbm", u"pnm"}, pnm, nullptr},
    {{u"rar"}, rar, nullptr},
    {{u"xz", u"txz"}, xz, nullptr},
    {{u"bz2", u"tbz2", u"tbz"}, bzip2, nullptr},
    {{u"flac"}, flac, nullptr},
    {{u"mkv", u"mka", u"mk3d", u"webm"}, nullptr, matroska},
    {{u"ts", u"mts", u"m2ts"}, mpegTransport, nullptr},
    {{u"mach", u"macho", u"dylib", u"bundle"}, machO, nullptr},
    {{u"gz", u"tgz"}, gzip, nullptr},
    {{u"wav", u"avi", u"riff", u"webp"}, riff, nullptr},
    {{u"mp4", u"mov", u"m4a", u"m4v", u"3gp", u"qt", u"heic", u"heif"}, isoBoxes, nullptr},
    {{u"avif", u"3g2"}, isoBoxes, nullptr},
    {{u"7z"}, sevenZip, nullptr},
    {{u"sqlite", u"db", u"sqlite3"}, sqlite, nullptr},
    {{u"zip", u"docx", u"xlsx", u"pptx", u"odt", u"ods", u"odp", u"jar"}, nullptr, zip},
    {{u"odg", u"epub", u"apk"}, nullptr, zip},
    {{u"pdf"}, pdf, nullptr},
    {{u"mp3"}, mp3, nullptr},
    {{u"ogg", u"oga", u"ogv", u"opus"}, ogg, nullptr},
    {{u"mpg", u"mpeg", u"vob"}, mpegProgram, nullptr},
    {{u"sh", u"bash", u"py", u"pl", u"rb"}, nullptr, script},
    {{u"xml", u"svg"}, nullptr, xml},
    {{u"html", u"htm"}, html, nullptr},
    {{u"json"}, json, nullptr},
    {{u"mbox"}, mbox, nullptr},
    {{u"eml"}, eml, nullptr},
    {{u"elf", u"so", u"o"}, elf, nullptr},
    {{u"exe", u"dll", u"sys", u"efi"}, pe, nullptr},
};

const Kind* kindOf(const std::u16string& extension)
{
    const std::u16string ext = lower(extension);
    for (const Kind& k : kKinds)
        for (std::u16string_view e : k.extensions)
            if (!e.empty() && e == ext)
                return &k;
    return nullptr;
}

} // namespace

bool hasValidator(const std::u16string& extension) { return kindOf(extension) != nullptr; }

std::optional<Validated> validateFile(const std::u16string& extension, readWriteInterface& reader, std::uint64_t start,
                                      std::uint64_t limit)
{
    return validateFile(extension, reader, FileLayout{{start, limit}});
}

std::optional<Validated> validateFile(const std::u16string& extension, readWriteInterface& reader,
                                      const FileLayout& layout, std::span<const std::uint8_t> head)
{
    const Kind* k = kindOf(extension);
    if (k == nullptr || layoutLength(layout) == 0)
        return std::nullopt;
    Source source(reader, layout, head);
    Validated v;
    Length length = k->length ? k->length(source) : k->namedLength(source, v.extension);
    if (!length)
        return std::nullopt;
    v.length = *length;
    if (v.extension == lower(extension))
        v.extension.clear();
    return v;
}

std::optional<std::uint64_t> validatedLength(const std::u16string& extension, readWriteInterface& reader,
                                             std::uint64_t start, std::uint64_t limit)
{
    auto v = validateFile(extension, reader, start, limit);
    return v ? std::optional<std::uint64_t>(v->length) : std::nullopt;
}

} // namespace qis::carve
