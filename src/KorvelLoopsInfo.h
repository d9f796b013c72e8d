#ifndef KORVEL_LOOPS_INFO_H
#define KORVEL_LOOPS_INFO_H

#include "KorvelInfo.h"

// This program's configuration: the base class with the program's own file name.
class KorvelLoopsInfo : public KorvelInfo
{
public:
    static KorvelLoopsInfo *Instance();

    std::string ResourceFileName() override;

private:
    KorvelLoopsInfo() = default;
    static KorvelLoopsInfo *s_Instance;
};

#endif
