#include "KorvelLoopsInfo.h"
#include "KorvelSound/Output.h"

#include <cstdlib>
#include <ctime>

// Opens the sound device and plays one block of silence.
int main()
{
    srand(time(NULL));
    KorvelLoopsInfo::Instance()->LoadResourceFile();
    Output output(2);
    output.ClearBuffer();
    output.Write();
    return 0;
}
