#include "tests/support/check.h"

#include <vector>

namespace check {

int failures = 0;

namespace {
struct Entry {
    const char* name;
    TestFunction fn;
};
std::vector<Entry>& registry() {
    static std::vector<Entry> tests;
    return tests;
}
} // namespace

int registerTest(const char* name, TestFunction fn) {
    registry().push_back({name, fn});
    return 0;
}

void fail(const char* file, int line, const std::string& message) {
    ++failures;
    std::fprintf(stderr, "%s:%d: %s\n", file, line, message.c_str());
    std::fflush(stderr);
}

} // namespace check

int main(int argc, char** argv) {
    int run = 0, failedCases = 0;
    for (const auto& t : check::registry()) {
        if (argc > 1 && std::strstr(t.name, argv[1]) == nullptr)
            continue;
        int before = check::failures;
        std::printf("[ RUN  ] %s\n", t.name);
        std::fflush(stdout);
        try {
            t.fn();
        } catch (const check::RequireFailed&) {
        }
        bool ok = check::failures == before;
        std::printf("[ %s ] %s\n", ok ? " OK " : "FAIL", t.name);
        std::fflush(stdout);
        ++run;
        failedCases += ok ? 0 : 1;
    }
    std::printf("%d case(s), %d failed\n", run, failedCases);
    return failedCases == 0 && run > 0 ? 0 : 1;
}
