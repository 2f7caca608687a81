// tests/OwnDisplay.cpp: a private Xvfb per input test, and the listener that
// gives one to each test of VORTALUNE_INPUT_TESTS.
#include "OwnDisplay.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fnmatch.h>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int START_TIMEOUT_MS = 20000;

} // namespace

OwnDisplay::OwnDisplay()
{
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        why_ = std::string("no pipe: ") + std::strerror(errno);
        return;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // The server writes its display number to this descriptor once it
        // takes connections (-displayfd): it keeps that one open.
        const int fd = dup(ready[1]);
        const std::string fdText = std::to_string(fd);
        const int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, STDIN_FILENO);
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
        setpgid(0, 0);   // not in the test's process group: a signal to it reaches no server
        execlp("Xvfb", "Xvfb", "-displayfd", fdText.c_str(), "-screen", "0", "1024x768x24", "-noreset", "-nolisten",
               "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    if (pid < 0) {
        close(ready[0]);
        why_ = std::string("no fork: ") + std::strerror(errno);
        return;
    }
    std::string number;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(START_TIMEOUT_MS);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd p{ ready[0], POLLIN, 0 };
        if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0)
            break;
        char c = 0;
        const ssize_t n = read(ready[0], &c, 1);
        if (n <= 0 || c == '\n')
            break;
        number += c;
    }
    close(ready[0]);
    if (number.empty()) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        why_ = "Xvfb did not start (is it installed?)";
        return;
    }
    pid_ = pid;
    name_ = ":" + number;
    if (const char* d = std::getenv("DISPLAY")) {
        hadPrevious_ = true;
        previous_ = d;
    }
    setenv("DISPLAY", name_.c_str(), 1);
}

OwnDisplay::~OwnDisplay()
{
    if (pid_ <= 0)
        return;
    if (hadPrevious_)
        setenv("DISPLAY", previous_.c_str(), 1);
    else
        unsetenv("DISPLAY");
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}

bool matchesTestPatterns(const std::string& fullName, const std::string& patterns)
{
    size_t start = 0;
    while (start <= patterns.size()) {
        const size_t end = std::min(patterns.find(':', start), patterns.size());
        const std::string pattern = patterns.substr(start, end - start);
        if (!pattern.empty() && fnmatch(pattern.c_str(), fullName.c_str(), 0) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

namespace {

// Gives each input test its own display, when the tests run on one at all.
class OwnDisplayPerInputTest : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo& test) override
    {
        const std::string name = std::string(test.test_suite_name()) + "." + test.name();
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display || !matchesTestPatterns(name, VORTALUNE_INPUT_TESTS))
            return;
        display_ = std::make_unique<OwnDisplay>();
        if (!display_->started())
            std::fprintf(stderr, "%s: on the shared display: %s\n", name.c_str(), display_->why().c_str());
    }

    void OnTestEnd(const testing::TestInfo&) override { display_.reset(); }

    std::unique_ptr<OwnDisplay> display_;
};

// Registered before main, with gtest's own instance (made on first use).
const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new OwnDisplayPerInputTest);
    return true;
}();

} // namespace
