// Reads arbitrary bytes as an MPEG audio file through a memory stream and
// asks every derived value; the ID3v2 length is checked on the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "transfer/media/mpeg_audio_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)MpegAudioInfo::id3v2Length(data, size);
    if (size == 0) return 0;
    FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (stream == nullptr) return 0;
    MpegAudioInfo info;
    if (info.read(stream, "fuzz") == 0) {
        if (!MpegAudioInfo::isValidHeader(info.header()) || info.headerPosition() + 4 > size) __builtin_trap();
        (void)info.bitrate();
        (void)info.durationText();
        (void)info.frameCount();
        (void)info.description();
        (void)info.channelModeName();
        (void)info.id3().genreName();
    }
    fclose(stream);
    return 0;
}
