// A small test harness shared by every test program of the project, native and under Wine alike.
// TEST(name) { ... } registers a case; CHECK(cond) and CHECK_EQ(a, b) report a failure with the
// file and line and let the case go on; REQUIRE(cond) ends the case. main() (check.cpp) runs every
// case, or only those whose name contains argv[1], and exits non-zero when any check failed.
#pragma once
#include <cstdio>
#include <cstring>
#include <string>

namespace check {

typedef void (*TestFunction)();
int registerTest(const char* name, TestFunction fn);
void fail(const char* file, int line, const std::string& message);
extern int failures;

struct RequireFailed {};

inline std::string show(const std::string& s) { return "\"" + s + "\""; }
inline std::string show(const char* s) { return s ? "\"" + std::string(s) + "\"" : "null"; }
inline std::string show(char* s) { return show(static_cast<const char*>(s)); }
inline std::string show(bool b) { return b ? "true" : "false"; }
inline std::string show(char c) { return std::to_string(static_cast<int>(c)); }
template <typename T> std::string show(T* p) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", static_cast<const void*>(p));
    return buf;
}
template <typename T> std::string show(const T& v) { return std::to_string(v); }

inline bool equal(const char* a, const char* b) {
    return (a == nullptr || b == nullptr) ? a == b : std::strcmp(a, b) == 0;
}
inline bool equal(char* a, const char* b) { return equal(static_cast<const char*>(a), b); }
inline bool equal(const char* a, char* b) { return equal(a, static_cast<const char*>(b)); }
inline bool equal(char* a, char* b) { return equal(static_cast<const char*>(a), b); }
inline bool equal(const std::string& a, const char* b) { return b && a == b; }
inline bool equal(const char* a, const std::string& b) { return a && b == a; }
template <typename A, typename B> bool equal(const A& a, const B& b) { return a == b; }

} // namespace check

#define CHECK_CONCAT2(a, b) a##b
#define CHECK_CONCAT(a, b) CHECK_CONCAT2(a, b)
#define TEST(name)                                                                                 \
    static void name();                                                                            \
    static int CHECK_CONCAT(registered_, name) = check::registerTest(#name, name);                \
    static void name()

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond))                                                                               \
            check::fail(__FILE__, __LINE__, "CHECK(" #cond ")");                                   \
    } while (0)

#define REQUIRE(cond)                                                                              \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            check::fail(__FILE__, __LINE__, "REQUIRE(" #cond ")");                                 \
            throw check::RequireFailed();                                                          \
        }                                                                                          \
    } while (0)

#define CHECK_EQ(a, b)                                                                             \
    do {                                                                                           \
        auto&& check_a_ = (a);                                                                     \
        auto&& check_b_ = (b);                                                                     \
        if (!check::equal(check_a_, check_b_))                                                     \
            check::fail(__FILE__, __LINE__,                                                        \
                        "CHECK_EQ(" #a ", " #b "): " + check::show(check_a_) +                     \
                            " != " + check::show(check_b_));                                       \
    } while (0)
