// Instant: a reading of the monotonic counter, as a Duration from the counter's origin.
#pragma once

#include "clock/duration.hpp"

namespace tempoloom {

struct Instant {
    Duration sinceOrigin;

    friend constexpr auto operator<=>(const Instant&, const Instant&) = default;

    // Reads the counter; an unreadable counter or frequency is an internal fault.
    static Instant now();

    // Time from this instant until now; zero if the counter reads earlier than this.
    Duration elapsed() const;

    // The same, against a given reading of now.
    constexpr Duration elapsedUntil(const Instant& now) const noexcept {
        return now < *this ? Duration{} : now.sinceOrigin.minus(sinceOrigin);
    }
};

}  // namespace tempoloom
