#include "transfer/media/flac_importer.h"

#include <cctype>
#include <cstring>

#include "core/meta/file_meta.h"
#include "transfer/media/media_stream.h"
#include "v4ada/memory/malloc4.h"

namespace {

// A comment name becomes a tag name only when it is a field name of the
// comment format (bytes 0x20 to 0x7D but '='), so that no comment can pose
// as a special tag, whose names are single control bytes.
bool isFieldName(const char* name) {
    if (name[0] == 0) return false;
    for (const char* c = name; *c != 0; c++) {
        unsigned char b = static_cast<unsigned char>(*c);
        if (b < 0x20 || b > 0x7D || b == '=') return false;
    }
    return true;
}

}  // namespace

bool FlacImporter::import(FileMeta* meta, i4_file*, const char* extension) {
    if (std::strcmp(extension, "flac") != 0) return false;
    id3_ = Id3v1Tag();
    vorbis_.clear();
    media_set_type(meta, kMediaTypeAudio);
    media_set_format(meta, "flac");

    MediaStream stream(meta->path().c_str());
    if (stream.get() == nullptr) return true;
    if (id3_.readLast(stream.get())) {
        media_set_text_if_any(meta, kMediaTagArtist, id3_.artist());
        media_set_text_if_any(meta, kMediaTagAlbum, id3_.album());
        media_set_text_if_any(meta, kMediaTagTitle, id3_.title());
        return true;
    }
    uint8_t magic[4];
    if (!media_read_at(stream.get(), 0, magic, sizeof magic) || std::memcmp(magic, "fLaC", 4) != 0) return true;
    if (!vorbis_.read(stream.get())) {
        media_set_text(meta, kMediaTagWarning, kFlacMisformatted);
        return true;
    }
    addFlacTags(meta);
    return true;
}

void FlacImporter::addFlacTags(FileMeta* meta) {
    media_set_text_if_any(meta, kMediaTagVendor, vorbis_.vendor().c_str());
    for (int i = 0; i < vorbis_.commentCount(); i++) {
        char name[kFlacCommentBuffer];
        char value[kFlacCommentBuffer];
        if (!vorbis_.comment(i, name, value, kFlacCommentBuffer) || !isFieldName(name)) continue;
        for (char* c = name + 1; *c != 0; c++) *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
        meta->addTag(MetaTag::makeTag(kTagString, name, value));
    }
    if (vorbis_.channels() > 1) media_set_int(meta, kMediaTagChannels, vorbis_.channels());
    if (vorbis_.sampleRate() != 0) media_set_int(meta, kMediaTagSampleRate, static_cast<int>(vorbis_.sampleRate()));
    if (vorbis_.bitsPerSample() > 1) media_set_int(meta, kMediaTagBitsPerSample, vorbis_.bitsPerSample());
    if (vorbis_.totalSamples() != 0)
        media_set_int(meta, kMediaTagTotalSamples, static_cast<int>(static_cast<uint32_t>(vorbis_.totalSamples())));
    std::string length = vorbis_.durationText();
    if (!length.empty()) media_set_text(meta, kMediaTagFlacLength, length.c_str());
    if (!vorbis_.md5().isZero()) {
        char* hex = vorbis_.md5().toHex();
        media_set_text(meta, kMediaTagRawAudioMd5, hex);
        i4_free(hex);
    }
}
