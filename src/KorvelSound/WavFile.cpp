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
// What the header says until Close knows the real sizes.
const uint32_t PlaceholderRiffSize = 36;
const uint32_t PlaceholderDataSize = 2055;
// The RIFF size field (36 + data size) must fit in 32 bits.
const int64_t MaxDataBytes = 0xFFFFFFFFLL - 36;

const uint16_t FormatPCM = 1;

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

bool WriteLE32At(FILE *stream, long offset, uint32_t value)
{
    unsigned char bytes[4];
    PutLE32(bytes, value);
    return std::fseek(stream, offset, SEEK_SET) == 0 && std::fwrite(bytes, 1, 4, stream) == 4;
}

} // namespace

WavFile::WavFile() : m_Stream(nullptr), m_Count(0), m_Full(false), m_Failed(false), m_ReportWriteErrors(true)
{
}

WavFile::~WavFile()
{
    Close();
}

int WavFile::Open(const std::string &path, Mode, Channels channels)
{
    if (m_Stream) {
        std::cerr << "WavFile: File already open [" << path << "]" << std::endl;
        return 0;
    }
    m_Count = 0;
    m_Path = path;
    m_Full = false;
    m_Failed = false;
    m_Target.clear();
    m_TempPath.clear();
    return OpenForWriting(path, channels);
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
    if (!m_TempPath.empty()) unlink(m_TempPath.c_str());
    m_TempPath.clear();
}

int WavFile::Close()
{
    if (!m_Stream) return 0;
    uint32_t dataBytes = 2 * static_cast<uint32_t>(m_Count);
    // The header's sizes, then everything onto the disk before the new file
    // takes the old one's place.
    bool written = WriteLE32At(m_Stream, DataSizeOffset, dataBytes) &&
                   WriteLE32At(m_Stream, RiffSizeOffset, PlaceholderRiffSize + dataBytes) &&
                   std::fflush(m_Stream) == 0;
    if (written && !m_TempPath.empty()) written = fsync(fileno(m_Stream)) == 0;
    if (!written) {
        WriteFailed();
        return 0;
    }
    FILE *stream = m_Stream;
    m_Stream = nullptr;
    m_Count = 0;
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
