#ifndef BLOCK_SOURCE_H
#define BLOCK_SOURCE_H

class Sample;

// Something that gives the engine one block of sound each block it mixes
// (the plug-in): null when it has nothing this time.
class BlockSource
{
public:
    virtual ~BlockSource() = default;
    virtual const Sample *Block() = 0;
};

#endif
