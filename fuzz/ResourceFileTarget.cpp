#include "ResourceFileTarget.h"

#include "ErrorCapture.h"
#include "KorvelInfo.h"
#include "SavedSettings.h"

#include <sstream>

namespace {

std::string Usable()
{
    std::ostringstream problem;
    if (KorvelInfo::BufferSize < 1 || KorvelInfo::BufferSize > KorvelInfo::MaxBufferSize)
        problem << "BufferSize " << KorvelInfo::BufferSize;
    else if (KorvelInfo::Samplerate < KorvelInfo::MinSamplerate ||
             KorvelInfo::Samplerate > KorvelInfo::MaxSamplerate)
        problem << "Samplerate " << KorvelInfo::Samplerate;
    else if (KorvelInfo::FilterGranularity < 1 || KorvelInfo::FilterGranularity > KorvelInfo::MaxFilterGranularity)
        problem << "FilterGranularity " << KorvelInfo::FilterGranularity;
    else if (KorvelInfo::Polyphony < 1 || KorvelInfo::Polyphony > KorvelInfo::MaxPolyphony)
        problem << "Polyphony " << KorvelInfo::Polyphony;
    else if (KorvelInfo::UndoMemoryMB < 1 || KorvelInfo::UndoMemoryMB > KorvelInfo::MaxUndoMemoryMB)
        problem << "UndoMemoryMB " << KorvelInfo::UndoMemoryMB;
    else if (KorvelInfo::OutputDevice.empty() || KorvelInfo::MidiDevice.empty())
        problem << "an empty device path";
    return problem.str();
}

} // namespace

std::string ResourceFileTarget::Run(const uint8_t *data, size_t size)
{
    // Whatever the input, the settings are put back when this goes.
    const SavedSettings before;
    std::string problem;
    {
        ErrorCapture quiet;
        KorvelInfo info;
        std::istringstream in(std::string(reinterpret_cast<const char *>(data), size));
        info.ReadSettings(in);
        problem = Usable();
        if (problem.empty()) {
            // What was read must come back unchanged from the file the
            // program would write.
            const SavedSettings read;
            std::stringstream file;
            info.WriteSettings(file);
            info.ReadSettings(file);
            if (!read.SameAsNow()) problem = "the settings changed on being written and read again:\n" + file.str();
        }
    }
    return problem;
}
