// Reads the platform wall clock as Unix seconds.
#include "clock/epoch.hpp"

#include "platform/platform.hpp"

namespace tempoloom {

std::optional<double> epochSeconds() noexcept {
    const auto since1970 = epochDuration(platform::wallClockFileTime());
    if (!since1970) {
        return std::nullopt;
    }
    return since1970->toSeconds();
}

}  // namespace tempoloom
