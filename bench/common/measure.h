#pragma once

#include <functional>
#include <string>
#include <vector>

namespace bench {

// One measurement: wall time and the peak resident memory it added, in MiB.
struct Sample
{
    bool ok = false;
    double seconds = 0;
    double peakMiB = 0;
    double value = 0; // a figure the measured work reports (a count, a size)
};

// The clock and memory meter of one measurement inside a child: start() gives back freed memory,
// resets the peak resident memory and starts the clock, stop() reads both.
class Meter
{
public:
    void start();
    void stop();
    // The figures of the last start() and stop().
    double seconds() const { return m_seconds; }
    double peakMiB() const { return m_peakMiB; }
    // False where the kernel refused to reset the peak: peakMiB() then counts from the start of
    // the process.
    bool peakKnown() const { return m_peakKnown; }
    // The resident size at start(), after freed memory was given back.
    double startMiB() const { return double(m_startKiB) / 1024.0; }
    double value = 0; // a figure the work reports

private:
    friend Sample measureInChild(const std::function<bool(Meter &)> &work);
    double m_startTime = 0;
    long m_startKiB = 0;
    double m_seconds = 0;
    double m_peakMiB = 0;
    bool m_peakKnown = false;
};

// Runs `work` in a forked child, so that the memory it takes is measured alone and freed with the
// child. work calls start() and stop() around what it measures and returns false on failure. The
// caller must not have started threads before the fork.
Sample measureInChild(const std::function<bool(Meter &)> &work);

// Runs a program with its output discarded; times it and takes its peak memory from rusage.
Sample runProgram(const std::vector<std::string> &argv);

// The median of the values (0 for none).
double median(std::vector<double> values);

// The first program on PATH called `name`, or an empty string.
std::string findProgram(const std::string &name);

} // namespace bench
