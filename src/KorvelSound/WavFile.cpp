#include "KorvelSound/WavFile.h"

#include "KorvelInfo.h"
#include "KorvelSound/Sample.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const long HeaderSize = 44;
const long DataSizeOffset = 40;
const long RiffSizeOffset = 4;
const long ChunkListStart = 12;
// What the header says until Close knows the real sizes.
const uint32_t PlaceholderRiffSize = 36;
const uint32_t PlaceholderDataSize = 2055;
// The RIFF size field (36 + data size) must fit in 32 bits.
const int64_t MaxDataBytes = 0xFFFFFFFFLL - 36;

const uint16_t FormatPCM = 1;
const uint16_t FormatExtensible = 0xFFFE;
// KSDATAFORMAT_SUBTYPE_PCM as it lies in the file.
const unsigned char PCMSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                        0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

void PutLE16(unsigned char *to, uint16_t value)
{
    to[0] = value & 0xFF;
    to[1] = value >> 8;
}

void PutLE32(unsigned char *to, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        to[i] = (value >> (8 * i)) & 0xFF;
}

uint16_t GetLE16(const unsigned char *from)
{
    return static_cast<uint16_t>(from[0] | (from[1] << 8));
}

uint32_t GetLE32(const unsigned char *from)
{
    return static_cast<uint32_t>(from[0]) | (static_cast<uint32_t>(from[1]) << 8) |
           (static_cast<uint32_t>(from[2]) << 16) | (static_cast<uint32_t>(from[3]) << 24);
}

bool WriteLE32At(FILE *stream, long offset, uint32_t value)
{
    unsigned char bytes[4];
    PutLE32(bytes, value);
    return std::fseek(stream, offset, SEEK_SET) == 0 && std::fwrite(bytes, 1, 4, stream) == 4;
}

// Only 16-bit integer PCM can be read straight into a Sample; anything else
// would play as noise.
bool IsPCM16(const unsigned char *format, uint32_t formatSize)
{
    if (formatSize < 16) return false;
    uint16_t tag = GetLE16(format);
    uint16_t channels = GetLE16(format + 2);
    uint16_t bits = GetLE16(format + 14);
    if (channels == 0 || bits != 16) return false;
    if (tag == FormatPCM) return true;
    return tag == FormatExtensible && formatSize >= 40 && std::memcmp(format + 24, PCMSubFormat, 16) == 0;
}

} // namespace

WavFile::WavFile() : m_Stream(nullptr), m_Count(0), m_Stereo(false), m_Mode(READ), m_PromisedCount(0), m_Full(false), m_Failed(false), m_ReportWriteErrors(true)
{
}

WavFile::~WavFile()
{
    Close();
}

int WavFile::Open(const std::string &path, Mode mode, Channels channels)
{
    if (m_Stream) {
        std::cerr << "WavFile: File already open [" << path << "]" << std::endl;
        return 0;
    }
    m_Stereo = false;
    m_Count = 0;
    m_PromisedCount = 0;
    m_Path = path;
    m_Mode = mode;
    m_Full = false;
    m_Failed = false;
    m_Target.clear();
    m_TempPath.clear();
    return mode == WRITE ? OpenForWriting(path, channels) : OpenForReading(path);
}

// Opens a file beside the target to write into; a device or other special
// file is written in place, since it cannot be replaced.
FILE *WavFile::OpenTemporary(const std::string &path)
{
    m_Target = path;
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        // Replace the file the link points at, not the link.
        if (char *real = realpath(path.c_str(), nullptr)) {
            m_Target = real;
            std::free(real);
        }
    }
    const bool exists = stat(m_Target.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode)) return std::fopen(m_Target.c_str(), "wb");

    std::string temp = m_Target + ".XXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0) return nullptr;
    // The new file gets what fopen would have given it, or the old file's mode.
    mode_t mode = exists ? (info.st_mode & 07777) : 0;
    if (!exists) {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    fchmod(fd, mode);
    FILE *stream = fdopen(fd, "wb");
    if (!stream) {
        close(fd);
        unlink(temp.c_str());
        return nullptr;
    }
    m_TempPath = temp;
    return stream;
}

int WavFile::OpenForWriting(const std::string &path, Channels channels)
{
    m_Stream = OpenTemporary(path);
    if (!m_Stream) {
        if (m_ReportWriteErrors) std::cerr << "WavFile: File open error [" << path << "]" << std::endl;
        return 0;
    }
    uint16_t channelCount = channels == STEREO ? 2 : 1;
    uint32_t rate = static_cast<uint32_t>(KorvelInfo::Samplerate);
    unsigned char header[HeaderSize];
    std::memcpy(header, "RIFF", 4);
    PutLE32(header + 4, PlaceholderRiffSize);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    PutLE32(header + 16, 16);
    PutLE16(header + 20, FormatPCM);
    PutLE16(header + 22, channelCount);
    PutLE32(header + 24, rate);
    PutLE32(header + 28, rate * channelCount * 2);
    PutLE16(header + 32, channelCount * 2);
    PutLE16(header + 34, 16);
    std::memcpy(header + 36, "data", 4);
    PutLE32(header + 40, PlaceholderDataSize);
    if (std::fwrite(header, 1, HeaderSize, m_Stream) != static_cast<size_t>(HeaderSize)) {
        WriteFailed();
        return 0;
    }
    return 1;
}

