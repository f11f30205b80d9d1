// Wall-clock time as Unix seconds.
#pragma once

#include "clock/duration.hpp"

#include <cstdint>
#include <optional>

namespace tempoloom {

// 100-ns intervals from 1601-01-01 to 1970-01-01 00:00:00 UTC.
inline constexpr std::int64_t unixEpochAsFileTime = 116'444'736'000'000'000;

// Unix seconds for a file time, or nothing when it lies before 1970.
constexpr std::optional<Duration> epochDuration(std::int64_t fileTime) noexcept {
    if (fileTime < unixEpochAsFileTime) {
        return std::nullopt;
    }
    const auto units = static_cast<std::uint64_t>(fileTime - unixEpochAsFileTime);
    return Duration{units / 10'000'000, static_cast<std::uint32_t>(units % 10'000'000) * 100};
}

// The current wall-clock time in Unix seconds, or nothing before 1970.
std::optional<double> epochSeconds() noexcept;

}  // namespace tempoloom
