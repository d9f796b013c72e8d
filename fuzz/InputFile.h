#ifndef INPUT_FILE_H
#define INPUT_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>

// A file under the temporary folder that holds one fuzz input at a time, for
// code that reads paths rather than memory. Removed when the object goes.
class InputFile
{
public:
    explicit InputFile(const std::string &suffix);
    ~InputFile();
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    // Replaces the file's contents; false when the file cannot be written.
    bool Write(const uint8_t *data, size_t size);
    const std::string &Path() const { return m_Path; }
    // A path beside the input, for companion files.
    std::string Beside(const std::string &name) const;

private:
    std::string m_Dir;
    std::string m_Path;
};

#endif
