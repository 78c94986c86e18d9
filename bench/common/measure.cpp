#include "measure.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

namespace {

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"), or -1.
long statusKiB(const char *field)
{
    std::FILE *status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long value = -1;
    const std::size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
            value = std::strtol(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(status);
    return value;
}

// Starts the resident peak again from the present size, with the memory freed so far given back
// first, so that what earlier work left cannot hide the measured work's own; false where the kernel
// refuses.
bool resetPeak()
{
    malloc_trim(0);
    // note: writing 5 to clear_refs resets VmHWM to the current resident size (Linux 4.0+).
    const int fd = ::open("/proc/self/clear_refs", O_WRONLY);
    if (fd < 0)
        return false;
    const bool reset = ::write(fd, "5", 1) == 1;
    ::close(fd);
    return reset && statusKiB("VmHWM") >= 0;
}

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

void Meter::start()
{
    m_peakKnown = resetPeak();
    m_startKiB = statusKiB("VmRSS");
    m_startTime = now();
}

void Meter::stop()
{
    m_seconds = now() - m_startTime;
    m_peakMiB = double(statusKiB("VmHWM") - m_startKiB) / 1024.0;
}

Sample measureInChild(const std::function<bool(Meter &)> &work)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return Sample();
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        return Sample();
    if (child == 0) {
        ::close(channel[0]);
        Meter meter;
        Sample sample;
        sample.ok = work(meter);
        sample.seconds = meter.m_seconds;
        sample.peakMiB = meter.m_peakMiB;
        sample.value = meter.value;
        if (::write(channel[1], &sample, sizeof sample) != ssize_t(sizeof sample))
            ::_exit(2);
        ::_exit(0);
    }
    ::close(channel[1]);
    Sample sample;
    if (::read(channel[0], &sample, sizeof sample) != ssize_t(sizeof sample))
        sample = Sample();
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        sample.ok = false;
    return sample;
}

Sample runProgram(const std::vector<std::string> &argv)
{
    Sample sample;
    if (argv.empty())
        return sample;
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child < 0)
        return sample;
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    ::wait4(child, &status, 0, &usage);
    sample.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sample.peakMiB = double(usage.ru_maxrss) / 1024.0;
    sample.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return sample;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

std::string findProgram(const std::string &name)
{
    const char *path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::string();
}

} // namespace bench
