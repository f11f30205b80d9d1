// Display names and the argument parser's messages.
#include "core/parameter_list.hpp"

namespace tempoloom {

std::string ParameterList::displayName() const {
    std::string name;
    if (!className.empty()) {
        name += className;
        name += '.';
    }
    name += functionName;
    name += "()";
    return name;
}

namespace messages {
namespace {

std::string quoted(std::string_view name) {
    std::string text = "'";
    text += name;
    text += '\'';
    return text;
}

const char* wasOrWere(std::size_t count) { return count == 1 ? "was" : "were"; }

}  // namespace

std::string nameList(std::span<const std::string_view> names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            text += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        }
        text += quoted(names[i]);
    }
    return text;
}

std::string tooManyPositional(const ParameterList& list, std::size_t given) {
    const std::size_t max = list.positional.size();
    std::string text = list.displayName() + " takes ";
    if (list.required == max) {
        text += std::to_string(max);
    } else {
        text += "from " + std::to_string(list.required) + " to " + std::to_string(max);
    }
    text +=
        " positional arguments but " + std::to_string(given) + " " + wasOrWere(given) + " given";
    return text;
}

std::string unexpectedKeyword(const ParameterList& list, std::string_view keyword) {
    return list.displayName() + " got an unexpected keyword argument " + quoted(keyword);
}

std::string multipleValues(const ParameterList& list, std::string_view keyword) {
    return list.displayName() + " got multiple values for argument " + quoted(keyword);
}

std::string positionalOnlyAsKeyword(const ParameterList& list,
                                    std::span<const std::string_view> keywords) {
    return list.displayName() +
           " got some positional-only arguments passed as keyword arguments: " + nameList(keywords);
}

std::string missingRequired(const ParameterList& list, std::string_view kind,
                            std::span<const std::string_view> names) {
    std::string text =
        list.displayName() + " missing " + std::to_string(names.size()) + " required ";
    text += kind;
    text += names.size() == 1 ? " argument: " : " arguments: ";
    return text + nameList(names);
}

std::string lossyUtf8(std::u32string_view codePoints) {
    std::string text;
    for (char32_t c : codePoints) {
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | (c >> 12));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (c >> 18));
            text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

}  // namespace messages
}  // namespace tempoloom
