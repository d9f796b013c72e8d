#ifndef BLOCK_RUNNER_H
#define BLOCK_RUNNER_H

// What a sound device calls on its own thread when it needs the next block
// (JACK's process callback, the OSS device thread). The block goes to the
// device through the program's Output as ever.
class BlockRunner
{
public:
    virtual ~BlockRunner() = default;
    virtual bool RunBlock() = 0;
};

#endif
