#ifndef WIDGET_TEST_SUPPORT_H
#define WIDGET_TEST_SUPPORT_H

// Helpers for the widget tests: a private X server per test process (tests
// run in parallel and move the one pointer of a display, so they must not
// share one), reading back what a window shows, and delivering events.

// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include "../TestSupport.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace WidgetTest {

inline pid_t &ServerPid()
{
    static pid_t pid = 0;
    return pid;
}

inline void StopServer()
{
    if (ServerPid() > 0) {
        kill(ServerPid(), SIGTERM);
        waitpid(ServerPid(), nullptr, 0);
        ServerPid() = 0;
    }
}

// Starts Xvfb once per process and points DISPLAY at it; falls back to the
// DISPLAY already set when Xvfb cannot be started.
inline void OpenPrivateDisplay()
{
    static bool opened = false;
    if (opened) return;
    opened = true;
    int fds[2];
    if (pipe(fds) == 0) {
        pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            const int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, 1);
            dup2(quiet, 2);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "800x600x24", "-nolisten", "tcp",
                   (char *)nullptr);
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        char c;
        while (pid > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (pid > 0 && !number.empty()) {
            ServerPid() = pid;
            setenv("DISPLAY", (":" + number).c_str(), 1);
            atexit(StopServer);
        } else if (pid > 0) {
            waitpid(pid, nullptr, 0);
        }
    }
    fl_open_display();
}

// Runs the event loop until the condition holds; false if it never does.
inline bool WaitUntil(const std::function<bool()> &condition, double seconds = 10)
{
    for (int i = 0; i < seconds * 100; i++) {
        if (condition()) return true;
        Fl::wait(0.01);
    }
    return condition();
}

// Shows the window and waits until it has been drawn on the screen.
inline bool ShowAndDraw(Fl_Window *window)
{
    window->show();
    return WaitUntil([window] {
        Fl::flush();
        return window->shown() && window->damage() == 0;
    });
}

// Redraws everything and waits until the picture is on the screen.
inline void RedrawNow(Fl_Window *window)
{
    window->redraw();
    Fl::flush();
    XSync(fl_display, False);
}

struct Rgb
{
    int r, g, b;
    bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Rgb &o) const { return !(*this == o); }
};

inline std::ostream &operator<<(std::ostream &out, const Rgb &c)
{
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

inline Rgb IndexColour(Fl_Color c)
{
    uchar r, g, b;
    Fl::get_color(c, r, g, b);
    return {r, g, b};
}

// What the window shows, read back from the X server.
class Image
{
public:
    explicit Image(Fl_Window *window) : m_Width(window->w()), m_Height(window->h())
    {
        XSync(fl_display, False);
        window->make_current();
        m_Pixels.resize(m_Width * m_Height * 3);
        fl_read_image(m_Pixels.data(), 0, 0, m_Width, m_Height);
    }
    Rgb At(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= m_Width || y >= m_Height) return {-1, -1, -1};
        const unsigned char *p = &m_Pixels[(y * m_Width + x) * 3];
        return {p[0], p[1], p[2]};
    }
    // Whether the colour is within one pixel of (x, y).
    bool Near(int x, int y, const Rgb &colour) const
    {
        for (int dy = -1; dy <= 1; dy++)
            for (int dx = -1; dx <= 1; dx++)
                if (At(x + dx, y + dy) == colour) return true;
        return false;
    }
    int Count(const Rgb &colour, int x0, int y0, int x1, int y1) const
    {
        int count = 0;
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++)
                count += At(x, y) == colour;
        return count;
    }
    // Pixels brighter than the threshold in every channel (text is smoothed).
    int CountBright(int threshold, int x0, int y0, int x1, int y1) const
    {
        int count = 0;
        for (int y = y0; y <= y1; y++) {
            for (int x = x0; x <= x1; x++) {
                const Rgb c = At(x, y);
                count += c.r > threshold && c.g > threshold && c.b > threshold;
            }
        }
        return count;
    }
    bool operator==(const Image &o) const { return m_Pixels == o.m_Pixels; }
    int Width() const { return m_Width; }
    int Height() const { return m_Height; }

private:
    int m_Width;
    int m_Height;
    std::vector<unsigned char> m_Pixels;
};

// Delivers a mouse event straight to a widget, as FLTK would after a press
// of the given button at window coordinates (x, y).
inline int SendMouse(Fl_Widget *widget, int event, int x, int y, int button = 1)
{
    Fl::e_x = x;
    Fl::e_y = y;
    Fl::e_keysym = FL_Button + button;
    Fl::e_number = event;
    return widget->handle(event);
}

// Runs xdotool on the test's display; the pointer and keys are real X input.
inline void XDo(const std::string &arguments)
{
    XSync(fl_display, False);
    RunCommand("xdotool " + arguments);
}

} // namespace WidgetTest

#endif
