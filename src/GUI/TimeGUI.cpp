#include "GUI/TimeGUI.h"

#include "AudioDevices/JackDevice.h"
#include "Engine/AudioEngine.h"
#include "KorvelInfo.h"
#include "Loop.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Value_Input.H>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace {

TimeGUI *PanelOf(Fl_Widget *widget)
{
    return static_cast<TimeGUI *>(widget->user_data());
}

void BpmTyped(Fl_Widget *widget, void *)
{
    TimeGUI *panel = PanelOf(widget);
    double bpm = static_cast<Fl_Value_Input *>(widget)->value();
    // Below the slowest tempo is no grid.
    bpm = bpm < TempoMap::MinBpm ? 0 : std::min(bpm, TempoMap::MaxBpm);
    Fl_Value_Input *input = static_cast<Fl_Value_Input *>(widget);
    input->value(bpm);
    // The text as the value reads, whatever was typed ("060", "1e2").
    char text[128];
    input->format(text);
    input->input.value(text);
    panel->m_Settings.m_Bpm = bpm;
    panel->Apply();
}

void BeatsTyped(Fl_Widget *widget, void *)
{
    TimeGUI *panel = PanelOf(widget);
    const int beats = static_cast<int>(static_cast<Fl_Value_Input *>(widget)->clamp(
        std::round(static_cast<Fl_Value_Input *>(widget)->value())));
    static_cast<Fl_Value_Input *>(widget)->value(beats);
    panel->m_Settings.m_BeatsPerBar = beats;
    panel->Apply();
}

void BarsTyped(Fl_Widget *widget, void *)
{
    Fl_Value_Input *input = static_cast<Fl_Value_Input *>(widget);
    input->value(input->clamp(std::round(input->value())));
    PanelOf(widget)->m_Settings.m_FirstBars = static_cast<int>(input->value());
}

void TakeBarsTyped(Fl_Widget *widget, void *)
{
    Fl_Value_Input *input = static_cast<Fl_Value_Input *>(widget);
    input->value(input->clamp(std::round(input->value())));
    PanelOf(widget)->m_Settings.m_TakeBars = static_cast<int>(input->value());
}

void SyncChosen(Fl_Widget *widget, void *)
{
    TimeGUI *panel = PanelOf(widget);
    panel->m_Settings.m_Sync = panel->m_SyncIn->value();
    panel->Apply();
}

void TapPressed(Fl_Widget *widget, void *)
{
    PanelOf(widget)->Tap();
}

void Toggled(Fl_Widget *widget, void *)
{
    TimeGUI *panel = PanelOf(widget);
    TimeSettings &settings = panel->m_Settings;
    settings.m_Click = panel->m_ClickBtn->value();
    settings.m_ClickInMix = panel->m_InMixBtn->value();
    settings.m_ClockOut = panel->m_ClockOutBtn->value();
    settings.m_MatchBars = panel->m_MatchBarsBtn->value();
    settings.m_ClickLevel = static_cast<float>(panel->m_ClickLevel->value());
    panel->Apply();
}

Fl_Value_Input *Input(int x, int y, int w, const char *label, double low, double high, double step,
                      Fl_Callback *handler, void *panel)
{
    Fl_Value_Input *input = new Fl_Value_Input(x, y, w, 18, label);
    input->labelsize(10);
    // The label stands on the window's black.
    input->labelcolor(FL_WHITE);
    input->textsize(11);
    input->range(low, high);
    input->step(step);
    input->callback(handler, panel);
    // Typed whole: "120" is not 1, then 12, then 120.
    input->when(FL_WHEN_ENTER_KEY | FL_WHEN_RELEASE);
    return input;
}

Fl_Light_Button *Light(int x, int y, int w, const char *label, void *panel)
{
    Fl_Light_Button *button = new Fl_Light_Button(x, y, w, 18, label);
    button->labelsize(10);
    button->selection_color(FL_YELLOW);
    button->callback(Toggled, panel);
    return button;
}

} // namespace

