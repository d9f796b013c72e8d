#include "KorvelSound/FilterInstance.h"

#include <cstdio>
#include <cstdlib>
#include <new>

FilterInstance::FilterInstance() : length(2), history(nullptr), coef(nullptr)
{
    coef = new (std::nothrow) float[4 * length + 1]();
    if (!coef) {
        std::printf("Unable to allocate coef array, exiting\n");
        std::exit(1);
    }
}

FilterInstance::~FilterInstance()
{
    delete[] coef;
    delete[] history;
}
