#include "GUI/OutputGUI.h"

#include "Engine/AudioEngine.h"
#include "GUI/FileChooser.h"
#include "GUI/Fl_Knob.h"
#include "GUI/PanelLook.h"
#include "KorvelSound/Output.h"

#include <FL/Fl_Button.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Value_Output.H>

#include <iostream>

namespace {

void Volume(Fl_Widget *widget, void *)
{
    OutputGUI *panel = static_cast<OutputGUI *>(widget->parent()->user_data());
    Output *output = panel->m_Output;
    const float volume = static_cast<float>(static_cast<Fl_Knob *>(widget)->value());
    AudioEngine::Post(panel->m_Engine, [output, volume] { output->m_Volume = volume; });
}

void Record(Fl_Widget *widget, void *)
{
    Fl_Button *button = static_cast<Fl_Button *>(widget);
    OutputGUI *panel = static_cast<OutputGUI *>(widget->parent()->user_data());
    Output *output = panel->m_Output;
    AudioEngine *engine = panel->m_Engine;
    // Whatever is recording ends first: a new take never runs on in the old
    // file. The engine stops handing it blocks, and once the block that may
    // have been doing so is done, the file is finished here while the
    // engine plays on; a new file takes blocks only once it is ready.
    output->m_RecordFile.StopTaking();
    if (engine) engine->WaitForCommands();
    output->m_RecordFile.Close();
    if (!button->value()) return;
    std::string path = FileChooser::Current()->Ask("Pick a Wav file to save to", "*.wav");
    // The chooser runs the cycle and the other windows: a Record released
    // meanwhile cancels the take it asked for.
    if (!path.empty() && button->value()) output->Record(path.c_str());
    button->value(output->m_RecordFile.IsOpen() ? 1 : 0);
}

} // namespace

OutputGUI::OutputGUI(Output *output)
    : m_Output(output), m_Group(nullptr), m_VolumeKnob(nullptr), m_RecordBtn(nullptr), m_DropoutsOut(nullptr)
{
    if (!output) std::cerr << "WARNING: Output not correctly set up" << std::endl;
}

void OutputGUI::CreateGUI(int x, int y, const char *name)
{
    m_Group = PanelLook::Group(x, y, 85, 110, name, this);
    m_VolumeKnob = PanelLook::Knob(x + 20, y + 22, "Volume", 1, 0.001, 0.5);
    m_VolumeKnob->SetKnobType(0);
    m_VolumeKnob->callback(Volume);
    m_RecordBtn = PanelLook::Toggle(x + 20, y + 80, 40, 25, "Record", 0);
    m_RecordBtn->down_box(FL_DOWN_BOX);
    m_RecordBtn->callback(Record);
    // Beside the panel's title, small: a number the performer glances at.
    m_DropoutsOut = new Fl_Value_Output(x + 55, y + 4, 27, 13);
    m_DropoutsOut->textsize(9);
    m_DropoutsOut->tooltip("Dropouts: periods JACK asked for that were not ready");
    if (!m_Output || !m_Output->OnJack()) m_DropoutsOut->hide();
    m_Group->end();
}

void OutputGUI::UpdateValues()
{
    if (!m_Group || !m_Output) return;
    m_VolumeKnob->value(m_Output->m_Volume);
}

void OutputGUI::ShowDropouts()
{
    // value() redraws only when the count changed.
    if (m_DropoutsOut && m_Output && m_Output->OnJack())
        m_DropoutsOut->value(static_cast<double>(m_Output->Dropouts()));
}
