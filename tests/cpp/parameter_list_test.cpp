// Display names and the argument parser's message texts.
#include "core/parameter_list.hpp"

#include <gtest/gtest.h>

#include <array>

namespace tempoloom::messages {
namespace {

constexpr std::array<std::string_view, 1> t{"t"};
constexpr std::array<std::string_view, 1> applyZero{"applyZero"};
constexpr ParameterList sleepList{.functionName = "sleep", .positional = t, .required = 1};
constexpr ParameterList newList{.functionName = "__new__", .className = "MonotonicClock"};
constexpr ParameterList getTimeList{
    .functionName = "getTime", .className = "MonotonicClock", .positional = applyZero};
constexpr ParameterList addList{
    .functionName = "add", .className = "Clock", .positional = t, .required = 1};

TEST(ParserMessages, TooManyPositional) {
    EXPECT_EQ(tooManyPositional(sleepList, 2),
              "sleep() takes 1 positional arguments but 2 were given");
    EXPECT_EQ(tooManyPositional(newList, 1),
              "MonotonicClock.__new__() takes 0 positional arguments but 1 was given");
    EXPECT_EQ(tooManyPositional(getTimeList, 2),
              "MonotonicClock.getTime() takes from 0 to 1 positional arguments but 2 were given");
}

TEST(ParserMessages, KeywordProblems) {
    EXPECT_EQ(unexpectedKeyword(sleepList, "x"), "sleep() got an unexpected keyword argument 'x'");
    EXPECT_EQ(multipleValues(addList, "t"), "Clock.add() got multiple values for argument 't'");
    constexpr std::array<std::string_view, 2> two{"a", "b"};
    EXPECT_EQ(
        positionalOnlyAsKeyword(sleepList, two),
        "sleep() got some positional-only arguments passed as keyword arguments: 'a' and 'b'");
}

TEST(ParserMessages, MissingRequired) {
    EXPECT_EQ(missingRequired(addList, "positional", t),
              "Clock.add() missing 1 required positional argument: 't'");
    constexpr std::array<std::string_view, 3> three{"p", "q", "r"};
    EXPECT_EQ(missingRequired(sleepList, "keyword", three),
              "sleep() missing 3 required keyword arguments: 'p', 'q', and 'r'");
}

TEST(ParserMessages, NameLists) {
    EXPECT_EQ(nameList({}), "");
    EXPECT_EQ(nameList(t), "'t'");
    constexpr std::array<std::string_view, 4> four{"a", "b", "c", "d"};
    EXPECT_EQ(nameList(four), "'a', 'b', 'c', and 'd'");
}

TEST(ParserMessages, LossyUtf8ReplacesEachSurrogate) {
    EXPECT_EQ(lossyUtf8("abc"), "abc");
    const std::string_view kept =
        "\xc3\xa9\xed\x9f\xbf\xe2\x82\xac\xf0\x9f\x98\x80";  // up to U+D7FF
    EXPECT_EQ(lossyUtf8(kept), kept);
    EXPECT_EQ(lossyUtf8("x\xed\xb2\x80\xed\xa0\x80y\xed\xbf\xbf"),
              "x\xef\xbf\xbd\xef\xbf\xbdy\xef\xbf\xbd");
}

}  // namespace
}  // namespace tempoloom::messages
