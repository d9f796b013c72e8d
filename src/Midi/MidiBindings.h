#ifndef MIDI_BINDINGS_H
#define MIDI_BINDINGS_H

#include "Midi/MidiBinding.h"

#include <string>
#include <vector>

// The performer's bindings, kept in a small text file in the home directory,
// one binding a line, e.g. "note 1 36 press loop 0 Record": kind (note, cc,
// pc), channel 1 ... 16, number, mode (press, held, set), "main" or "loop"
// and the loop's number, then the control's name. Written whole under a
// temporary name and renamed into place whenever a binding changes; of two
// instances saving at once, the last one's bindings stand whole.
class MidiBindings
{
public:
    // $HOME/.KorvelLoopsMidi; empty when no home directory is known.
    static std::string DefaultPath();

    // Reads the file at path, which the bindings are saved to from then on.
    // A missing file holds no bindings; a damaged line is skipped with one
    // line naming it; anything but a regular file of at most 1 MB is not
    // read, with one line.
    void Load(const std::string &path);
    // False, with one line, when the file could not be written; the file
    // that was there is kept.
    bool Save() const;

    // The binding that the message acts on, or null.
    MidiBinding *Find(const MidiMessage &message);
    // Binds the message to the control, in place of what it was bound to.
    void Bind(const MidiBinding &binding);
    // Removes every binding of the control; false when it had none.
    bool Unbind(int loopID, const std::string &control);

    // One binding as a line of the file, and back; false for a damaged line.
    static std::string LineOf(const MidiBinding &binding);
    static bool ParseLine(const std::string &line, MidiBinding &binding);

    std::vector<MidiBinding> m_Bindings;
    std::string m_Path;
};

#endif
