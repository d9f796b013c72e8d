#ifndef SPSC_QUEUE_H
#define SPSC_QUEUE_H

#include <atomic>
#include <cstddef>
#include <memory>
#include <type_traits>

// A fixed-size queue between exactly one producing and one consuming thread.
// Neither side ever waits or allocates, so the audio thread can be either end.
// The room is allocated once, at construction, on the thread that builds it.
template <typename T> class SpscQueue
{
    // Values are copied in and out with plain assignment: nothing may run a
    // destructor or allocate on the audio thread.
    static_assert(std::is_trivially_copyable<T>::value, "SpscQueue holds trivially copyable values only");

public:
    // Room for at least minimumCapacity values: rounded up to a power of two,
    // so that a position is a mask away from its slot.
    explicit SpscQueue(size_t minimumCapacity) : m_Capacity(RoundUp(minimumCapacity)), m_Mask(m_Capacity - 1)
    {
        m_Slots.reset(new T[m_Capacity]);
    }
    SpscQueue(const SpscQueue &) = delete;
    SpscQueue &operator=(const SpscQueue &) = delete;

    size_t Capacity() const { return m_Capacity; }

    // Producer only. False when full; the value is then not taken.
    bool TryPush(const T &value)
    {
        const size_t tail = m_Tail.load(std::memory_order_relaxed);
        // Acquire: the consumer's read of the slot is done before it is reused.
        if (tail - m_Head.load(std::memory_order_acquire) == m_Capacity) return false;
        m_Slots[tail & m_Mask] = value;
        // Release: the value is in its slot before the consumer can see it.
        m_Tail.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer only. False when empty; value is then left as it was.
    bool TryPop(T &value)
    {
        const size_t head = m_Head.load(std::memory_order_relaxed);
        if (head == m_Tail.load(std::memory_order_acquire)) return false;
        value = m_Slots[head & m_Mask];
        m_Head.store(head + 1, std::memory_order_release);
        return true;
    }

private:
    static size_t RoundUp(size_t capacity)
    {
        size_t size = 1;
        while (size < capacity)
            size <<= 1;
        return size;
    }

    // Each end writes its own position only; on lines of their own, neither
    // end's writes evict the other's cached position.
    alignas(64) std::atomic<size_t> m_Head{0}; // next to pop, written by the consumer
    alignas(64) std::atomic<size_t> m_Tail{0}; // next to push, written by the producer
    alignas(64) const size_t m_Capacity;
    const size_t m_Mask;
    std::unique_ptr<T[]> m_Slots;
};

#endif
