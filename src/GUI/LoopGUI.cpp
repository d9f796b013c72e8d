#include "GUI/LoopGUI.h"

#include "GUI/LoopPanelLook.h"

#include "Engine/AudioEngine.h"
#include "GUI/DelayGUI.h"
#include "GUI/FileChooser.h"
#include "GUI/Fl_Knob.h"
#include "GUI/Fl_LED_Button.h"
#include "GUI/Fl_Loop.h"
#include "GUI/Fl_Trigger.h"
#include "GUI/LoopStateBar.h"
#include "GUI/ReverbGUI.h"
#include "KorvelInfo.h"
#include "Loop.h"
#include "LoopHost.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Value_Output.H>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <istream>
#include <ostream>

namespace {

// The height the effect panels add below the ring.
const int EffectsHeight = 130;
// Whatever libsndfile reads; the second entry lets any other file be tried.
const char *const SoundFilePattern =
    "Sound Files (*.{wav,wave,rf64,aif,aiff,aifc,flac,ogg,oga,opus,mp3,caf,w64,au,snd,voc})\tAll Files (*)";

LoopGUI *PanelOf(Fl_Widget *widget)
{
    return static_cast<LoopGUI *>(widget->parent()->user_data());
}

LoopGUI *PanelOf(Fl_Loop *display)
{
    return static_cast<LoopGUI *>(display->user_data());
}

double ValueOf(Fl_Widget *widget)
{
    return static_cast<Fl_Valuator *>(widget)->value();
}

bool IsDown(Fl_Widget *widget)
{
    return static_cast<Fl_Button *>(widget)->value() != 0;
}

// Every change to what the loop plays goes to the engine.
template <typename F> void Change(LoopGUI *panel, const F &change)
{
    AudioEngine::Post(panel->m_Loop->m_App ? panel->m_Loop->m_App->Engine() : nullptr, change);
}

// Control handlers.

void VolumeChanged(Fl_Widget *widget, void *)
{
    Loop *loop = PanelOf(widget)->m_Loop;
    const float volume = static_cast<float>(1 - ValueOf(widget));
    Change(PanelOf(widget), [loop, volume] { loop->m_Volume = volume; });
}

void CutoffChanged(Fl_Widget *widget, void *)
{
    double v = ValueOf(widget);
    Filter *filter = &PanelOf(widget)->m_Loop->m_Filter;
    const bool bypass = v == 0;
    float f = static_cast<float>(100 - v);
    const double cutoff = static_cast<double>(static_cast<int>(f * f + 10));
    Change(PanelOf(widget), [filter, bypass, cutoff] {
        filter->m_Bypass = bypass;
        filter->m_Cutoff = cutoff;
    });
}

void EmphasisChanged(Fl_Widget *widget, void *)
{
    Filter *filter = &PanelOf(widget)->m_Loop->m_Filter;
    const double resonance = static_cast<double>(static_cast<int>(ValueOf(widget) + 1));
    Change(PanelOf(widget), [filter, resonance] { filter->m_Resonance = resonance; });
}

void BalanceChanged(Fl_Widget *widget, void *)
{
    Loop *loop = PanelOf(widget)->m_Loop;
    const float pan = static_cast<float>(ValueOf(widget));
    Change(PanelOf(widget), [loop, pan] { loop->SetPan(pan); });
}

void SpeedChanged(Fl_Widget *widget, void *)
{
    LoopGUI *panel = PanelOf(widget);
    double v = ValueOf(widget);
    Loop *loop = panel->m_Loop;
    const float speed = static_cast<float>(v);
    Change(panel, [loop, speed] { loop->m_Speed = speed; });
    panel->m_SpeedOut->value(v);
    panel->m_RatioOut->value(panel->m_Loop->GetMasterRatio());
}

void LengthChanged(Fl_Widget *widget, void *)
{
    LoopGUI *panel = PanelOf(widget);
    Loop *loop = panel->m_Loop;
    int total = loop->GetTotalLength();
    const int64_t length = static_cast<int>(total * ValueOf(widget));
    Change(panel, [loop, length] { loop->m_LoopLength = length; });
    panel->m_Display->SetLength(static_cast<int>(length));
    panel->m_Display->SetCut(length < total);
    panel->ShowReadouts();
    panel->m_Display->redraw();
}

void RecordChanged(Fl_Widget *widget, void *)
{
    LoopGUI *panel = PanelOf(widget);
    Loop *loop = panel->m_Loop;
    AudioEngine *engine = loop->m_App ? loop->m_App->Engine() : nullptr;
    const bool quantized = panel->Quantized();
    if (!IsDown(widget) && quantized && !panel->TakeWaits()) {
        // Ends on the next line, or, asked again meanwhile, goes on; the
        // button stays down until the engine ends the take.
        static_cast<Fl_Button *>(widget)->value(1);
        if (panel->m_EndAsked) {
            AudioEngine::Post(engine, [loop] {
                loop->CancelStop();
                loop->m_TakeAt.store(-1);
            });
        } else {
            loop->m_TakeAt.store(-1);
            engine->QueueTakeEnd(loop);
        }
        panel->m_EndAsked = !panel->m_EndAsked;
        return;
    }
    if (IsDown(widget)) {
        panel->m_EndAsked = false;
        if (!loop->m_Input)
            std::cerr << "Loop " << loop->m_ID
                      << ": nothing to record from: load a plug-in, or play through JACK or an OSS device "
                         "that records"
                      << std::endl;
        // The sound before the take is kept now, not inside the audio cycle,
        // and a fresh take's memory is made before it can run out.
        loop->BeginChange();
        if (engine && engine->Live()) loop->PrepareTake();
        loop->BeginTake(quantized, loop->m_App ? loop->m_App->TakeBars() : 0);
    } else {
        loop->StopTake();
        panel->EndTake();
    }
    panel->Refresh();
}

void LoadPressed(Fl_Widget *widget, void *)
{
    LoopGUI *panel = PanelOf(widget);
    std::string path = FileChooser::Current()->Ask("Pick a Wav file to load", SoundFilePattern);
    // The loop keeps playing its sound until the whole file is ready (LoopsApp::Run).
    if (!path.empty()) panel->m_Loop->StartLoad(path);
    panel->Refresh();
}

void EffectsChanged(Fl_Widget *widget, void *)
{
    LoopGUI *panel = PanelOf(widget);
    Fl_Loop *display = panel->m_Display;
    int height = IsDown(widget) ? display->h() + EffectsHeight : display->h() - EffectsHeight;
    display->resize(display->x(), display->y(), display->w(), height);
    panel->FitBar();
    Loop *loop = panel->m_Loop;
    const bool on = IsDown(widget);
    Change(panel, [loop, on] { loop->m_EffectsOn = on; });
}

void DoublePressed(Fl_Widget *widget, void *)
{
    LoopGUI *panel = PanelOf(widget);
    panel->m_Loop->Double();
    panel->Refresh();
}

void MatchPressed(Fl_Widget *widget, void *)
{
    LoopGUI *panel = PanelOf(widget);
    Loop *loop = panel->m_Loop;
    LoopHost *app = loop->m_App;
    const double bar = app->MatchBarFrames();
    if (bar > 0 && loop->GetTotalLength() > 0) {
        // Whole bars of the grid: as many as the master (or, without one,
        // the loop itself) lasts, at the master's speed.
        const bool master = app->m_MasterLength > 0 && app->m_MasterSpeed > 0;
        const float speed = master ? app->m_MasterSpeed : std::max(0.0001f, loop->m_Speed);
        const double lasts = master ? app->m_MasterLength / app->m_MasterSpeed : loop->m_LoopLength / speed;
        const double bars = std::max(1.0, std::round(lasts / bar));
        loop->MatchLength(static_cast<int>(std::llround(bars * bar * speed)));
        loop->m_Speed = speed;
    } else {
        if (app->m_MasterLength == 0) return;
        loop->MatchLength(static_cast<int>(app->m_MasterLength));
        loop->m_Speed = app->m_MasterSpeed;
    }
    panel->Refresh();
    // The knobs show the new speed and length too.
    panel->UpdateValues();
}

void SavePressed(Fl_Widget *widget, void *)
{
    std::string path = FileChooser::Current()->Ask("Save loop as Wav file", "*.wav");
    if (!path.empty()) PanelOf(widget)->m_Loop->SaveWav(path);
}

void QuantizeChosen(Fl_Widget *widget, void *data)
{
    const int chosen = static_cast<Fl_Choice *>(widget)->value();
    static_cast<LoopGUI *>(data)->SetQuantize(static_cast<TempoMap::Step>(std::max(0, chosen)));
}

void PlayChanged(Fl_Widget *widget, void *)
{
    Loop *loop = PanelOf(widget)->m_Loop;
    const bool playing = IsDown(widget);
    AudioEngine *engine = loop->m_App ? loop->m_App->Engine() : nullptr;
    // On the loop's next quantize line; the light follows when it happens.
    if (engine)
        engine->QueuePlay(loop, playing);
    else
        loop->m_Playing = playing;
}

void MasterPressed(Fl_Widget *widget, void *)
{
    LoopGUI *panel = PanelOf(widget);
    Loop *loop = panel->m_Loop;
    // The light shows the loop's own master flag, whatever the press did
    // to it: a loop that does not move cannot be the master.
    if (loop->m_Speed != 0) {
        loop->m_App->SetMaster(loop->m_ID, static_cast<float>(loop->m_LoopLength), loop->m_Speed);
        panel->SetMaster(true);
    } else {
        panel->SetMaster(loop->m_Master);
    }
}

void UpdateChanged(Fl_Widget *widget, void *)
{
    PanelOf(widget)->m_Display->SetUpdate(IsDown(widget));
}

void WaveSizeChanged(Fl_Widget *widget, void *)
{
    LoopGUI *panel = PanelOf(widget);
    panel->m_Display->SetWaveSize(static_cast<float>(ValueOf(widget) + 1));
    panel->m_Display->redraw();
}

// Closing the window only asks for the loop's removal: the application
// deletes loop and panel between two cycles.
void WindowClosed(Fl_Widget *widget, void *)
{
    // A stray Escape (meant for a file chooser, say) closes nothing.
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
    Fl_Loop *display = static_cast<Fl_Loop *>(widget);
    // A take ends as its button would end it, while the loop is still mixed.
    Fl_Button *record = PanelOf(display)->m_RecordBtn;
    if (record && record->value()) {
        record->value(0);
        record->do_callback();
    }
    display->hide();
    Loop *loop = PanelOf(display)->m_Loop;
    Change(PanelOf(display), [loop] { loop->m_Delete = true; });
}

// Display requests.

void JumpTo(Fl_Loop *display, double position)
{
    Loop *loop = PanelOf(display)->m_Loop;
    Change(PanelOf(display), [loop, position] {
        loop->m_Pos = position;
        loop->m_ShownPos.store(position, std::memory_order_relaxed);
    });
}

void CutRange(Fl_Loop *display, int start, int end)
{
    PanelOf(display)->m_Loop->Cut(start, end);
    PanelOf(display)->Refresh();
}

void CopyRange(Fl_Loop *display, int start, int end)
{
    PanelOf(display)->m_Loop->Copy(start, end);
    PanelOf(display)->Refresh();
}

void PasteAt(Fl_Loop *display, int position)
{
    PanelOf(display)->m_Loop->Paste(position);
    PanelOf(display)->Refresh();
}

void PasteMixAt(Fl_Loop *display, int position)
{
    PanelOf(display)->m_Loop->PasteMix(position);
    PanelOf(display)->Refresh();
}

void ZeroRange(Fl_Loop *display, int start, int end)
{
    PanelOf(display)->m_Loop->Silence(start, end);
    PanelOf(display)->Refresh();
}

void ReverseRange(Fl_Loop *display, int start, int end)
{
    PanelOf(display)->m_Loop->Reverse(start, end);
    PanelOf(display)->Refresh();
}

void HalveLoop(Fl_Loop *display)
{
    PanelOf(display)->m_Loop->Halve();
    PanelOf(display)->Refresh();
}

void TakeHeldSound(Fl_Loop *display)
{
    PanelOf(display)->m_Loop->KeepHold();
    PanelOf(display)->Refresh();
}

void AddTrigger(Fl_Loop *display)
{
    PanelOf(display)->NewTrigger();
}

void MoveSound(Fl_Loop *display, int offset)
{
    // One drag, from the press on, is one undo step.
    PanelOf(display)->m_Loop->Rotate(offset, Fl::event() == FL_DRAG);
    PanelOf(display)->Refresh();
}

void UndoRequested(Fl_Loop *display)
{
    PanelOf(display)->Undo();
}

void RedoRequested(Fl_Loop *display)
{
    PanelOf(display)->Redo();
}

} // namespace

