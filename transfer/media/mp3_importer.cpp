#include "transfer/media/mp3_importer.h"

#include <cstring>

#include "core/meta/file_meta.h"
#include "transfer/media/mpeg_audio_info.h"
#include "v4ada/digest/md5.h"

bool MP3Importer::import(FileMeta* meta, i4_file*, const char* extension) {
    if (std::strcmp(extension, "mp3") == 0) {
        MpegAudioInfo info;
        if (info.read(meta->path().c_str()) != 0) return false;
        media_set_type(meta, kMediaTypeAudio);
        media_set_format(meta, "mp3");
        if (info.hasId3()) {
            media_set_text_if_any(meta, kMediaTagArtist, info.id3().artist());
            media_set_text_if_any(meta, kMediaTagAlbum, info.id3().album());
            media_set_text_if_any(meta, kMediaTagTitle, info.id3().title());
        }
        media_set_text(meta, kMediaTagLength, info.durationText().c_str());
        media_set_int(meta, kMediaTagBitrate, info.bitrate());
        return true;
    }
    if (std::strcmp(extension, "ogg") == 0 || std::strcmp(extension, "mod") == 0) {
        media_set_type(meta, kMediaTypeAudio);
        media_set_format(meta, extension);
        return true;
    }
    if (std::strcmp(extension, "shn") == 0) {
        media_set_type(meta, kMediaTypeAudio);
        media_set_format(meta, "shn");
        char digest[2 * kMd5DigestSize + 1] = {};
        md5File(meta->path().c_str(), digest);
        media_set_text(meta, kMediaTagMd5Hash, digest);
        return true;
    }
    return false;
}
