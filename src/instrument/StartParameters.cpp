#include "instrument/StartParameters.h"

std::uint32_t TStartParameters::ConfigValue() const
{
    return std::uint32_t(Config[0]) | (std::uint32_t(Config[1]) << 8) | (std::uint32_t(Config[2]) << 16) |
           (std::uint32_t(Config[3]) << 24);
}

void TStartParameters::SetConfigValue(std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        Config[static_cast<std::size_t>(i)] = std::uint8_t(value >> (8 * i));
}