void WavFile::WriteFailed()
{
    m_Failed = true;
    if (m_ReportWriteErrors) std::cerr << "WavFile: Write error [" << m_Path << "]" << std::endl;
    if (m_Stream) std::fclose(m_Stream);
    m_Stream = nullptr;
    m_Count = 0;
    m_PromisedCount = 0;
    if (!m_TempPath.empty()) unlink(m_TempPath.c_str());
    m_TempPath.clear();
}

void WavFile::WrongFormat(const std::string &path)
{
    std::fclose(m_Stream);
    m_Stream = nullptr;
    std::cerr << "WavFile: File open error, wrong format [" << path << "]" << std::endl;
}

int WavFile::OpenForReading(const std::string &path)
{
    m_Stream = std::fopen(path.c_str(), "rb");
    if (!m_Stream) {
        std::cerr << "WavFile: File open error [" << path << "]" << std::endl;
        return 0;
    }
    unsigned char riff[12];
    if (std::fread(riff, 1, 12, m_Stream) != 12 || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0) {
        WrongFormat(path);
        return 0;
    }
    if (std::fseek(m_Stream, 0, SEEK_END) != 0) {
        WrongFormat(path);
        return 0;
    }
    const long fileSize = std::ftell(m_Stream);

    // Other chunks (LIST, JUNK, fact, bext...) may come before the sound, so
    // walk the chunk list; odd-sized chunks carry a pad byte.
    unsigned char format[40];
    uint32_t formatSize = 0;
    bool haveFormat = false;
    long dataStart = -1;
    uint32_t dataSize = 0;
    long chunkStart = ChunkListStart;
    while (chunkStart + 8 <= fileSize) {
        unsigned char chunk[8];
        if (std::fseek(m_Stream, chunkStart, SEEK_SET) != 0 || std::fread(chunk, 1, 8, m_Stream) != 8) break;
        uint32_t size = GetLE32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            formatSize = size;
            size_t wanted = std::min<size_t>(size, sizeof format);
            haveFormat = std::fread(format, 1, wanted, m_Stream) == wanted;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            dataStart = chunkStart + 8;
            dataSize = size;
            break;
        }
        chunkStart += 8 + static_cast<long>(size) + (size & 1);
    }
    if (!haveFormat || dataStart < 0 || !IsPCM16(format, formatSize)) {
        WrongFormat(path);
        return 0;
    }

    if (GetLE16(format + 2) == 2) {
        std::cerr << "Stereo wav file..." << std::endl;
        m_Stereo = true;
    }
    // The size field may be damaged (negative, or larger than the file):
    // count only the values really there, and remember what was promised so
    // that Load can still report the shortfall.
    int64_t present = std::max<int64_t>(0, fileSize - dataStart);
    m_Count = static_cast<int32_t>(std::min<int64_t>(present, dataSize) / 2);
    m_PromisedCount = static_cast<int32_t>(dataSize / 2);
    if (std::fseek(m_Stream, dataStart, SEEK_SET) != 0) {
        WrongFormat(path);
        return 0;
    }
    return 1;
}

int WavFile::Close()
{
    if (!m_Stream) return 0;
    if (m_Mode == READ) {
        std::fclose(m_Stream);
        m_Stream = nullptr;
        m_Count = 0;
        m_PromisedCount = 0;
        return 1;
    }
    uint32_t dataBytes = 2 * static_cast<uint32_t>(m_Count);
    uint32_t riffSize = PlaceholderRiffSize + dataBytes;
    // The header's sizes, then everything onto the disk before the new file
    // takes the old one's place.
    bool written = WriteComment(riffSize) && WriteLE32At(m_Stream, DataSizeOffset, dataBytes) &&
                   WriteLE32At(m_Stream, RiffSizeOffset, riffSize) && std::fflush(m_Stream) == 0;
    if (written && !m_TempPath.empty()) written = fsync(fileno(m_Stream)) == 0;
    if (!written) {
        WriteFailed();
        return 0;
    }
    FILE *stream = m_Stream;
    m_Stream = nullptr;
    m_Count = 0;
    m_PromisedCount = 0;
    if (std::fclose(stream) != 0 ||
        (!m_TempPath.empty() && std::rename(m_TempPath.c_str(), m_Target.c_str()) != 0)) {
        WriteFailed();
        return 0;
    }
    m_TempPath.clear();
    return 1;
}