LoopGUI::LoopGUI(Loop *loop, Delay *delay, Reverb *reverb)
    : m_Loop(loop), m_Display(nullptr), m_CutoffSlider(nullptr), m_VolumeSlider(nullptr),
      m_BalanceKnob(nullptr), m_LengthKnob(nullptr), m_SpeedKnob(nullptr), m_EmphasisKnob(nullptr),
      m_SpeedOut(nullptr), m_SecondsOut(nullptr), m_RatioOut(nullptr), m_WaveSizeKnob(nullptr),
      m_RecordBtn(nullptr), m_LoadBtn(nullptr), m_PlayBtn(nullptr), m_MasterBtn(nullptr),
      m_UpdateBtn(nullptr), m_EffectsBtn(nullptr), m_DoubleBtn(nullptr), m_MatchBtn(nullptr),
      m_SaveBtn(nullptr), m_DelayGUI(nullptr), m_ReverbGUI(nullptr), m_Delay(delay), m_Reverb(reverb),
      m_StateBar(nullptr)
{
    if (!loop || !delay || !reverb) std::cerr << "WARNING: Loop not correctly set up" << std::endl;
}

LoopGUI::~LoopGUI()
{
    // The effect panels delete their own groups, which the window would
    // otherwise delete a second time.
    delete m_DelayGUI;
    delete m_ReverbGUI;
    delete m_Display;
    m_Triggers.clear();
}

