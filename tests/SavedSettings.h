#ifndef SAVED_SETTINGS_H
#define SAVED_SETTINGS_H

#include "KorvelInfo.h"
#include "KorvelSound/Output.h"

#include <string>

// Keeps a copy of every program setting (and whether the output is paced) and puts them back when it goes, so
// a test may change the settings without leaking into the next test.
class SavedSettings
{
public:
    SavedSettings()
        : m_BufferSize(KorvelInfo::BufferSize), m_Samplerate(KorvelInfo::Samplerate),
          m_WantMidi(KorvelInfo::WantMidi), m_MidiDevice(KorvelInfo::MidiDevice),
          m_FilterGranularity(KorvelInfo::FilterGranularity), m_OutputDevice(KorvelInfo::OutputDevice),
          m_WantRealtimeOut(KorvelInfo::WantRealtimeOut), m_Polyphony(KorvelInfo::Polyphony),
          m_UndoMemoryMB(KorvelInfo::UndoMemoryMB), m_CompensateLatency(KorvelInfo::CompensateLatency),
          m_FadeMs(KorvelInfo::FadeMs), m_OscPort(KorvelInfo::OscPortNumber),
          m_OscAddress(KorvelInfo::OscAddress), m_SyncChoice(KorvelInfo::SyncChoice),
          m_Unpaced(Output::Unpaced)
    {
    }
    ~SavedSettings() { Restore(); }

    void Restore() const
    {
        KorvelInfo::BufferSize = m_BufferSize;
        KorvelInfo::SyncChoice = m_SyncChoice;
        KorvelInfo::Samplerate = m_Samplerate;
        KorvelInfo::WantMidi = m_WantMidi;
        KorvelInfo::MidiDevice = m_MidiDevice;
        KorvelInfo::FilterGranularity = m_FilterGranularity;
        KorvelInfo::OutputDevice = m_OutputDevice;
        KorvelInfo::WantRealtimeOut = m_WantRealtimeOut;
        KorvelInfo::Polyphony = m_Polyphony;
        KorvelInfo::UndoMemoryMB = m_UndoMemoryMB;
        KorvelInfo::CompensateLatency = m_CompensateLatency;
        KorvelInfo::FadeMs = m_FadeMs;
        KorvelInfo::OscPortNumber = m_OscPort;
        KorvelInfo::OscAddress = m_OscAddress;
        Output::Unpaced = m_Unpaced;
    }

    // Whether the settings now in force are the ones kept.
    bool SameAsNow() const
    {
        return m_BufferSize == KorvelInfo::BufferSize && m_Samplerate == KorvelInfo::Samplerate &&
               m_WantMidi == KorvelInfo::WantMidi && m_MidiDevice == KorvelInfo::MidiDevice &&
               m_FilterGranularity == KorvelInfo::FilterGranularity &&
               m_OutputDevice == KorvelInfo::OutputDevice &&
               m_WantRealtimeOut == KorvelInfo::WantRealtimeOut && m_Polyphony == KorvelInfo::Polyphony &&
               m_UndoMemoryMB == KorvelInfo::UndoMemoryMB &&
               m_CompensateLatency == KorvelInfo::CompensateLatency && m_FadeMs == KorvelInfo::FadeMs &&
               m_OscPort == KorvelInfo::OscPortNumber && m_OscAddress == KorvelInfo::OscAddress;
    }

    SavedSettings(const SavedSettings &) = delete;
    SavedSettings &operator=(const SavedSettings &) = delete;

private:
    int m_BufferSize;
    int m_Samplerate;
    bool m_WantMidi;
    std::string m_MidiDevice;
    int m_FilterGranularity;
    std::string m_OutputDevice;
    bool m_WantRealtimeOut;
    int m_Polyphony;
    int m_UndoMemoryMB;
    bool m_CompensateLatency;
    int m_FadeMs;
    int m_OscPort;
    std::string m_OscAddress;
    int m_SyncChoice;
    // Not a setting, but tests switch it the same way.
    bool m_Unpaced;
};

#endif
