// A very small test runner without Qt, so the same tests build with any C++20 compiler.
#pragma once

#include <cstdio>
#include <exception>
#include <functional>
#include <sstream>
#include <type_traits>
#include <string>
#include <vector>

namespace check {

struct Failure : std::exception
{
    std::string text;
    explicit Failure(std::string t) : text(std::move(t)) {}
    const char *what() const noexcept override { return text.c_str(); }
};

struct Case
{
    const char *name;
    std::function<void()> body;
};

inline std::vector<Case> &Cases()
{
    static std::vector<Case> cases;
    return cases;
}

struct Register
{
    Register(const char *name, std::function<void()> body) { Cases().push_back({name, std::move(body)}); }
};

template <typename T>
std::string Show(const T &value)
{
    std::ostringstream out;
    if constexpr (std::is_convertible_v<T, std::string>) {
        // Control characters visible, so a difference in line ends can be seen.
        out << '"';
        for (unsigned char c : std::string(value)) {
            if (c == '\n')
                out << "\\n";
            else if (c == '\r')
                out << "\\r";
            else if (c < 32)
                out << "\\x" << std::hex << int(c) << std::dec;
            else
                out << c;
        }
        out << '"';
    } else {
        out << value;
    }
    return out.str();
}

[[noreturn]] inline void Fail(const char *file, int line, const std::string &what)
{
    throw Failure(std::string(file) + ":" + std::to_string(line) + ": " + what);
}

// Runs every case (or those whose name contains argv[1]) and prints one line per case and the
// closing count line; the exit code is the number of failed cases (at most 1 would hide nothing).
inline int RunAll(int argc, char **argv)
{
    const std::string filter = argc > 1 ? argv[1] : "";
    int passed = 0, failed = 0;
    for (const Case &c : Cases()) {
        if (!filter.empty() && std::string(c.name).find(filter) == std::string::npos)
            continue;
        std::printf("RUN   %s\n", c.name);
        std::fflush(stdout);
        try {
            c.body();
            ++passed;
            std::printf("PASS  %s\n", c.name);
        } catch (const std::exception &e) {
            ++failed;
            std::printf("FAIL  %s\n      %s\n", c.name, e.what());
        }
        std::fflush(stdout);
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}

} // namespace check

#define CHECK_CONCAT2(a, b) a##b
#define CHECK_CONCAT(a, b) CHECK_CONCAT2(a, b)
#define TEST_CASE(name)                                                                            \
    static void CHECK_CONCAT(test_, __LINE__)();                                                   \
    static check::Register CHECK_CONCAT(reg_, __LINE__)(name, &CHECK_CONCAT(test_, __LINE__));     \
    static void CHECK_CONCAT(test_, __LINE__)()

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond))                                                                               \
            check::Fail(__FILE__, __LINE__, "CHECK(" #cond ")");                                   \
    } while (0)

#define CHECK_EQ(actual, expected)                                                                 \
    do {                                                                                           \
        const auto &check_a = (actual);                                                            \
        const auto &check_e = (expected);                                                          \
        if (!(check_a == check_e))                                                                 \
            check::Fail(__FILE__, __LINE__,                                                        \
                        std::string(#actual " == " #expected "\n        actual:   ")               \
                            + check::Show(check_a) + "\n        expected: " + check::Show(check_e)); \
    } while (0)
