#ifndef TEST_SUPPORT_H
#define TEST_SUPPORT_H

#include <string>
#include <vector>

// A fresh directory under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    const std::string &Path() const { return m_Path; }
    std::string File(const std::string &name) const { return m_Path + "/" + name; }
    // Hands the folder to the caller, who removes it.
    std::string Release()
    {
        std::string path = m_Path;
        m_Path.clear();
        return path;
    }

private:
    std::string m_Path;
};

std::string ReadFileBytes(const std::string &path);
void WriteFileBytes(const std::string &path, const std::string &bytes);
bool FileExists(const std::string &path);

// Runs a shell command and returns its standard output; status receives the exit status.
std::string RunCommand(const std::string &command, int *status = nullptr);

#endif
