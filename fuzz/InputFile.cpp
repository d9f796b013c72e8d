#include "InputFile.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <unistd.h>

InputFile::InputFile(const std::string &suffix)
{
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/korvel-fuzz-XXXXXX";
    char *made = mkdtemp(&pattern[0]);
    m_Dir = made ? made : ".";
    m_Path = m_Dir + "/input" + suffix;
}

InputFile::~InputFile()
{
    if (m_Dir == ".") return;
    if (DIR *dir = opendir(m_Dir.c_str())) {
        while (dirent *entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") unlink((m_Dir + "/" + name).c_str());
        }
        closedir(dir);
    }
    rmdir(m_Dir.c_str());
}

bool InputFile::Write(const uint8_t *data, size_t size)
{
    FILE *file = std::fopen(m_Path.c_str(), "wb");
    if (!file) return false;
    bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

std::string InputFile::Beside(const std::string &name) const
{
    return m_Dir + "/" + name;
}
