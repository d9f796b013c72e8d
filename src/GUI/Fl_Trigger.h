#ifndef FL_TRIGGER_H
#define FL_TRIGGER_H

#include <FL/Fl_Widget.H>
#include <iosfwd>

// A small round marker on the ring of a loop display. It names the loop it
// starts (m_TargetID, shown above it) and its pass limit (m_Count, shown to
// its right); the left button drags it round the ring, the middle button
// cycles the target and the right button cycles the count.
class Fl_Trigger : public Fl_Widget
{
public:
    Fl_Trigger(int x, int y, int w, int h, const char *label = 0);
    ~Fl_Trigger();

    void SetSnap(bool snap) { m_Snap = snap; }
    void SetSnapAngle(int degrees) { m_SnapDegrees = degrees; }

    int m_CentreX;
    int m_CentreY;
    int m_Radius;
    bool m_Dragging;
    int m_TargetID;
    int m_Count;
    int m_Passes;
    float m_Angle; // degrees, 0 at the bottom, 90 at the right
    int m_MaxID;
    int m_MaxCount;
    bool m_Snap;
    int m_SnapDegrees;

    // Mouse button of the last press on any marker (1 left, 2 middle, 3 right).
    static int s_Button;

protected:
    void draw() override;
    int handle(int event) override;

private:
    void Place();
    void DragTo(int ex, int ey);
    void RedrawDisplay();
};

// Workspace record: the ten fields from m_CentreX to m_MaxCount.
// Read back by WorkspaceReader and LoopGUI::Restore.
std::ostream &operator<<(std::ostream &out, const Fl_Trigger &trigger);

#endif
