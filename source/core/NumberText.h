#pragma once

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

namespace kestrune
{
// A number as typed on a command line or saved in a state ("0.25", "-3", "+1", "5e-4"), read one way
// everywhere and whatever the locale. Anything else, a value beyond a double's range, an infinity or
// a NaN is no number: the caller then refuses it or takes the default.
inline std::optional<double> parseNumber (std::string_view text)
{
    while (! text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix (1);
    while (! text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix (1);
    if (! text.empty() && text.front() == '+')
        text.remove_prefix (1);

    double value = 0.0;
    const auto* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars (text.data(), end, value);

    if (text.empty() || error != std::errc() || stop != end || ! std::isfinite (value))
        return std::nullopt;

    return value;
}
} // namespace kestrune
