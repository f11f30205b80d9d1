// The texts of the argument parser's TypeErrors. Pure string work, no interpreter.
#pragma once

#include "boundary/parameter_list.hpp"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace tempoloom::messages {

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

// UTF-8 for code points, each one that UTF-8 cannot encode (a surrogate) as U+FFFD.
std::string lossyUtf8(std::u32string_view codePoints);

}  // namespace tempoloom::messages
