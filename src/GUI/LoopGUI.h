#ifndef LOOP_GUI_H
#define LOOP_GUI_H

#include "GUI/GUIBase.h"
#include "GUI/LoopStrip.h"
#include "Sync/TempoMap.h"
#include "LoopPanel.h"
#include "WorkspaceReader.h"

#include <iosfwd>
#include <string>
#include <vector>

class Delay;
class DelayGUI;
class Fl_Button;
class Fl_Knob;
class Fl_LED_Button;
class Fl_Loop;
class Fl_Slider;
class Fl_Trigger;
class Fl_Value_Output;
class Loop;
class LoopStateBar;
class Reverb;
class ReverbGUI;

// The control panel and window of one loop: its ring display with every
// control over and around it, the loop's effect panels below, and its
// trigger markers.
class LoopGUI : public GUIBase, public LoopPanel
{
public:
    LoopGUI(Loop *loop, Delay *delay, Reverb *reverb);
    ~LoopGUI() override;

    using GUIBase::CreateGUI;
    void UpdateValues() override;
    virtual void CreateGUI(const char *title);

    void UpdateDataPtr();
    void SetMaster(bool on);
    void SetSnapAngle(int degrees);
    void SetSnap(bool on);
    // Appends the IDs of the loops that this loop's markers start, given the
    // angles at which the loop's last play step began and ended and whether
    // it went round the end of the ring.
    // Before a block: the markers as the mouse left them go to the loop.
    void PushMarkers();
    // After a block: the play button and the markers' passes as the engine left them.
    void ShowEngineState();
    // A closed loop's window back, under the loop's (new) number.
    void Show();
    void Rename(int id);
    Fl_Trigger *NewTrigger();
    // Places the window and adds the markers of a workspace record; without
    // a window the caller owns the markers.
    void Restore(const WorkspaceReader::PanelRecord &record);
    void DrawPosMarker() override;
    void SoundMoved() override;

    // Gives the display the loop's current sound and play length.
    void Refresh();
    // Speed, seconds and master ratio read-outs from the loop.
    void ShowReadouts();
    // What the loop does, as its window and the main window's strip show it.
    LoopStrip::State State() const;
    // At display rate: the state, the loop's peak since the last look (or
    // -1: none new) and the messages about the loop.
    void ShowState(LoopStrip::State state, int peak, const std::vector<std::string> &lines);
    // The loop's take is over: the loop ends it, the application hears of it.
    void EndTake();
    // Where Play, stop and takes fall: on the next beat, bar or master lap.
    void SetQuantize(TempoMap::Step step);
    // The same, with the window's choice showing it.
    void ShowQuantize(TempoMap::Step step);
    // The loop's quantize has a line to wait for (a grid, or a master loop).
    bool Quantized() const;
    // Record is down and the take waits for its line to start.
    bool TakeWaits() const;
    TempoMap::Step m_QuantizeStep = TempoMap::Off;
    // A quantized take was asked to end and waits for its line.
    bool m_EndAsked = false;
    // The bar sits at the window's foot, under the effect panels when they show.
    void FitBar();
    // Undo or redo the last change of the loop's sound (Ctrl+U, Ctrl+Y).
    // Undo during a take ends it and drops what it recorded.
    void Undo();
    void Redo();

    Loop *m_Loop;
    Fl_Loop *m_Display;
    Fl_Slider *m_CutoffSlider;
    Fl_Slider *m_VolumeSlider;
    Fl_Knob *m_BalanceKnob;
    Fl_Knob *m_LengthKnob;
    Fl_Knob *m_SpeedKnob;
    Fl_Knob *m_EmphasisKnob;
    Fl_Value_Output *m_SpeedOut;
    Fl_Value_Output *m_SecondsOut;
    Fl_Value_Output *m_RatioOut;
    Fl_Knob *m_WaveSizeKnob;
    Fl_Button *m_RecordBtn;
    Fl_Button *m_LoadBtn;
    Fl_LED_Button *m_PlayBtn;
    Fl_LED_Button *m_MasterBtn;
    Fl_LED_Button *m_UpdateBtn;
    Fl_Button *m_EffectsBtn;
    Fl_Button *m_DoubleBtn;
    Fl_Button *m_MatchBtn;
    Fl_Button *m_SaveBtn;
    DelayGUI *m_DelayGUI;
    ReverbGUI *m_ReverbGUI;
    Delay *m_Delay;
    Reverb *m_Reverb;
    std::vector<Fl_Trigger *> m_Triggers;
    LoopStateBar *m_StateBar;

private:
    void ShowLength();
};

// Workspace record: the display window's geometry and the trigger markers.
// Reading places the window and adds the markers to it.
std::ostream &operator<<(std::ostream &out, const LoopGUI &panel);
std::istream &operator>>(std::istream &in, LoopGUI &panel);

#endif
