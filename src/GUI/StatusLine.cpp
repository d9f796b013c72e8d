#include "GUI/StatusLine.h"

#include <FL/Fl.H>

StatusLine::StatusLine(int x, int y, int w, int h) : Fl_Box(x, y, w, h)
{
    box(FL_FLAT_BOX);
    color(FL_BLACK);
    labelcolor(FL_YELLOW);
    labelsize(11);
    align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
}

void StatusLine::Show(const std::vector<std::string> &lines, std::chrono::steady_clock::time_point now)
{
    for (const std::string &line : lines) {
        if (line.empty()) continue;
        m_Kept.push_back(line);
        if (m_Kept.size() > KeptLines) m_Kept.pop_front();
        // "@" starts a symbol in a label; "@@" is the sign itself.
        m_Text.clear();
        for (char c : line)
            m_Text += c == '@' ? std::string("@@") : std::string(1, c);
        m_Since = now;
    }
    if (!lines.empty() && !m_Kept.empty()) {
        m_Tip.clear();
        for (const std::string &line : m_Kept)
            m_Tip += (m_Tip.empty() ? "" : "\n") + line;
        tooltip(m_Tip.c_str());
        label(m_Text.c_str());
        redraw();
    }
    if (!m_Text.empty() && now - m_Since >= std::chrono::seconds(ShownSeconds)) {
        m_Text.clear();
        label(nullptr);
        redraw();
    }
}
