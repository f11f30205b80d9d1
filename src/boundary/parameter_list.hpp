// ParameterList: the description of one Python-visible function, and the parser that
// matches a call's arguments against it.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace tempoloom {

struct KeywordOnlyParameter {
    std::string_view name;
    bool required;
};

struct ParameterList {
    std::string_view functionName;
    std::string_view className;  // empty for module functions
    std::span<const std::string_view> positional;
    std::size_t positionalOnly = 0;
    std::size_t required = 0;
    std::span<const KeywordOnlyParameter> keywordOnly;

    std::size_t slotCount() const noexcept { return positional.size() + keywordOnly.size(); }

    // "Class.function()" or "function()".
    std::string displayName() const;
};

}  // namespace tempoloom
