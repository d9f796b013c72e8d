// A scripted performer for hours of audio: the real application, main window
// and eight loop windows on an X server, with no sound device (the resource
// file says WantRealtimeOut 0, so nothing paces the cycle). Every so many
// cycles it does something a person could do, through the same widget
// callbacks, key chords and mouse gestures a person reaches, chosen at
// random from a fixed seed. It prints the resident memory as it goes and
// fails when memory keeps growing after the first minute of audio.
//
// Usage: korvel-soak [cycles] [seed] [allowed growth in MB]
#include "GUI/DelayGUI.h"
#include "GUI/FileChooser.h"
#include "GUI/Fl_Knob.h"
#include "GUI/Fl_LED_Button.h"
#include "GUI/Fl_Loop.h"
#include "GUI/Fl_Trigger.h"
#include "GUI/LoopGUI.h"
#include "GUI/OutputGUI.h"
#include "GUI/ReverbGUI.h"
#include "KorvelInfo.h"
#include "KorvelLoopsInfo.h"
#include "KorvelSound/WavFile.h"
#include "Loop.h"
#include "LoopsApp.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

// The key state FLTK keeps for Fl::event_key; the performer presses chords
// by setting it, as the X server's key events would.
extern char fl_key_vector[32];

namespace {

const int LoopCount = 8;
// Sounds are kept below this, so that memory can stay flat however long the
// performance runs: a performer doubling a loop forever would need ever more.
const int MaxSoundLength = 6 * 44100;
const int CyclesPerAudioMinute = 60 * 44100 / 512;
// The undo histories fill this within the first minutes and then stay there.
const int UndoMB = 8;

std::mt19937 Random;

int Pick(int range)
{
    return static_cast<int>(Random() % static_cast<unsigned>(range));
}

double Between(double low, double high)
{
    return low + (high - low) * (Random() / 4294967296.0);
}

long MemoryKB(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, std::strlen(field), field) == 0) return std::atol(line.c_str() + std::strlen(field) + 1);
    return -1;
}

// Answers every chooser the way the script wants at that moment.
class ScriptedChooser : public FileChooser
{
public:
    std::string Ask(const char *title, const char *) override
    {
        std::string t = title;
        if (t == "Pick a Wav file to load") return m_LoadChoices[Pick(static_cast<int>(m_LoadChoices.size()))];
        if (t == "Save loop as Wav file") return m_Dir + "/saved" + std::to_string(Pick(3)) + ".wav";
        if (t == "Pick a Wav file to save to") return m_Dir + "/recording.wav";
        if (t == "Save a Workspace" || t == "Load a Workspace") return m_Dir + "/jam.lws";
        return "";
    }
    std::string m_Dir;
    std::vector<std::string> m_LoadChoices;
};

class Performer
{
public:
    Performer(LoopsApp *app, ScriptedChooser *chooser, Sample *input)
        : m_App(app), m_Chooser(chooser), m_Input(input)
    {
    }

    void Act(long cycle)
    {
        m_Actions++;
        StopLongTakes(cycle);
        if (m_App->m_Loops.size() < LoopCount && Pick(8) == 0) {
            m_App->m_NewLoopBtn->do_callback();
            return;
        }
        if (m_App->m_Loops.empty() || Pick(40) == 0) {
            Main(cycle);
            return;
        }
        auto it = m_App->m_Loops.begin();
        std::advance(it, Pick(static_cast<int>(m_App->m_Loops.size())));
        LoopGUI *panel = it->second->m_GUI;
        if (it->second->m_Loop->m_Delete) return;
        if (Pick(3) == 0) {
            // Counted, to show that the gestures reach the loop.
            const Loop *loop = it->second->m_Loop;
            const short *data = loop->m_StoreBuffer.GetBuffer();
            const int64_t length = loop->m_StoreBuffer.GetLength();
            const double pos = loop->m_Pos;
            const size_t markers = panel->m_Triggers.size();
            Display(panel);
            if (data != loop->m_StoreBuffer.GetBuffer() || length != loop->m_StoreBuffer.GetLength() ||
                pos != loop->m_Pos || markers != panel->m_Triggers.size())
                m_DisplayChanges++;
        } else
            Controls(panel, cycle);
    }

    // New loops get the performer's input block to record from.
    void GiveInputs()
    {
        for (auto &item : m_App->m_Loops) item.second->m_Loop->m_Input = m_Input->GetBuffer();
    }

