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

std::string lossyUtf8(std::string_view text) {
    std::string lossy;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // U+D800 to U+DFFF: ED A0..BF xx. No other sequence starts ED A0 and up.
        if (static_cast<unsigned char>(text[i]) == 0xED && i + 2 < text.size() &&
            static_cast<unsigned char>(text[i + 1]) >= 0xA0) {
            lossy += "\xEF\xBF\xBD";
            i += 2;
        } else {
            lossy += text[i];
        }
    }
    return lossy;
}

}  // namespace messages
}  // namespace tempoloom