int WavFile::Save(Sample &data)
{
    if (!m_Stream && m_Failed) return 0;
    if (!m_Stream) {
        std::cerr << "WavFile: No stream open" << std::endl;
        return 0;
    }
    int length = data.GetLength();
    if (length <= 0 || m_Full) return 0;
    if (m_Mode != WRITE) {
        std::cerr << "WavFile: Write error [" << m_Path << "]" << std::endl;
        return 0;
    }
    // Beyond 4 GB the header cannot describe the file any more: what is
    // there stays a complete file, and later blocks are dropped.
    if (2 * (static_cast<int64_t>(m_Count) + length) > MaxDataBytes) {
        if (m_ReportWriteErrors) std::cerr << "WavFile: File full at 4 GB, nothing more is written [" << m_Path << "]" << std::endl;
        m_Full = true;
        return 0;
    }
    // One buffered write: a Sample's storage is the file's data format.
    size_t written = std::fwrite(data.GetBuffer(), sizeof(short), length, m_Stream);
    if (written != static_cast<size_t>(length)) {
        WriteFailed();
        return 0;
    }
    m_Count += static_cast<int32_t>(written);
    return 1;
}

int WavFile::Load(Sample &data)
{
    if (!m_Stream) {
        std::cerr << "WavFile: No stream open" << std::endl;
        return 0;
    }
    // Never read past the caller's buffer, whatever the header said.
    size_t wanted = m_Mode == READ ? std::min<size_t>(m_Count, std::max(data.GetLength(), 0)) : 0;
    size_t got = wanted > 0 ? std::fread(data.GetBuffer(), sizeof(short), wanted, m_Stream) : 0;
    if (got < static_cast<size_t>(m_Count) || m_PromisedCount > m_Count || m_Mode != READ) {
        std::cerr << "WavFile: Read error" << std::endl;
        return 0;
    }
    return 1;
}

// Appends the comment chunk after the sound and counts it into the RIFF size.
bool WavFile::WriteComment(uint32_t &riffSize)
{
    if (m_Comment.empty()) return true;
    // The text with its terminating zero, padded to an even size.
    std::string text = m_Comment + '\0';
    if (text.size() % 2) text += '\0';
    const uint32_t listSize = 4 + 8 + static_cast<uint32_t>(text.size());
    // A file at the format's size limit has no room left for it.
    if (static_cast<uint64_t>(riffSize) + 8 + listSize > 0xFFFFFFFFULL) return true;
    unsigned char head[20];
    std::memcpy(head, "LIST", 4);
    PutLE32(head + 4, listSize);
    std::memcpy(head + 8, "INFOICMT", 8);
    PutLE32(head + 16, static_cast<uint32_t>(m_Comment.size() + 1));
    if (std::fseek(m_Stream, 0, SEEK_END) != 0 || std::fwrite(head, 1, 20, m_Stream) != 20 ||
        std::fwrite(text.data(), 1, text.size(), m_Stream) != text.size())
        return false;
    riffSize += 8 + listSize;
    return true;
}

std::string WavFile::ReadComment(const std::string &path)
{
    // Comments longer than this are not ours and are not read.
    const uint32_t MaxComment = 1024;
    std::string comment;
    FILE *stream = std::fopen(path.c_str(), "rb");
    if (!stream) return comment;
    unsigned char riff[12];
    long fileSize = -1;
    if (std::fread(riff, 1, 12, stream) == 12 && std::memcmp(riff, "RIFF", 4) == 0 &&
        std::memcmp(riff + 8, "WAVE", 4) == 0 && std::fseek(stream, 0, SEEK_END) == 0)
        fileSize = std::ftell(stream);
    // Every chunk, the sound's too; an INFO list holds sub-chunks of its own.
    long chunkStart = ChunkListStart;
    long listEnd = -1;
    while (comment.empty() && chunkStart + 8 <= fileSize) {
        unsigned char chunk[12];
        if (std::fseek(stream, chunkStart, SEEK_SET) != 0 || std::fread(chunk, 1, 8, stream) != 8) break;
        uint32_t size = GetLE32(chunk + 4);
        long next = chunkStart + 8 + static_cast<long>(size) + (size & 1);
        if (listEnd < 0 && std::memcmp(chunk, "LIST", 4) == 0 && std::fread(chunk + 8, 1, 4, stream) == 4 &&
            std::memcmp(chunk + 8, "INFO", 4) == 0) {
            listEnd = next;
            next = chunkStart + 12;
        } else if (listEnd >= 0 && std::memcmp(chunk, "ICMT", 4) == 0 && size <= MaxComment) {
            comment.resize(size);
            if (std::fread(&comment[0], 1, size, stream) != size) comment.clear();
            comment.erase(std::find(comment.begin(), comment.end(), '\0'), comment.end());
            break;
        }
        if (listEnd >= 0 && next >= listEnd) {
            next = listEnd;
            listEnd = -1;
        }
        chunkStart = next;
    }
    std::fclose(stream);
    return comment;
}
