#include "KorvelLoopsInfo.h"

KorvelLoopsInfo *KorvelLoopsInfo::s_Instance = nullptr;

KorvelLoopsInfo *KorvelLoopsInfo::Instance()
{
    // Never destroyed: it serves the start-up load only.
    if (!s_Instance) s_Instance = new KorvelLoopsInfo;
    return s_Instance;
}

std::string KorvelLoopsInfo::ResourceFileName()
{
    return ".KorvelLoopsrc";
}
