#ifndef ENGINE_MIDI_H
#define ENGINE_MIDI_H

#include "Midi/EnginePedal.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class AudioEngine;
class Loop;

// The pedals that act in the audio period their JACK MIDI event arrives in:
// a loop's Play and Record. The process callback offers each event (Take);
// one the engine acts on is applied to its loop at the block that holds the
// event's frame (Apply), a take starting or ending at that very frame. The
// rest (other controls, learning, a take the engine cannot start) go to the
// GUI as before. Used on the audio thread only, except Swap's argument,
// which the GUI builds.
class EngineMidi
{
public:
    EngineMidi() = default;
    EngineMidi(const EngineMidi &) = delete;
    EngineMidi &operator=(const EngineMidi &) = delete;

    // Exchanges the pedals for the GUI's new set (the old set goes back in it).
    void Swap(std::vector<EnginePedal> &pedals) { m_Pedals.swap(pedals); }
    // True when the engine acts on the event (one message, at the engine
    // frame given; a take's input comes recordDelay frames later); false
    // hands it to the GUI.
    bool Take(const unsigned char *bytes, size_t size, int64_t frame, int recordDelay,
              const std::vector<Loop *> &loops);
    // Makes what is due on this loop before blockEnd; with the engine given,
    // a quantized loop's Play and takes wait for its next line after the
    // event, as the window's do.
    void Apply(Loop &loop, int64_t blockEnd, const AudioEngine *engine = nullptr);
    // Drops what waited for loops no longer played.
    void Forget(const std::vector<Loop *> &loops);

    static constexpr int MostPending = 64;

private:
    struct Pending
    {
        int m_LoopID;
        EnginePedal::Action m_Action;
        bool m_Toggle; // a press: the other state; else m_Down says which
        bool m_Down;
        int64_t m_Frame;
    };
    std::vector<EnginePedal> m_Pedals;
    Pending m_Pending[MostPending];
    int m_Count = 0;
};

#endif
