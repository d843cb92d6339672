// Importer: one family of media files. Given a newly hashed file's record,
// the open file (at position 0) and its lower-case extension, it decides
// by the extension whether the file is its own, adds the media tags it
// finds to the record and reports whether it handled the file.
#pragma once

class FileMeta;
class i4_file;

// Values of the Type special tag.
constexpr const char* kMediaTypeAudio = "Audio";
constexpr const char* kMediaTypeVideo = "Video";
constexpr const char* kMediaTypeImage = "Image";
constexpr const char* kMediaTypePro = "Pro";
constexpr const char* kMediaTypeDoc = "Doc";

// Names of the tags the importers write.
constexpr const char* kMediaTagArtist = "Artist";
constexpr const char* kMediaTagAlbum = "Album";
constexpr const char* kMediaTagTitle = "Title";
constexpr const char* kMediaTagLength = "length";          // MP3, AVI
constexpr const char* kMediaTagBitrate = "bitrate";        // kbit/s, integer
constexpr const char* kMediaTagMd5Hash = "MD5 Hash";       // Shorten
constexpr const char* kMediaTagCodec = "codec";            // AVI
constexpr const char* kMediaTagVendor = "Vendor";          // FLAC from here on
constexpr const char* kMediaTagChannels = "Num Channels";  // integer
constexpr const char* kMediaTagSampleRate = "Sample Rate";          // integer
constexpr const char* kMediaTagBitsPerSample = "Bits per Sample";   // integer
constexpr const char* kMediaTagTotalSamples = "Total Samples";      // integer
constexpr const char* kMediaTagFlacLength = "Length";
constexpr const char* kMediaTagRawAudioMd5 = "Raw Audio MD5";
constexpr const char* kMediaTagWarning = "Warning:";
constexpr const char* kFlacMisformatted = "fLaC file misformatted";

class Importer {
public:
    virtual ~Importer() = default;
    virtual bool import(FileMeta* meta, i4_file* file, const char* extension) = 0;
};

// Helpers of the importers.
void media_set_type(FileMeta* meta, const char* type);
void media_set_format(FileMeta* meta, const char* format);
void media_set_text(FileMeta* meta, const char* name, const char* text);
// The same, only for a text that is not empty.
void media_set_text_if_any(FileMeta* meta, const char* name, const char* text);
void media_set_int(FileMeta* meta, const char* name, int value);
// True when the extension is one of the null-terminated list.
bool media_extension_in(const char* extension, const char* const* list);
