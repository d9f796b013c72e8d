// Shows the custom widgets on their own: a knob and a lit LED in one window,
// and a loop display with one second of a sine, a selected range and two
// trigger markers in another. The play cursor goes round while it runs.

#include "GUI/Fl_Knob.h"
#include "GUI/Fl_LED_Button.h"
#include "GUI/Fl_Loop.h"
#include "GUI/Fl_Trigger.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>

#include <cmath>
#include <vector>

namespace {

const int SampleCount = 1000;
const int PanelColour = 139;
const int PanelBackColour = 49;

std::atomic<double> g_Position{0};

void Advance(void *data)
{
    Fl_Loop *display = static_cast<Fl_Loop *>(data);
    double next = g_Position + 10;
    if (next >= SampleCount) next -= SampleCount;
    g_Position = next;
    display->DrawPosMarker();
    Fl::repeat_timeout(0.04, Advance, data);
}

} // namespace

int main(int argc, char **argv)
{
    Fl::visual(FL_DOUBLE | FL_RGB);

    Fl_Window controls(20, 20, 200, 110, "Widgets");
    controls.color(PanelBackColour);
    Fl_Knob knob(20, 20, 45, 45, "Knob");
    knob.color(PanelColour);
    knob.selection_color(FL_WHITE);
    knob.value(0.7);
    Fl_LED_Button led(90, 30, 80, 25, "Play");
    led.value(1);
    controls.end();

    // Five sine cycles round the ring, quieter towards the end.
    std::vector<short> sound(SampleCount);
    for (int i = 0; i < SampleCount; i++)
        sound[i] = (short)(32000 * std::sin(i * 2 * M_PI * 5 / SampleCount) * (1.0 - 0.5 * i / SampleCount));

    Fl_Loop display(260, 20, 300, 300, "Loop");
    Fl_Trigger first(0, 0, 20, 20);
    first.m_CentreX = first.m_CentreY = 150;
    first.m_Radius = 125;
    first.m_Angle = 60;
    first.m_TargetID = 2;
    Fl_Trigger second(0, 0, 20, 20);
    second.m_CentreX = second.m_CentreY = 150;
    second.m_Radius = 125;
    second.m_Angle = 250;
    second.m_Count = 3;
    display.end();
    display.SetData(sound.data());
    display.SetLength(SampleCount);
    display.m_StartAngle = 90;
    display.m_EndAngle = 200;
    display.SetLength(SampleCount);
    display.SetPos(&g_Position, [](Fl_Loop *, double to) { g_Position = to; });
    display.SetUpdate(true);

    controls.show(argc, argv);
    display.show();
    Fl::add_timeout(0.04, Advance, &display);
    return Fl::run();
}
