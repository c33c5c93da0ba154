// Element conversion and buffer allocation shared by the image operations.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

namespace Lumen::detail {

// Truncates toward zero; out of range or NaN gives INT32_MIN, like the
// processor's truncating conversion, instead of undefined behaviour.
inline int32_t truncateToInt32(float v)
{
    return (v > -2147483904.0f && v < 2147483648.0f) ? int32_t(v) : INT32_MIN;
}

// Stores a float into an element of type T: truncation toward zero, low bits kept.
template <class T>
inline T fromFloat(float v)
{
    return T(truncateToInt32(v)); // char, short and int types: modular narrowing
}
template <>
inline unsigned int fromFloat<unsigned int>(float v)
{
    if (v >= 0.0f && v < 4294967296.0f)
        return static_cast<unsigned int>(v);
    return static_cast<unsigned int>(truncateToInt32(v));
}
template <>
inline float fromFloat<float>(float v)
{
    return v;
}
template <>
inline double fromFloat<double>(float v)
{
    return v;
}

// Element buffers are 16-byte aligned and released with freeElements.
// Large buffers are placed on 2 MiB boundaries and offered to the kernel as
// huge pages: touching a fresh 48 MiB buffer page by page costs far more than
// filling it (more than 100 ms against 6 ms measured on a virtual machine).
template <class T>
inline T* allocateElements(size_t count)
{
    constexpr size_t kHuge = size_t(2) << 20;
    const size_t bytes = (count * sizeof(T) + 15) & ~size_t(15);
    if (bytes >= 2 * kHuge) {
        const size_t rounded = (bytes + kHuge - 1) & ~(kHuge - 1);
        if (void* p = std::aligned_alloc(kHuge, rounded)) {
#ifdef MADV_HUGEPAGE
            madvise(p, rounded, MADV_HUGEPAGE); // advice only: failure changes nothing
#endif
            return static_cast<T*>(p);
        }
    }
    return static_cast<T*>(std::aligned_alloc(16, bytes ? bytes : 16));
}

inline void freeElements(void* p)
{
    std::free(p);
}

} // namespace Lumen::detail
