#ifndef MESSAGE_LOG_H
#define MESSAGE_LOG_H

#include <mutex>
#include <streambuf>
#include <string>
#include <vector>

// Every line the program writes to standard error, kept as well for the
// windows to show: a stream buffer put in front of std::cerr's, passing all
// on as before and collecting whole lines. Lines may come from any thread
// that may wait a moment (the audio thread writes none).
class MessageLog : public std::streambuf
{
public:
    // In front of std::cerr until destroyed (logs made later go in front).
    MessageLog();
    ~MessageLog() override;
    MessageLog(const MessageLog &) = delete;
    MessageLog &operator=(const MessageLog &) = delete;

    // The whole lines since the last call, oldest first.
    std::vector<std::string> Take();

protected:
    int overflow(int c) override;
    std::streamsize xsputn(const char *text, std::streamsize count) override;
    int sync() override;

private:
    void Collect(const char *text, std::streamsize count);

    std::streambuf *m_Next;
    std::mutex m_Lock;
    std::string m_Line;
    std::vector<std::string> m_Lines;
};

#endif
