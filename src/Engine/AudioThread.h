#ifndef AUDIO_THREAD_H
#define AUDIO_THREAD_H

// Marks the thread that runs the sound, so that what must never run there
// (allocation, file I/O, the GUI) can be caught. In builds with
// KORVEL_RT_CHECKS (Debug and the sanitizer build) an allocation or a free on
// the audio thread, or a Check there, says so in one line and aborts.
class AudioThread
{
public:
    // The current thread is the audio thread while a Scope lives: the device
    // thread or JACK's callback holds one around each block.
    class Scope
    {
    public:
        Scope();
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        bool m_Was;
    };

    static bool IsCurrent();
    // For code that may block or touch the GUI (file I/O, FLTK): aborts,
    // naming what, when called on the audio thread in a checked build.
    static void Check(const char *what);
    static constexpr bool Checked =
#ifdef KORVEL_RT_CHECKS
        true;
#else
        false;
#endif
};

#endif