void TimeGUI::CreateGUI(int x, int y, const char *)
{
    m_BpmIn = Input(x + 38, y, 52, "Tempo", 0, TempoMap::MaxBpm, 0.01, BpmTyped, this);
    m_BpmIn->tooltip("Beats per minute; 0 is no beat grid");
    m_BeatsIn = Input(x + 128, y, 26, "Beats", 1, TempoMap::MaxBeatsPerBar, 1, BeatsTyped, this);
    m_BeatsIn->tooltip("Beats to the bar");
    m_BarsIn = Input(x + 226, y, 26, "First loop", 0, 64, 1, BarsTyped, this);
    m_BarsIn->tooltip("With no tempo, the first take is this many bars and makes the tempo (0: it does not)");
    m_TapBtn = new Fl_Button(x + 258, y, 36, 18, "Tap");
    m_TapBtn->labelsize(10);
    m_TapBtn->callback(TapPressed, this);
    m_TapBtn->tooltip("Tap the beat: two taps or more make the tempo, a bar starting at the last");
    m_BeatOut = new Fl_Box(x + 298, y, 50, 18);
    m_BeatOut->box(FL_FLAT_BOX);
    m_BeatOut->color(FL_BLACK);
    m_BeatOut->labelcolor(FL_YELLOW);
    m_BeatOut->labelfont(FL_HELVETICA_BOLD);
    m_BeatOut->labelsize(12);
    m_ClickBtn = Light(x + 356, y, 50, "Click", this);
    m_ClickBtn->tooltip("The metronome, on the click_left and click_right ports");
    // Named for MIDI Learn and OSC; the name is not drawn.
    m_ClickLevel = new Fl_Slider(x + 408, y + 2, 70, 14, "Click level");
    m_ClickLevel->labeltype(FL_NO_LABEL);
    m_ClickLevel->type(FL_HOR_NICE_SLIDER);
    m_ClickLevel->range(0, 1);
    m_ClickLevel->callback(Toggled, this);
    m_ClickLevel->tooltip("The metronome's level");
    m_InMixBtn = Light(x + 482, y, 58, "In mix", this);
    m_InMixBtn->tooltip("The metronome in the main output too");
    m_ClockOutBtn = Light(x + 544, y, 78, "Clock out", this);
    m_ClockOutBtn->tooltip("MIDI clock on midi_out from the next bar, Start and Stop with it");
    m_TakeBarsIn = Input(x + 684, y, 26, "Take bars", 0, 64, 1, TakeBarsTyped, this);
    // A second row: what the grid follows, and Match's bars.
    m_MatchBarsBtn = Light(x + 170, y + 22, 92, "Match bars", this);
    m_MatchBarsBtn->tooltip("Match makes whole bars of the beat grid, not the master loop's exact length");
    m_TakeBarsIn->tooltip(
        "A quantized take ends by itself after this many bars (0: when Record is pressed again)");
    m_SyncIn = new Fl_Choice(x + 38, y + 22, 120, 18, "Sync");
    m_SyncIn->labelsize(10);
    m_SyncIn->labelcolor(FL_WHITE);
    m_SyncIn->textsize(10);
    m_SyncIn->add("Internal|MIDI clock|JACK transport|Ableton Link|JACK master");
    m_SyncIn->callback(SyncChosen, this);
    m_SyncIn->tooltip("What the beat grid follows: its own tempo, MIDI clock on midi_in, the JACK "
                      "transport's timebase master, or an Ableton Link session; JACK master: the "
                      "program is the transport's timebase master at its tempo and follows the transport");
    UpdateValues();
}

void TimeGUI::UpdateValues()
{
    if (m_BpmIn) {
        m_BpmIn->value(m_Settings.m_Bpm);
        m_BeatsIn->value(m_Settings.m_BeatsPerBar);
        m_BarsIn->value(m_Settings.m_FirstBars);
        m_ClickBtn->value(m_Settings.m_Click);
        m_ClickLevel->value(m_Settings.m_ClickLevel);
        m_InMixBtn->value(m_Settings.m_ClickInMix);
        m_ClockOutBtn->value(m_Settings.m_ClockOut);
        m_TakeBarsIn->value(m_Settings.m_TakeBars);
        m_MatchBarsBtn->value(m_Settings.m_MatchBars);
        m_SyncIn->value(m_Settings.m_Sync);
    }
    Apply(true);
}

