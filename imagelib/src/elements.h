// Element conversion and buffer allocation shared by the image operations.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

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
template <class T>
inline T* allocateElements(size_t count)
{
    const size_t bytes = (count * sizeof(T) + 15) & ~size_t(15);
    return static_cast<T*>(std::aligned_alloc(16, bytes ? bytes : 16));
}

inline void freeElements(void* p)
{
    std::free(p);
}

} // namespace Lumen::detail
