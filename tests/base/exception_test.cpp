#include "base/exception.h"

#include <gtest/gtest.h>

#include <string>

using namespace trivane;

namespace {

std::string str(const String& s) { return std::string(s.data(), s.length()); }

TEST(ExceptionTest, TextForms) {
    struct Case {
        int32_t code;
        const char* message;
        const char* path;
        uint32_t line;
        const char* text;
    } cases[] = {
        {10054, "ESocketConnectionReset", "errors", 208, "ESocketConnectionReset:errors:208(10054)"},
        {0, "EFile", "C:\\src\\base\\file", 12, "EFile:file:12"},
        {-1, "ESocket", "/x/y/errors", 3, "ESocket:errors:3(4294967295)"},
        {0, "EBadItem", "src/a\\b", 7, "EBadItem:a\\b:7"},
        {0, "EBadItem", "array", 9, "EBadItem:array:9"},
    };
    for (const Case& c : cases) {
        const Exception e(c.code, String(c.message), String(c.path), c.line);
        EXPECT_EQ(str(e.text()), c.text);
    }
    const Exception e("EFile"_s, "file"_s, 5);
    EXPECT_EQ(e.code(), 0);
    EXPECT_EQ(str(e.catchText("C:\\d\\service.cpp"_s, 88)), "EFile:file:5 -> service.cpp:88");
}

TEST(ExceptionTest, ThrowRecordsTheClassAsWrittenAndTheModuleName) {
    try {
        TRIVANE_THROW_CODE(ESocket, 10061);
    } catch (const IOException& e) {
        EXPECT_EQ(str(e.message()), "ESocket");
        EXPECT_EQ(str(e.file()), "exception_test");
        EXPECT_EQ(e.code(), 10061);
        EXPECT_EQ(str(e.text()), "ESocket:exception_test:" + std::to_string(e.line()) + "(10061)");
    }
}

TEST(ExceptionTest, CopiesKeepEveryField) {
    const Exception original(5, "EX"_s, "a/b/mod"_s, 42);
    const Exception copy = original;
    EXPECT_EQ(str(copy.text()), "EX:mod:42(5)");
}

}  // namespace