    long m_Actions = 0;
    long m_DisplayChanges = 0;

private:
    void Main(long cycle)
    {
        switch (Pick(8)) {
        case 0:
            if (m_App->m_Loops.size() < LoopCount) m_App->m_NewLoopBtn->do_callback();
            break;
        case 1:
            m_App->m_SaveWorkspaceBtn->do_callback();
            break;
        case 2:
            if (Pick(4) == 0) m_App->m_LoadWorkspaceBtn->do_callback();
            break;
        case 3:
            Turn(m_App->m_SnapPointsKnob, 0, 50);
            break;
        case 4:
            Toggle(m_App->m_SnapBtn);
            break;
        case 5:
            Turn(m_App->m_OutputGUI.m_VolumeKnob, 0, 1);
            break;
        case 6:
            // The output recording runs at most a little while: its file is
            // the one thing that must grow.
            if (!m_App->m_OutputGUI.m_RecordBtn->value()) m_RecordingSince = cycle;
            Toggle(m_App->m_OutputGUI.m_RecordBtn);
            break;
        default:
            Effects(&m_App->m_DelayGUI, &m_App->m_ReverbGUI);
            break;
        }
        GiveInputs();
    }

    void Effects(DelayGUI *delay, ReverbGUI *reverb)
    {
        switch (Pick(7)) {
        case 0: Turn(delay->m_DelayKnob, 0, 1); break;
        case 1: Turn(delay->m_FeedbackKnob, 0, 1); break;
        case 2: Toggle(delay->m_BypassBtn); break;
        case 3: Turn(reverb->m_TimeKnob, 0, 0.25); break;
        case 4: Turn(reverb->m_FeedbackKnob, 0, 1); break;
        case 5: Turn(reverb->m_RandomKnob, 0, 0.01); break;
        default: Toggle(reverb->m_BypassBtn); break;
        }
    }

    void Controls(LoopGUI *panel, long cycle)
    {
        Loop *loop = panel->m_Loop;
        switch (Pick(19)) {
        case 0: Slide(panel->m_VolumeSlider, 0, 1); break;
        case 1: Slide(panel->m_CutoffSlider, 0, 100); break;
        case 2: Turn(panel->m_EmphasisKnob, 0, 10); break;
        case 3: Turn(panel->m_BalanceKnob, 0, 2); break;
        case 4: Turn(panel->m_SpeedKnob, 0, 3); break;
        case 5: Turn(panel->m_LengthKnob, 0, 1); break;
        case 6: Turn(panel->m_WaveSizeKnob, 0, 10); break;
        case 7:
            if (!panel->m_RecordBtn->value()) m_TakeStarted[loop->m_ID] = cycle;
            Toggle(panel->m_RecordBtn);
            break;
        case 8: panel->m_LoadBtn->do_callback(); break;
        case 9: Toggle(panel->m_EffectsBtn); break;
        case 10:
            if (loop->m_LoopLength * 2 <= MaxSoundLength) panel->m_DoubleBtn->do_callback();
            break;
        case 11:
            if (m_App->m_MasterLength <= MaxSoundLength) panel->m_MatchBtn->do_callback();
            break;
        case 12: panel->m_SaveBtn->do_callback(); break;
        case 13: Toggle(panel->m_PlayBtn); break;
        case 14: Toggle(panel->m_MasterBtn); break;
        case 15: Toggle(panel->m_UpdateBtn); break;
        case 16: Effects(panel->m_DelayGUI, panel->m_ReverbGUI); break;
        case 17:
            // Closing the window; a new loop takes its place later.
            if (Pick(4) == 0) panel->m_Display->do_callback();
            break;
        default:
            if (panel->m_Triggers.size() > 8) break;
            panel->NewTrigger()->m_TargetID = Pick(m_App->m_NextID + 1);
            if (panel->m_Triggers.size() > 6) panel->m_Triggers.back()->m_Count = Pick(4);
            break;
        }
    }

    // Mouse gestures and key chords on the loop's ring.
    void Display(LoopGUI *panel)
    {
        Fl_Loop *display = panel->m_Display;
        if (!display->shown()) return;
        switch (Pick(3)) {
        case 0: {
            // Select with the left button: press at one angle, drag to another.
            Mouse(display, FL_PUSH, 1, Between(0, 360));
            Mouse(display, FL_DRAG, 1, Between(0, 360));
            Mouse(display, FL_RELEASE, 1, 0);
            break;
        }
        case 1:
            // Middle button: jump the play position; right button: move the sound.
            if (Pick(2) == 0) {
                Mouse(display, FL_PUSH, 2, Between(0, 360));
            } else {
                Mouse(display, FL_PUSH, 3, Between(0, 360));
                Mouse(display, FL_DRAG, 3, Between(0, 360));
            }
            Mouse(display, FL_RELEASE, Fl::event_button(), 0);
            break;
        default: {
            const char keys[] = "cvxbzrhsatuy";
            char key = keys[Pick(12)];
            Loop *loop = panel->m_Loop;
            // Pasting grows the sound; keep it within bounds. Undo and redo
            // only go back to sounds that were within them.
            if ((key == 'v') && loop->m_StoreBuffer.GetLength() + m_App->m_Clipboard.GetLength() > MaxSoundLength)
                key = 'c';
            if (key == 't' && panel->m_Triggers.size() > 8) key = 'a';
            Chord(display, key);
            break;
        }
        }
    }

