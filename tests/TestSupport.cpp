// tests/TestSupport.cpp: temporary folders and child processes.
#include "TestSupport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

TempDir::TempDir()
{
    char pattern[] = "/tmp/vortalune-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made ? made : "/tmp";
}

TempDir::~TempDir()
{
    if (path_ != "/tmp") {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options)
{
    ProcessResult result;
    int errPipe[2];
    if (pipe(errPipe) != 0)
        return result;
    int outPipe[2] = { -1, -1 };
    if (options.captureOutput && pipe(outPipe) != 0) {
        close(errPipe[0]);
        close(errPipe[1]);
        return result;
    }

    const pid_t pid = fork();
    if (pid < 0)
        return result;
    if (pid == 0) {
        const int errorFile = options.errorFile.empty()
                                  ? -1
                                  : open(options.errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(errorFile >= 0 ? errorFile : errPipe[1], 2);
        if (errorFile > 2)
            close(errorFile);
        close(errPipe[0]);
        close(errPipe[1]);
        const int devNull = open("/dev/null", O_RDWR);
        if (devNull >= 0) {
            dup2(devNull, 0);
            dup2(devNull, 1);
        }
        if (outPipe[1] >= 0) {
            dup2(outPipe[1], 1);
            close(outPipe[0]);
            close(outPipe[1]);
        }
        if (chdir(options.workDir.c_str()) != 0)
            _exit(126);
        for (const std::string& entry : options.env) {
            const size_t eq = entry.find('=');
            if (eq == std::string::npos)
                continue;
            const std::string name = entry.substr(0, eq);
            const std::string value = entry.substr(eq + 1);
            if (value.empty())
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(errPipe[1]);
    fcntl(errPipe[0], F_SETFL, O_NONBLOCK);
    if (outPipe[0] >= 0) {
        close(outPipe[1]);
        fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
    }
    // Drains both pipes so a chatty child never blocks on a full one.
    auto drain = [&](char* buffer, size_t size) {
        ssize_t got;
        while ((got = read(errPipe[0], buffer, size)) > 0)
            result.errorOutput.append(buffer, static_cast<size_t>(got));
        while (outPipe[0] >= 0 && (got = read(outPipe[0], buffer, size)) > 0)
            result.output.append(buffer, static_cast<size_t>(got));
    };

    const auto start = std::chrono::steady_clock::now();
    bool called = options.whileRunning == nullptr;
    int status = 0;
    char buffer[4096];
    for (;;) {
        drain(buffer, sizeof buffer);
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!called && seconds >= options.delaySeconds) {
            options.whileRunning(pid);
            called = true;
        }
        if (seconds > options.timeoutSeconds) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    drain(buffer, sizeof buffer);
    close(errPipe[0]);
    if (outPipe[0] >= 0)
        close(outPipe[0]);
    if (!options.errorFile.empty())
        result.errorOutput = readFile(options.errorFile);
    if (!result.timedOut && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    return result;
}

std::string xdotool(const std::string& args)
{
    char errors[] = "/tmp/vortalune-xdotool-XXXXXX";
    const int fd = mkstemp(errors);
    if (fd < 0)
        return {};
    close(fd);
    std::string out;
    for (int attempt = 0; attempt < 5; ++attempt) {
        out.clear();
        // A bound on --sync: a program that has quit is never found.
        if (FILE* p = popen(("timeout 30 xdotool " + args + " 2>" + errors).c_str(), "r")) {
            char buffer[256];
            while (std::fgets(buffer, sizeof buffer, p))
                out += buffer;
            pclose(p);
        }
        // Only an error while reading other windows means nothing was sent;
        // one in sending is the program's own window closing as it quits on
        // the key just sent.
        const std::string why = readFile(errors);
        if (why.find("X Error") == std::string::npos || why.find("X_SendEvent") != std::string::npos)
            break;
    }
    unlink(errors);
    return out;
}

void sendKeyToProgram(int pid, const std::string& key)
{
    xdotool("search --sync --all --pid " + std::to_string(pid) + " --name '^Vortalune$' key --window %1 " + key);
}

ProcessResult runProcessOnDisplay(const std::vector<std::string>& argv, const ProcessOptions& options)
{
    ProcessResult r;
    for (int attempt = 0; attempt < 3; ++attempt) {
        r = runProcess(argv, options);
        if (r.errorOutput.find("Couldn't open X11 display") == std::string::npos)
            break;
    }
    return r;
}

int runShell(const std::string& command)
{
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

bool capAddressSpace(uint64_t extraBytes)
{
    std::ifstream statm("/proc/self/statm");
    uint64_t pages = 0;
    if (!(statm >> pages))
        return false;
    const uint64_t mapped = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    rlimit limit;
    limit.rlim_cur = limit.rlim_max = mapped + extraBytes;
    return setrlimit(RLIMIT_AS, &limit) == 0;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

bool haveDisplay()
{
    const char* display = std::getenv("DISPLAY");
    return display && *display;
}
