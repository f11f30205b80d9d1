// ParameterList: the description of one Python-visible function, and the texts of the
// argument parser's TypeErrors about it. Pure string work.
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

// Built with designated initialisers; what is left out is empty or 0.
struct ParameterList {
    std::string_view functionName;
    std::string_view className = {};  // empty for module functions
    std::span<const std::string_view> positional = {};
    std::size_t positionalOnly = 0;  // leading positional parameters no keyword may fill
    std::size_t required = 0;        // leading positional parameters that must be given
    std::span<const KeywordOnlyParameter> keywordOnly = {};

    std::size_t slotCount() const noexcept { return positional.size() + keywordOnly.size(); }

    // "Class.function()" or "function()".
    std::string displayName() const;
};

namespace messages {

// 'p'; 'p' and 'q'; 'p', 'q', and 'r'
std::string nameList(std::span<const std::string_view> names);

std::string tooManyPositional(const ParameterList& list, std::size_t given);
std::string unexpectedKeyword(const ParameterList& list, std::string_view keyword);
std::string multipleValues(const ParameterList& list, std::string_view keyword);
std::string positionalOnlyAsKeyword(const ParameterList& list,
                                    std::span<const std::string_view> keywords);
// kind: "positional" or "keyword"
std::string missingRequired(const ParameterList& list, std::string_view kind,
                            std::span<const std::string_view> names);

// Text as Python's "surrogatepass" encodes it, with each lone surrogate, which UTF-8
// cannot encode, as U+FFFD.
std::string lossyUtf8(std::string_view text);

}  // namespace messages
}  // namespace tempoloom
