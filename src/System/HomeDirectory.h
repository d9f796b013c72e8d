#ifndef HOME_DIRECTORY_H
#define HOME_DIRECTORY_H

#include <string>

// Where the user's home directory is: the one place the program asks the
// environment and the password database, so tests can stand in for both.
class HomeDirectory
{
public:
    virtual ~HomeDirectory() = default;

    // HOME when set and not empty, else the password database's entry for the
    // current user. Returns false when neither knows one.
    virtual bool Find(std::string &path);

    // The instance the configuration asks; tests may install their own.
    static HomeDirectory *Current();
    static void SetCurrent(HomeDirectory *home);

private:
    static HomeDirectory *s_Current;
};

#endif
