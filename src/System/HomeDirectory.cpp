#include "System/HomeDirectory.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

HomeDirectory *HomeDirectory::s_Current = nullptr;

bool HomeDirectory::Find(std::string &path)
{
    const char *home = std::getenv("HOME");
    if (home && *home) {
        path = home;
        return true;
    }
    // A daemon or a stripped environment may lack HOME; the account still has one.
    const passwd *entry = getpwuid(getuid());
    if (entry && entry->pw_dir && *entry->pw_dir) {
        path = entry->pw_dir;
        return true;
    }
    return false;
}

HomeDirectory *HomeDirectory::Current()
{
    static HomeDirectory system;
    return s_Current ? s_Current : &system;
}

void HomeDirectory::SetCurrent(HomeDirectory *home)
{
    s_Current = home;
}
