#ifndef FL_LOOP_H
#define FL_LOOP_H

#include <FL/Fl_Double_Window.H>

#include <atomic>

// The window of one loop: its sound drawn as a trace round a ring, the play
// position as an exclusive-or line, and mouse gestures and Control-key chords
// turned into edit requests. It holds no audio and edits nothing itself; the
// owner installs the requests and refreshes the display afterwards.
//
// Angles are degrees: 0 straight down, 90 right, 180 up, 270 left;
// x = MidX + sin(a) * r, y = MidY + cos(a) * r.
class Fl_Loop : public Fl_Double_Window
{
public:
    typedef void (*RangeRequest)(Fl_Loop *display, int start, int end);
    typedef void (*PositionRequest)(Fl_Loop *display, int position);
    typedef void (*Request)(Fl_Loop *display);
    typedef void (*MoveRequest)(Fl_Loop *display, int offset);
    typedef void (*JumpRequest)(Fl_Loop *display, double position);

    Fl_Loop(int x, int y, int w, int h, const char *label = 0);
    ~Fl_Loop();

    void SetData(const short *data) { m_Data = data; }
    // The play position as the last block left it (written by the audio
    // thread), and who moves it for the middle button.
    void SetPos(const std::atomic<double> *pos, JumpRequest jump)
    {
        m_Pos = pos;
        m_Jump = jump;
    }
    void SetSkipWindow(Fl_Window *window) { m_SkipWindow = window; }
    void SetUpdate(bool update) { m_Update = update; }
    // Part of the sound lies beyond the play length: a mark at the seam says so.
    void SetCut(bool cut) { m_Cut = cut; }
    void SetWaveSize(float size) { m_WaveSize = size; }
    void SetSnap(bool snap) { m_Snap = snap; }
    void SetSnapAngle(int degrees) { m_SnapDegrees = degrees; }
    // Stores the length and recomputes the selected indices from the angles.
    void SetLength(int len);

    void SetCallbacks(RangeRequest cut, RangeRequest copy, PositionRequest paste, PositionRequest pasteMix,
                      RangeRequest zero, RangeRequest reverse, Request halve, Request hold,
                      Request newTrigger, MoveRequest move);
    // Ctrl+U and Ctrl+Y.
    void SetHistoryCallbacks(Request undo, Request redo);

    // Moves the play cursor to the current play position, drawing straight
    // onto the window outside the redraw cycle.
    void DrawPosMarker();

    // The angle of a pointer at (ex, ey) about a centre, continuous with the
    // previous angle, within 0 ... 360 and snapped when asked. Markers move
    // by the same rule.
    static float PointerAngle(int centreX, int centreY, int ex, int ey, float previous, bool snap,
                              int snapDegrees);

    const short *m_Data;
    Fl_Window *m_SkipWindow;
    int m_Length;
    int m_InnerRad;
    int m_OuterRad;
    int m_CursorX1;
    int m_CursorY1;
    int m_CursorX2;
    int m_CursorY2;
    int m_MidX;
    int m_MidY;
    float m_StartAngle;
    float m_EndAngle;
    float m_MoveAngle;
    int m_RangeStart;
    int m_RangeEnd;
    float m_Angle;
    const std::atomic<double> *m_Pos;
    JumpRequest m_Jump;
    bool m_Update;
    bool m_Cut;
    float m_WaveSize;
    int m_MoveIndex;
    int m_LastMoveIndex;
    bool m_Snap;
    int m_SnapDegrees;

    // Mouse button of the last press on any loop display (1 left, 2 middle, 3 right).
    static int s_Button;

    void flush() override;

protected:
    void draw() override;
    int handle(int event) override;

private:
    int AngleToIndex(float angle) const;
    void UpdateRange();
    void DrawTrace();
    void DrawCursorLine();
    void XorLine(int x1, int y1, int x2, int y2);
    void MoveCursorOn(unsigned long drawable, int x1, int y1, int x2, int y2);
    bool MouseAngle(int ex, int ey);
    void HandleMouse(bool press);
    void HandleKeys();

    RangeRequest m_CutRequest;
    RangeRequest m_CopyRequest;
    PositionRequest m_PasteRequest;
    PositionRequest m_PasteMixRequest;
    RangeRequest m_ZeroRequest;
    RangeRequest m_ReverseRequest;
    Request m_HalveRequest;
    Request m_HoldRequest;
    Request m_NewTriggerRequest;
    MoveRequest m_MoveRequest;
    Request m_UndoRequest;
    Request m_RedoRequest;

    // Where the cursor line lies in the back buffer. The cursor moves on the
    // window alone; the back buffer catches up only before FLTK copies it
    // over the window, which keeps the X server's work per move to one line.
    int m_BackX1, m_BackY1, m_BackX2, m_BackY2;
};

#endif