    void Mouse(Fl_Loop *display, int event, int button, double angle)
    {
        const double r = Between(115, 140);
        const double radians = angle * M_PI / 180.0;
        Fl::e_x = static_cast<int>(150 + std::sin(radians) * r);
        Fl::e_y = static_cast<int>(150 + std::cos(radians) * r);
        Fl::e_x_root = Fl::e_x + display->x();
        Fl::e_y_root = Fl::e_y + display->y();
        Fl::e_keysym = FL_Button + button;
        Fl::e_state = event == FL_RELEASE ? 0 : (FL_BUTTON1 << (button - 1));
        Fl::handle(event, display);
    }

    static void SetKey(int keysym, bool down)
    {
        int code = XKeysymToKeycode(fl_display, keysym);
        if (code == 0) return;
        if (down)
            fl_key_vector[code / 8] |= static_cast<char>(1 << (code % 8));
        else
            fl_key_vector[code / 8] &= static_cast<char>(~(1 << (code % 8)));
    }

    void Chord(Fl_Loop *display, char key)
    {
        SetKey(FL_Control_L, true);
        SetKey(key, true);
        Fl::e_keysym = key;
        Fl::e_state = FL_CTRL;
        Fl::focus(display);
        Fl::handle(FL_KEYDOWN, display);
        SetKey(key, false);
        SetKey(FL_Control_L, false);
        Fl::e_state = 0;
    }

    void Turn(Fl_Valuator *valuator, double low, double high)
    {
        valuator->value(Between(low, high));
        valuator->do_callback();
    }

    void Slide(Fl_Slider *slider, double low, double high)
    {
        Turn(slider, low, high);
    }

    void Toggle(Fl_Button *button)
    {
        button->value(!button->value());
        button->do_callback();
    }

    // Takes end after at most a few seconds, as the performer lets go of the
    // button; the output recording likewise.
    void StopLongTakes(long cycle)
    {
        for (auto &item : m_App->m_Loops) {
            LoopGUI *panel = item.second->m_GUI;
            if (panel->m_RecordBtn->value() && cycle - m_TakeStarted[item.first] > 400) Toggle(panel->m_RecordBtn);
        }
        if (m_App->m_OutputGUI.m_RecordBtn->value() && cycle - m_RecordingSince > 2000)
            Toggle(m_App->m_OutputGUI.m_RecordBtn);
    }

    LoopsApp *m_App;
    ScriptedChooser *m_Chooser;
    Sample *m_Input;
    std::map<int, long> m_TakeStarted;
    long m_RecordingSince = 0;
};

// Sounds for the loops to load: tones the program saves itself, a stereo
// file, and one file that is not a WAV file at all.
std::vector<std::string> MakeSounds(const std::string &dir)
{
    std::vector<std::string> paths;
    for (int n = 0; n < 3; n++) {
        const int length = 20000 + 30000 * n;
        Sample sound(length);
        for (int i = 0; i < length; i++)
            sound.Set(i, static_cast<short>(12000 * std::sin(i * 0.01 * (n + 1)) * ((i / 5000) % 2 ? 1 : 0.3)));
        WavFile file;
        paths.push_back(dir + "/tone" + std::to_string(n) + ".wav");
        file.Open(paths.back(), WavFile::WRITE, n == 2 ? WavFile::STEREO : WavFile::MONO);
        file.Save(sound);
    }
    paths.push_back(dir + "/not-a-wav.wav");
    std::ofstream(paths.back()) << "this is no sound\n";
    return paths;
}

} // namespace

