#include "GUI/ScopeWidget.h"

#include "KorvelInfo.h"

#include <FL/fl_draw.H>

ScopeWidget::ScopeWidget(int x, int y, int w, int h, const char *label)
    : Fl_Widget(x, y, w, h, label), m_Data(nullptr), m_Channels(1)
{
}

void ScopeWidget::draw()
{
    fl_color(0);
    fl_rectf(x(), y(), w(), h());
    if (!m_Data) return;
    fl_color(KorvelInfo::PanelColour + 3);
    if (KorvelInfo::BufferSize < 2 || w() <= 0) return;

    float mid = static_cast<float>(y() + h() / 2);
    int prev = 0;
    int i = 0;
    for (;;) {
        int cur = m_Data[i];
        if (m_Channels == 2) cur = cur + m_Data[i + 1] / 2;
        fl_line(x() + i, static_cast<int>(prev / 400.0f + mid), x() + i + 1,
                static_cast<int>(cur / 400.0f + mid));
        i += m_Channels;
        if (i >= KorvelInfo::BufferSize - 1) break;
        prev = cur;
        if (i >= w()) break;
    }
}
