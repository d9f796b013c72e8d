#include "Engine/AudioThread.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unistd.h>

namespace {

// Plain data: reading it allocates nothing, even on first use in a thread.
thread_local bool t_OnAudioThread = false;

// No iostream here: it may allocate, and this runs inside operator new.
[[noreturn]] void Abort(const char *what)
{
    const char tail[] = " on the audio thread\n";
    if (write(STDERR_FILENO, what, std::strlen(what)) < 0 ||
        write(STDERR_FILENO, tail, sizeof tail - 1) < 0) {
    }
    std::abort();
}

} // namespace

AudioThread::Scope::Scope() : m_Was(t_OnAudioThread)
{
    t_OnAudioThread = true;
}

AudioThread::Scope::~Scope()
{
    t_OnAudioThread = m_Was;
}

bool AudioThread::IsCurrent()
{
    return t_OnAudioThread;
}

void AudioThread::Check(const char *what)
{
    if (Checked && t_OnAudioThread) Abort(what);
}

#ifdef KORVEL_RT_CHECKS

// The program's own operator new and delete, so that every allocation in a
// checked build passes the audio thread's test. They keep the standard ones'
// contract on malloc and free (which the sanitizers still watch).
namespace {

void *Allocate(std::size_t size, std::size_t alignment, bool nothrow)
{
    if (t_OnAudioThread) Abort("allocation");
    if (size == 0) size = 1;
    void *memory = nullptr;
    if (alignment <= alignof(std::max_align_t))
        memory = std::malloc(size);
    else if (posix_memalign(&memory, alignment, size) != 0)
        memory = nullptr;
    if (!memory && !nothrow) throw std::bad_alloc();
    return memory;
}

void Free(void *memory) noexcept
{
    if (!memory) return;
    if (t_OnAudioThread) Abort("free");
    std::free(memory);
}

const std::size_t Plain = alignof(std::max_align_t);

} // namespace

void *operator new(std::size_t size)
{
    return Allocate(size, Plain, false);
}
void *operator new[](std::size_t size)
{
    return Allocate(size, Plain, false);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    return Allocate(size, Plain, true);
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept
{
    return Allocate(size, Plain, true);
}
void *operator new(std::size_t size, std::align_val_t align)
{
    return Allocate(size, static_cast<std::size_t>(align), false);
}
void *operator new[](std::size_t size, std::align_val_t align)
{
    return Allocate(size, static_cast<std::size_t>(align), false);
}
void *operator new(std::size_t size, std::align_val_t align, const std::nothrow_t &) noexcept
{
    return Allocate(size, static_cast<std::size_t>(align), true);
}
void *operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t &) noexcept
{
    return Allocate(size, static_cast<std::size_t>(align), true);
}

void operator delete(void *memory) noexcept
{
    Free(memory);
}
void operator delete[](void *memory) noexcept
{
    Free(memory);
}
void operator delete(void *memory, std::size_t) noexcept
{
    Free(memory);
}
void operator delete[](void *memory, std::size_t) noexcept
{
    Free(memory);
}
void operator delete(void *memory, const std::nothrow_t &) noexcept
{
    Free(memory);
}
void operator delete[](void *memory, const std::nothrow_t &) noexcept
{
    Free(memory);
}
void operator delete(void *memory, std::align_val_t) noexcept
{
    Free(memory);
}
void operator delete[](void *memory, std::align_val_t) noexcept
{
    Free(memory);
}
void operator delete(void *memory, std::size_t, std::align_val_t) noexcept
{
    Free(memory);
}
void operator delete[](void *memory, std::size_t, std::align_val_t) noexcept
{
    Free(memory);
}
void operator delete(void *memory, std::align_val_t, const std::nothrow_t &) noexcept
{
    Free(memory);
}
void operator delete[](void *memory, std::align_val_t, const std::nothrow_t &) noexcept
{
    Free(memory);
}

#endif
