// Replaces the global operator new and delete of the benchmark executable, and installs an
// OpenCV matrix allocator, both keeping a running heap total. Only this executable is
// affected; the library itself allocates as usual. Sizes come from malloc_usable_size, so a
// block is counted the same way when it is freed, whichever form of delete frees it.
#include "PeakMemory.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include <malloc.h>

#include <opencv2/core.hpp>

namespace {

std::atomic<size_t> heapBytes{0};
std::atomic<size_t> peakBytes{0};

void Add(size_t bytes)
{
    const size_t now = heapBytes.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    size_t peak = peakBytes.load(std::memory_order_relaxed);
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
}

void Subtract(size_t bytes)
{
    heapBytes.fetch_sub(bytes, std::memory_order_relaxed);
}

void* Allocate(size_t bytes) noexcept
{
    void* block = std::malloc(bytes ? bytes : 1);
    if (block) Add(malloc_usable_size(block));
    return block;
}

void Free(void* block) noexcept
{
    if (!block) return;
    Subtract(malloc_usable_size(block));
    std::free(block);
}

// Matrix buffers go through OpenCV's own allocator; this one forwards to it and counts the
// buffer sizes it hands out.
class CountingMatAllocator final : public cv::MatAllocator {
public:
    cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step, cv::AccessFlag flags,
                           cv::UMatUsageFlags usage) const override
    {
        cv::UMatData* u = Std()->allocate(dims, sizes, type, data, step, flags, usage);
        if (u) {
            u->currAllocator = this;
            if (!(u->flags & cv::UMatData::USER_ALLOCATED)) Add(u->size);
        }
        return u;
    }
    bool allocate(cv::UMatData* u, cv::AccessFlag flags, cv::UMatUsageFlags usage) const override
    {
        return Std()->allocate(u, flags, usage);
    }
    void deallocate(cv::UMatData* u) const override
    {
        if (u && !(u->flags & cv::UMatData::USER_ALLOCATED)) Subtract(u->size);
        Std()->deallocate(u);
    }

private:
    static cv::MatAllocator* Std() { return cv::Mat::getStdAllocator(); }
};

struct InstallMatAllocator {
    InstallMatAllocator()
    {
        static CountingMatAllocator allocator;
        cv::Mat::setDefaultAllocator(&allocator);
    }
} installMatAllocator;

}  // namespace

namespace orvane_bench {

size_t HeapBytes()
{
    return heapBytes.load(std::memory_order_relaxed);
}

void ResetHeapPeak()
{
    peakBytes.store(HeapBytes(), std::memory_order_relaxed);
}

size_t PeakHeapBytes()
{
    return peakBytes.load(std::memory_order_relaxed);
}

}  // namespace orvane_bench

void* operator new(std::size_t bytes)
{
    if (void* block = Allocate(bytes)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t bytes)
{
    return ::operator new(bytes);
}
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept
{
    return Allocate(bytes);
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept
{
    return Allocate(bytes);
}
void operator delete(void* block) noexcept
{
    Free(block);
}
void operator delete[](void* block) noexcept
{
    Free(block);
}
void operator delete(void* block, std::size_t) noexcept
{
    Free(block);
}
void operator delete[](void* block, std::size_t) noexcept
{
    Free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept
{
    Free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    Free(block);
}
