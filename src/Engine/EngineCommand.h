#ifndef ENGINE_COMMAND_H
#define ENGINE_COMMAND_H

#include <cstddef>
#include <new>
#include <type_traits>

// One change from the windows (or MIDI) for the engine to make at the start
// of a block: a small function object copied by value into the command
// queue. Only plain values may be captured (pointers to engine objects,
// numbers), so a command is built, queued and run without allocating and
// without a destructor.
class EngineCommand
{
public:
    static constexpr size_t Capacity = 48;

    EngineCommand() = default;

    template <typename F> static EngineCommand Make(const F &change)
    {
        static_assert(std::is_trivially_copyable<F>::value, "a command captures plain values only");
        static_assert(sizeof(F) <= Capacity, "a command captures at most a few values");
        static_assert(alignof(F) <= alignof(std::max_align_t), "a command's values are plainly aligned");
        EngineCommand command;
        new (command.m_Storage) F(change);
        command.m_Run = [](const unsigned char *storage) {
            (*std::launder(reinterpret_cast<const F *>(storage)))();
        };
        return command;
    }

    void Run() const
    {
        if (m_Run) m_Run(m_Storage);
    }

private:
    void (*m_Run)(const unsigned char *) = nullptr;
    alignas(std::max_align_t) unsigned char m_Storage[Capacity] = {};
};

#endif