int main(int argc, char **argv)
{
    const long cycles = argc > 1 ? std::atol(argv[1]) : 310000;
    const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atol(argv[2])) : 1;
    // What may move without a leak: the sounds (eight loops, their hold
    // buffers and the clipboard, each up to MaxSoundLength), the undo
    // histories (up to UndoMB) and, under AddressSanitizer, its quarantine of
    // freed memory (16 MB in the soak test).
    const long allowedGrowthKB = (argc > 3 ? std::atol(argv[3]) : 48 + UndoMB) * 1024;
    Random.seed(seed);
    srand(seed);

    // A home of its own whose resource file keeps the sound device closed.
    char home[] = "/tmp/korvel-soak.XXXXXX";
    if (!mkdtemp(home)) return 2;
    setenv("HOME", home, 1);
    std::ofstream(std::string(home) + "/.KorvelLoopsrc")
        << "KorvelSound resource file\n\nBufferSize        = 512\nSamplerate        = 44100\n"
           "WantMidi          = 0\nFilterGranularity = 50\nOutput            = /dev/dsp\n"
           "Midi              = /dev/midi\nWantRealtimeOut   = 0\nPolyphony         = 1\n"
           "UndoMemoryMB      = "
        << UndoMB << "\n";
    KorvelLoopsInfo::Instance()->LoadResourceFile();
    if (KorvelInfo::WantRealtimeOut) {
        std::cerr << "soak: the resource file was not read" << std::endl;
        return 2;
    }

    ScriptedChooser chooser;
    chooser.m_Dir = home;
    chooser.m_LoadChoices = MakeSounds(home);
    FileChooser::SetCurrent(&chooser);

    // An hour of audio in minutes: nothing paces the cycle.
    Output::Unpaced = true;
    LoopsApp *app = new LoopsApp;
    Fl::visual(FL_DOUBLE);
    app->CreateWindow()->show();
    Sample input(KorvelInfo::BufferSize);
    Performer performer(app, &chooser, &input);

    // Eight loops with sound, effects and markers that start one another.
    for (int n = 0; n < LoopCount; n++) {
        app->m_NewLoopBtn->do_callback();
        LoopGUI *panel = app->m_Loops.rbegin()->second->m_GUI;
        panel->m_LoadBtn->do_callback();
        if (panel->m_Loop->m_StoreBuffer.GetLength() == 0) {
            // The bad file was picked: load a good one.
            panel->m_Loop->LoadWav(chooser.m_LoadChoices[n % 3]);
            panel->Refresh();
        }
        panel->m_EffectsBtn->value(1);
        panel->m_EffectsBtn->do_callback();
        panel->m_DelayGUI->m_BypassBtn->value(0);
        panel->m_DelayGUI->m_BypassBtn->do_callback();
        panel->NewTrigger()->m_TargetID = (n + 1) % LoopCount;
        panel->m_Triggers.back()->m_Angle = 45.0f * n;
    }
    performer.GiveInputs();

    long firstMinuteRSS = -1;
    std::printf("soak: %ld cycles (%.1f minutes of audio), seed %u\n", cycles,
                cycles / static_cast<double>(CyclesPerAudioMinute), seed);
    for (long cycle = 1; cycle <= cycles; cycle++) {
        if (!Fl::check()) {
            std::cerr << "soak: the last window closed" << std::endl;
            break;
        }
        // The input a take records: a changing tone.
        for (int i = 0; i < KorvelInfo::BufferSize; i++)
            input.Set(i, static_cast<short>(8000 * std::sin((cycle * KorvelInfo::BufferSize + i) * 0.03)));
        app->Run();
        if (cycle % 50 == 0) {
            performer.Act(cycle);
            performer.GiveInputs();
        }
        if (cycle % CyclesPerAudioMinute == 0 || cycle == cycles) {
            long rss = MemoryKB("VmRSS:");
            if (cycle == CyclesPerAudioMinute) firstMinuteRSS = rss;
            std::printf("soak: minute %5.1f  cycle %7ld  actions %5ld  loops %zu  VmRSS %ld kB  VmHWM %ld kB\n",
                        cycle / static_cast<double>(CyclesPerAudioMinute), cycle, performer.m_Actions,
                        app->m_Loops.size(), rss, MemoryKB("VmHWM:"));
            std::fflush(stdout);
        }
    }
    const long endRSS = MemoryKB("VmRSS:");
    std::printf("soak: %ld actions, %ld of them ring gestures or chords that changed a loop\n", performer.m_Actions,
                performer.m_DisplayChanges);
    delete app;
    FileChooser::SetCurrent(nullptr);
    std::system((std::string("rm -rf '") + home + "'").c_str());

    if (firstMinuteRSS >= 0 && endRSS - firstMinuteRSS > allowedGrowthKB) {
        std::printf("soak: FAILED: resident memory grew by %ld kB after the first minute (allowed %ld kB)\n",
                    endRSS - firstMinuteRSS, allowedGrowthKB);
        return 1;
    }
    std::printf("soak: passed: growth after the first minute %ld kB (allowed %ld kB)\n",
                firstMinuteRSS >= 0 ? endRSS - firstMinuteRSS : 0, allowedGrowthKB);
    return 0;
}
