#pragma once
// Little-endian values at byte offsets of a wire image. Out-of-range offsets
// read as 0 and are not written, so a short image never causes an overrun.
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

static_assert(std::endian::native == std::endian::little);

template <class T>
T GetLE(std::span<const std::uint8_t> image, std::size_t offset)
{
    static_assert(std::is_trivially_copyable_v<T>);
    T value{};
    if (offset + sizeof(T) <= image.size())
        std::memcpy(&value, image.data() + offset, sizeof(T));
    return value;
}

template <class T>
void PutLE(std::span<std::uint8_t> image, std::size_t offset, T value)
{
    static_assert(std::is_trivially_copyable_v<T>);
    if (offset + sizeof(T) <= image.size())
        std::memcpy(image.data() + offset, &value, sizeof(T));
}

template <class T>
void AppendLE(std::span<std::uint8_t> out, std::size_t &at, T value)
{
    PutLE(out, at, value);
    at += sizeof(T);
}