void TimeGUI::Apply(bool barNow, const Loop *startOf)
{
    const TimeSettings settings = m_Settings;
    AudioEngine *engine = m_Engine;
    if (!engine) return;
    engine->SetTempo(settings.m_Bpm, settings.m_BeatsPerBar, barNow, startOf);
    // A tempo set here while Link leads goes to the whole session.
    if (settings.m_Sync == SyncSource::Link && settings.m_Bpm > 0) engine->m_Link.SetTempo(settings.m_Bpm);
    engine->SetSync(settings.m_Sync);
    if (m_Jack) {
        const bool master = settings.m_Sync == SyncSource::JackMaster && settings.m_Bpm > 0;
        const bool led = m_Jack->LeadTransport(master ? settings.m_Bpm : 0, settings.m_BeatsPerBar);
        if (!led && !m_TimebaseRefused)
            std::cerr << "JACK: another program is the transport's timebase master: following it" << std::endl;
        m_TimebaseRefused = !led;
    }
    AudioEngine::Post(engine, [engine, settings] {
        Transport &transport = engine->m_Transport;
        transport.m_ClickOn = settings.m_Click;
        transport.m_ClickLevel = settings.m_ClickLevel;
        transport.m_ClickInMix = settings.m_ClickInMix;
        transport.m_ClockOut = settings.m_ClockOut;
    });
}

void TimeGUI::Tap(std::chrono::steady_clock::time_point now)
{
    // A pause of two seconds starts the count again.
    if (!m_Taps.empty() && now - m_Taps.back() > std::chrono::seconds(2)) m_Taps.clear();
    m_Taps.push_back(now);
    if (m_Taps.size() > 5) m_Taps.pop_front();
    if (m_Taps.size() < 2) return;
    const double seconds = std::chrono::duration<double>(m_Taps.back() - m_Taps.front()).count();
    const double bpm = 60.0 * (m_Taps.size() - 1) / seconds;
    m_Settings.m_Bpm = std::round(std::min(TempoMap::MaxBpm, std::max(TempoMap::MinBpm, bpm)) * 100) / 100;
    if (m_BpmIn) m_BpmIn->value(m_Settings.m_Bpm);
    Apply(true);
}

void TimeGUI::TakeEnded(Loop &loop, bool fresh)
{
    if (fresh && m_Settings.m_Bpm <= 0) TempoFrom(loop);
}

void TimeGUI::MasterChosen(Loop &loop)
{
    // The master is the tempo's source, unless another instrument leads.
    if (m_Settings.m_Sync == SyncSource::Internal || m_Settings.m_Sync == SyncSource::JackMaster) TempoFrom(loop);
}

void TimeGUI::TempoFrom(Loop &loop)
{
    const int bars = m_Settings.m_FirstBars;
    if (bars <= 0 || loop.m_LoopLength <= 0 || loop.m_Speed <= 0) return;
    const double seconds = static_cast<double>(loop.m_LoopLength) / loop.m_Speed / m_Rate;
    const double bpm = 60.0 * bars * m_Settings.m_BeatsPerBar / seconds;
    if (bpm < TempoMap::MinBpm || bpm > TempoMap::MaxBpm) {
        std::cerr << "Loop " << loop.m_ID << ": " << bars << " bars of " << std::round(seconds * 100) / 100
                  << " s would be " << std::round(bpm * 10) / 10 << " BPM, outside " << TempoMap::MinBpm
                  << " to " << TempoMap::MaxBpm << ": no tempo set" << std::endl;
        return;
    }
    m_Settings.m_Bpm = bpm;
    if (m_BpmIn) m_BpmIn->value(std::round(bpm * 100) / 100);
    std::cerr << "Loop " << loop.m_ID << " makes the tempo: " << std::round(bpm * 100) / 100 << " BPM, "
              << bars << " bars" << std::endl;
    // Bars start where the loop does.
    Apply(false, &loop);
}

void TimeGUI::ShowBeat()
{
    if (!m_BeatOut || !m_Engine) return;
    char text[64] = "";
    const Transport &transport = m_Engine->m_Transport;
    // A source that leads sets the tempo the engine plays.
    const double bpm =
        m_Settings.m_Sync != SyncSource::Internal && transport.HasGrid() ? transport.Bpm() : m_Settings.m_Bpm;
    const TempoMap map =
        bpm > 0 ? TempoMap(bpm, transport.BeatsPerBar(), m_Rate, transport.Origin()) : TempoMap();
    if (map.Valid()) {
        const int64_t beat = static_cast<int64_t>(std::floor(map.BeatAt(m_Engine->Frame())));
        const int64_t bar = beat >= 0 ? beat / map.m_BeatsPerBar : (beat + 1) / map.m_BeatsPerBar - 1;
        std::snprintf(text, sizeof text, "%lld.%lld", static_cast<long long>(bar + 1),
                      static_cast<long long>(beat - bar * map.m_BeatsPerBar + 1));
    }
    if (std::strcmp(text, m_BeatText) == 0) return;
    std::snprintf(m_BeatText, sizeof m_BeatText, "%s", text);
    m_BeatOut->label(m_BeatText);
    m_BeatOut->redraw();
}
