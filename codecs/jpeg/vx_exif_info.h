// Reader for the marker sections at the head of a JPEG stream: camera data from
// the EXIF block (APP1) and the comment, and the write-back of those sections
// into a freshly encoded stream. Works on VxFile only; no libjpeg.
#pragma once

#include <cstdint>

#include "core/vx_file.h"

struct tag_ExifInfo {
    char version[5];
    char make[32];
    char model[40];
    char dateTime[20];
    int32_t height;
    int32_t width;
    int32_t orientation;
    int32_t isColor;
    int32_t process;
    int32_t flashUsed;
    float focalLength;
    float exposureTime;
    float apertureFNumber;
    float distance;
    float ccdWidth;
    float exposureBias;
    int32_t whiteBalance;
    int32_t meteringMode;
    int32_t exposureProgram;
    int32_t isoEquivalent;
    int32_t compressionLevel;
    float focalPlaneXRes;
    float focalPlaneYRes;
    float focalPlaneUnits;
    float xResolution;
    float yResolution;
    float resolutionUnit;
    float brightness;
    char comments[1000];
    uint8_t* thumbnail;
    uint32_t thumbnailSize;
    bool isExif;
};

class VxExifInfo {
public:
    enum ReadMode { ReadModeExif = 1, ReadModeImage = 2 };
    static constexpr int kMaxSections = 20;
    static constexpr int PseudoImageMarker = 0x123;

    struct ExifSection {
        uint8_t* data;  // starts with the two length bytes (image data: raw bytes)
        int type;
        int size;
    };

    explicit VxExifInfo(tag_ExifInfo* info = nullptr);
    ~VxExifInfo();
    VxExifInfo(const VxExifInfo&) = delete;
    VxExifInfo& operator=(const VxExifInfo&) = delete;

    bool DecodeExif(VxFile* file, int readMode = ReadModeExif);
    bool EncodeExif(VxFile* file);
    void DiscardAllButExif();

    const tag_ExifInfo* GetInfo() const { return m_exifinfo; }
    const char* GetLastError() const { return m_szLastError; }
    int GetSectionCount() const { return SectionsRead; }
    const ExifSection* GetSection(int i) const {
        return i >= 0 && i < SectionsRead ? &Sections[i] : nullptr;
    }
    // Set when EncodeExif began writing and a write came up short: the stream
    // then holds a damaged file.
    bool WriteFailed() const { return m_writeFailed; }

protected:
    ExifSection* FindSection(int type);
    bool process_EXIF(uint8_t* data, unsigned length);
    bool ProcessExifDir(uint8_t* dirStart, uint8_t* offsetBase, unsigned exifLength,
                        tag_ExifInfo* info, uint8_t** lastReferenced);
    double ConvertAnyFormat(const void* value, int format);
    void process_COM(const uint8_t* data, int length);
    void process_SOFn(const uint8_t* data, int marker);
    int Get16m(const void* p);
    int Get16u(const void* p);
    int32_t Get32s(const void* p);
    uint32_t Get32u(const void* p);

private:
    void SetError(const char* text);
    bool WalkDir(uint8_t* dirStart, uint8_t* base, unsigned length, tag_ExifInfo* info, int depth);
    bool WriteAll(VxFile* file, const void* data, size_t size);

    tag_ExifInfo* m_exifinfo;
    bool freeinfo;
    char m_szLastError[256];
    int ExifImageWidth;
    bool MotorolaOrder;
    ExifSection Sections[kMaxSections];
    int SectionsRead;
    bool m_writeFailed = false;
    // Directories already read in the current EXIF block (offsets from the
    // TIFF header); a link to one of them is not followed again.
    static constexpr int kMaxDirs = 64;
    unsigned m_visited[kMaxDirs];
    int m_visitedCount = 0;
};
