#ifndef STATUS_LINE_H
#define STATUS_LINE_H

#include <FL/Fl_Box.H>

#include <chrono>
#include <deque>
#include <string>
#include <vector>

// The program's last message where the performer looks, for a few seconds;
// the latest ones in its tooltip (hover). The terminal gets them all too.
class StatusLine : public Fl_Box
{
public:
    StatusLine(int x, int y, int w, int h);

    // New lines (oldest first), then what has been shown long enough goes.
    void Show(const std::vector<std::string> &lines,
              std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

    static constexpr int ShownSeconds = 8;
    static constexpr size_t KeptLines = 12;

private:
    std::string m_Text;
    std::string m_Tip;
    std::deque<std::string> m_Kept;
    std::chrono::steady_clock::time_point m_Since;
};

#endif