void LoopGUI::CreateGUI(const char *title)
{
    m_Display = new Fl_Loop(0, 0, 300, 300);
    m_Display->copy_label(title);
    m_Display->box(FL_NO_BOX);
    m_Display->color(KorvelInfo::PanelBackColour);
    m_Display->align(FL_ALIGN_TOP | FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    m_Display->user_data(this);

    m_Display->SetData(m_Loop->m_StoreBuffer.GetBuffer());
    m_Display->SetLength(static_cast<int>(m_Loop->m_LoopLength));
    m_Display->SetPos(&m_Loop->m_ShownPos, JumpTo);
    m_Display->callback(WindowClosed);
    m_Display->SetCallbacks(CutRange, CopyRange, PasteAt, PasteMixAt, ZeroRange, ReverseRange, HalveLoop,
                            TakeHeldSound, AddTrigger, MoveSound);
    m_Display->SetHistoryCallbacks(UndoRequested, RedoRequested);
    m_Display->SetSkipWindow(m_Loop->m_App ? m_Loop->m_App->PluginWindow() : nullptr);

    m_VolumeSlider = LoopPanelLook::Slider(60, 100, "Volume", 1.0, 0.001, VolumeChanged);
    m_CutoffSlider = LoopPanelLook::Slider(220, 100, "Cutoff", 100.0, 0.1, CutoffChanged);
    m_EmphasisKnob = LoopPanelLook::Knob(160, 140, 45, "Emphasis", 10.0, 0.1, 0, EmphasisChanged);
    m_BalanceKnob = LoopPanelLook::Knob(95, 140, 45, "Balance", 2.0, 0.001, 1.0, BalanceChanged);
    m_SpeedKnob = LoopPanelLook::Knob(95, 60, 45, "Speed", 3.0, 0.0001, 1.0, SpeedChanged);
    m_LengthKnob = LoopPanelLook::Knob(160, 60, 45, "Length", 1.0, 0.0001, 1.0, LengthChanged);
    m_RecordBtn = LoopPanelLook::Button(85, 200, "Record", FL_TOGGLE_BUTTON, RecordChanged);
    // Down, it reads from across the stage.
    m_RecordBtn->selection_color(FL_RED);
    m_LoadBtn = LoopPanelLook::Button(175, 200, "Load", FL_NORMAL_BUTTON, LoadPressed);
    m_EffectsBtn = LoopPanelLook::Button(130, 200, "Effects", FL_TOGGLE_BUTTON, EffectsChanged);
    m_DoubleBtn = LoopPanelLook::Button(85, 218, "Double", FL_NORMAL_BUTTON, DoublePressed);
    m_MatchBtn = LoopPanelLook::Button(130, 218, "Match", FL_NORMAL_BUTTON, MatchPressed);
    m_SaveBtn = LoopPanelLook::Button(175, 218, "Save", FL_NORMAL_BUTTON, SavePressed);
    m_PlayBtn = LoopPanelLook::LED(255, 275, "Play", 1, PlayChanged);
    m_SpeedOut = LoopPanelLook::Readout(93, 120, 50);
    m_SecondsOut = LoopPanelLook::Readout(157, 120, 50);
    m_RatioOut = LoopPanelLook::Readout(125, 235, 50);
    m_MasterBtn = LoopPanelLook::LED(2, 5, "Master", 0, MasterPressed);
    // The play cursor is drawn from the start; the light turns it off.
    m_UpdateBtn = LoopPanelLook::LED(2, 275, "Update", 1, UpdateChanged);
    m_UpdateBtn->selection_color(3);
    m_Display->SetUpdate(true);
    m_WaveSizeKnob = LoopPanelLook::Knob(262, 5, 30, "WaveSize", 10.0, 0.01, 0, WaveSizeChanged);
    m_WaveSizeKnob->labelsize(8);

    AudioEngine *engine = m_Loop->m_App ? m_Loop->m_App->Engine() : nullptr;
    m_DelayGUI = new DelayGUI(m_Delay);
    m_DelayGUI->m_Engine = engine;
    m_DelayGUI->CreateGUI(0, 300, "Delay");
    m_ReverbGUI = new ReverbGUI(m_Reverb);
    m_ReverbGUI->m_Engine = engine;
    m_ReverbGUI->CreateGUI(0, 365, "Reverb");
    // The window grows by the bar; the ring and its controls stay where they were.
    m_StateBar = new LoopStateBar(0, 300, 300);
    m_StateBar->m_Quantize->callback(QuantizeChosen, this);
    m_Display->size(300, 300 + LoopStateBar::Height);
    FitBar();

    ShowReadouts();
    m_Display->show();
    m_Display->end();
}

void LoopGUI::EndTake()
{
    const bool fresh = !m_Loop->m_Overdub;
    m_Loop->EndRecord();
    if (m_Loop->m_App) m_Loop->m_App->TakeEnded(*m_Loop, fresh);
}

void LoopGUI::FitBar()
{
    if (!m_StateBar) return;
    const int top = m_Display->h() - LoopStateBar::Height;
    m_StateBar->position(0, top);
    // Hidden effect panels would show through above the bar.
    const bool effects = top > 300;
    Fl_Group *panels[] = {m_DelayGUI->m_Group, m_ReverbGUI->m_Group};
    for (Fl_Group *group : panels) {
        if (effects && !group->visible()) group->show();
        if (!effects && group->visible()) group->hide();
    }
    m_Display->redraw();
}

bool LoopGUI::Quantized() const
{
    AudioEngine *engine = m_Loop->m_App ? m_Loop->m_App->Engine() : nullptr;
    if (!engine || m_QuantizeStep == TempoMap::Off) return false;
    return m_QuantizeStep == TempoMap::MasterLoop ? m_Loop->m_App->m_MasterID >= 0
                                                  : engine->m_Transport.HasGrid();
}

bool LoopGUI::TakeWaits() const
{
    AudioEngine *engine = m_Loop->m_App ? m_Loop->m_App->Engine() : nullptr;
    if (!engine || !m_RecordBtn || !m_RecordBtn->value()) return false;
    // Until the engine took the request, it waits too.
    const int64_t at = m_Loop->m_TakeAt.load();
    return at < 0 ? !m_EndAsked && Quantized() : at > engine->Frame();
}

void LoopGUI::SetQuantize(TempoMap::Step step)
{
    m_QuantizeStep = step;
    Loop *loop = m_Loop;
    Change(this, [loop, step] { loop->m_Quantize = step; });
}

void LoopGUI::ShowQuantize(TempoMap::Step step)
{
    if (m_StateBar) m_StateBar->m_Quantize->value(step);
    SetQuantize(step);
}

LoopStrip::State LoopGUI::State() const
{
    if (m_Loop->m_PlayAt.load() >= 0 || TakeWaits() || (m_EndAsked && m_Loop->m_TakeAt.load() >= 0))
        return LoopStrip::Waiting;
    if (m_RecordBtn && m_RecordBtn->value())
        return m_Loop->m_Overdub ? LoopStrip::Overdubbing : LoopStrip::Recording;
    if (m_Loop->GetTotalLength() == 0) return LoopStrip::Empty;
    if (!m_Loop->m_Playing) return LoopStrip::Stopped;
    return m_Loop->m_Volume <= 0 ? LoopStrip::Muted : LoopStrip::Playing;
}

void LoopGUI::ShowState(LoopStrip::State state, int peak, const std::vector<std::string> &lines)
{
    if (!m_StateBar) return;
    m_StateBar->Show(state, peak);
    m_StateBar->ShowFades(KorvelInfo::FadeMs);
    m_StateBar->Say(lines);
}

void LoopGUI::Show()
{
    if (m_Display) m_Display->show();
}

void LoopGUI::Rename(int id)
{
    char name[64];
    std::snprintf(name, sizeof name, "KorvelLoop %d", id);
    if (m_Display) m_Display->copy_label(name);
}

void LoopGUI::Refresh()
{
    m_Display->SetData(m_Loop->m_StoreBuffer.GetBuffer());
    m_Display->SetLength(static_cast<int>(m_Loop->m_LoopLength));
    m_Display->SetCut(m_Loop->m_LoopLength < m_Loop->GetTotalLength());
    ShowReadouts();
    m_Display->redraw();
}

void LoopGUI::ShowReadouts()
{
    m_SpeedOut->value(m_Loop->m_Speed);
    m_SecondsOut->value(static_cast<float>(m_Loop->m_LoopLength) / KorvelInfo::Samplerate);
    m_RatioOut->value(m_Loop->GetMasterRatio());
}

void LoopGUI::Undo()
{
    m_RecordBtn->value(0);
    m_Loop->Undo();
    Refresh();
    ShowLength();
}

void LoopGUI::Redo()
{
    m_Loop->Redo();
    Refresh();
    ShowLength();
}

void LoopGUI::ShowLength()
{
    int total = m_Loop->GetTotalLength();
    // An empty loop has no fraction to show; the knob rests at full length.
    m_LengthKnob->value(total == 0 ? 1.0f : static_cast<float>(m_Loop->m_LoopLength) / total);
}

void LoopGUI::UpdateValues()
{
    m_VolumeSlider->value(1 - m_Loop->m_Volume);
    // A filter that was never set (cutoff -1) shows the bypass position
    // rather than the square root of a negative number.
    double cutoff = m_Loop->m_Filter.m_Cutoff;
    m_CutoffSlider->value(cutoff < 10 ? 0.0f : 100 - std::sqrt(static_cast<float>(cutoff - 10)));
    m_EmphasisKnob->value(m_Loop->m_Filter.m_Resonance - 1);
    m_BalanceKnob->value(m_Loop->m_Pan);
    m_SpeedKnob->value(m_Loop->m_Speed);
    ShowLength();
    m_EffectsBtn->value(m_Loop->m_EffectsOn);
    m_PlayBtn->value(m_Loop->m_Playing);
    m_MasterBtn->value(m_Loop->m_Master);
    m_DelayGUI->UpdateValues();
    m_ReverbGUI->UpdateValues();
}

void LoopGUI::UpdateDataPtr()
{
    m_Display->SetData(m_Loop->m_StoreBuffer.GetBuffer());
}

void LoopGUI::SetMaster(bool on)
{
    m_Loop->m_Master = on;
    m_RatioOut->value(m_Loop->GetMasterRatio());
    m_MasterBtn->value(on);
    m_Display->redraw();
}

void LoopGUI::SetSnapAngle(int degrees)
{
    for (Fl_Trigger *trigger : m_Triggers)
        trigger->SetSnapAngle(degrees);
    m_Display->SetSnapAngle(degrees);
    m_Display->redraw();
}

void LoopGUI::SetSnap(bool on)
{
    for (Fl_Trigger *trigger : m_Triggers)
        trigger->SetSnap(on);
    m_Display->SetSnap(on);
}

void LoopGUI::PushMarkers()
{
    const std::vector<TriggerMarker> &markers = m_Loop->m_Markers;
    for (size_t i = 0; i < m_Triggers.size() && i < markers.size(); i++) {
        const Fl_Trigger &shown = *m_Triggers[i];
        if (shown.m_Angle == markers[i].m_Angle && shown.m_TargetID == markers[i].m_TargetID &&
            shown.m_Count == markers[i].m_Count)
            continue;
        Loop *loop = m_Loop;
        const float angle = shown.m_Angle;
        const int target = shown.m_TargetID, count = shown.m_Count;
        // The index, not the marker: markers are only ever added, at the end.
        Change(this, [loop, i, angle, target, count] {
            TriggerMarker &marker = loop->m_Markers[i];
            marker.m_Angle = angle;
            marker.m_TargetID = target;
            marker.m_Count = count;
        });
    }
}

void LoopGUI::ShowEngineState()
{
    if (m_PlayBtn && m_PlayBtn->value() != (m_Loop->m_Playing ? 1 : 0)) m_PlayBtn->value(m_Loop->m_Playing);
    // Takes a pedal started or ended on the audio thread.
    if (m_RecordBtn) {
        const Fl_Color down = m_Loop->m_Overdub ? fl_rgb_color(255, 150, 0) : FL_RED;
        if (m_RecordBtn->selection_color() != down) {
            m_RecordBtn->selection_color(down);
            m_RecordBtn->redraw();
        }
        if (m_Loop->m_PedalTake.load()) {
            m_Loop->BeginPedalTake();
            m_RecordBtn->value(1);
        }
        if (m_RecordBtn->value() && m_Loop->TakeEnded()) {
            m_RecordBtn->value(0);
            m_EndAsked = false;
            EndTake();
            Refresh();
        }
        for (int presses = m_Loop->m_GuiPresses.exchange(0); presses > 0; presses--) {
            m_RecordBtn->value(!m_RecordBtn->value());
            m_RecordBtn->do_callback();
        }
    }
    const std::vector<TriggerMarker> &markers = m_Loop->m_Markers;
    for (size_t i = 0; i < m_Triggers.size() && i < markers.size(); i++) {
        if (m_Triggers[i]->m_Passes == markers[i].m_Passes) continue;
        m_Triggers[i]->m_Passes = markers[i].m_Passes;
        m_Triggers[i]->redraw();
    }
}

Fl_Trigger *LoopGUI::NewTrigger()
{
    Fl_Trigger *trigger = new Fl_Trigger(0, 0, 20, 20);
    trigger->m_CentreX = 150;
    trigger->m_CentreY = 150;
    trigger->m_Radius = 125;
    m_Display->add(trigger);
    m_Triggers.push_back(trigger);
    {
        HandOverHold hold(m_Loop->m_HandOver);
        m_Loop->m_Markers.push_back(TriggerMarker());
    }
    m_Display->redraw();
    return trigger;
}

void LoopGUI::SoundMoved()
{
    if (!m_Display) return;
    m_Display->SetData(m_Loop->m_StoreBuffer.GetBuffer());
    if (m_Display->m_Length > m_Loop->m_StoreBuffer.GetLength())
        m_Display->SetLength(static_cast<int>(m_Loop->m_LoopLength));
}

void LoopGUI::DrawPosMarker()
{
    if (m_Display) m_Display->DrawPosMarker();
}

std::ostream &operator<<(std::ostream &out, const LoopGUI &panel)
{
    const Fl_Loop *display = panel.m_Display;
    out << (display ? display->x() : 0) << ' ' << (display ? display->y() : 0) << ' '
        << (display ? display->w() : 0) << ' ' << (display ? display->h() - LoopStateBar::Height : 0) << ' ';
    out << static_cast<unsigned long>(panel.m_Triggers.size()) << ' ';
    for (const Fl_Trigger *trigger : panel.m_Triggers)
        out << *trigger;
    return out;
}

void LoopGUI::Restore(const WorkspaceReader::PanelRecord &record)
{
    // Files keep the height without the bar, as versions without it read them.
    if (m_Display) {
        m_Display->resize(record.m_X, record.m_Y, record.m_W, record.m_H + LoopStateBar::Height);
        FitBar();
    }
    for (const WorkspaceReader::TriggerRecord &values : record.m_Triggers) {
        Fl_Trigger *trigger = new Fl_Trigger(0, 0, 20, 20);
        trigger->m_CentreX = values.m_CentreX;
        trigger->m_CentreY = values.m_CentreY;
        trigger->m_Radius = values.m_Radius;
        trigger->m_Dragging = values.m_Dragging;
        trigger->m_TargetID = values.m_TargetID;
        trigger->m_Count = values.m_Count;
        trigger->m_Passes = values.m_Passes;
        trigger->m_Angle = values.m_Angle;
        trigger->m_MaxID = values.m_MaxID;
        trigger->m_MaxCount = values.m_MaxCount;
        if (m_Display) m_Display->add(trigger);
        m_Triggers.push_back(trigger);
        TriggerMarker marker;
        marker.m_Angle = values.m_Angle;
        marker.m_TargetID = values.m_TargetID;
        marker.m_Count = values.m_Count;
        marker.m_Passes = values.m_Passes;
        m_Loop->m_Markers.push_back(marker);
    }
}

std::istream &operator>>(std::istream &in, LoopGUI &panel)
{
    WorkspaceReader::PanelRecord record;
    if (WorkspaceReader::ReadPanel(in, record)) panel.Restore(record);
    return in;
}
