// meter-wave: moves every meter of a simulated unit as live signals would, so the console's meters are
// busy. Each period every input and output meter knob gets a new level, a slow swing between about
// -48 and -3 dB with its own phase per channel, so every meter's boundary moves at each poll.
//
//   meter-wave <unit> [--period ms] [--seconds s] [--inputs n] [--outputs n]
//
// Defaults: 100 ms, until ended by a signal, 16 inputs and 16 outputs. The knobs are set through the
// devsim command line in this process (one process for all of them, not one per knob).

#include "sim/Devsim.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace
{

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int)
{
    stopRequested = 1;
}

int usage()
{
    std::fputs("usage: meter-wave <unit> [--period ms] [--seconds s] [--inputs n] [--outputs n]\n", stderr);
    return 2;
}

// The meter word of a level in dB (2^31 = full scale).
uint32_t word(double db)
{
    return uint32_t(std::lround(2147483647.0 * std::pow(10.0, db / 20.0)));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    const std::string unit = argv[1];
    int periodMs = 100;
    double seconds = 0.0;
    int inputs = 16;
    int outputs = 16;
    for (int i = 2; i + 1 < argc; i += 2)
    {
        const std::string option = argv[i];
        const double value = std::atof(argv[i + 1]);
        if (option == "--period")
            periodMs = int(value);
        else if (option == "--seconds")
            seconds = value;
        else if (option == "--inputs")
            inputs = int(value);
        else if (option == "--outputs")
            outputs = int(value);
        else
            return usage();
    }
    if (periodMs < 1 || inputs < 0 || inputs > 64 || outputs < 0 || outputs > 64)
        return usage();
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    const auto period = std::chrono::milliseconds(periodMs);
    const auto start = std::chrono::steady_clock::now();
    auto next = start;
    std::string out;
    std::string err;
    for (long tick = 0; stopRequested == 0; ++tick)
    {
        if (seconds > 0.0 &&
            std::chrono::steady_clock::now() - start >= std::chrono::duration<double>(seconds))
            break;
        for (int kind = 0; kind < 2; ++kind)
        {
            const int count = kind == 0 ? inputs : outputs;
            for (int c = 0; c < count; ++c)
            {
                const double phase = 0.7 * c + (kind == 0 ? 0.0 : 0.35);
                const double db = -25.5 + 22.5 * std::sin(0.45 * double(tick) + phase);
                const std::vector<std::string> args{
                    "set", unit, (kind == 0 ? "meter.in." : "meter.out.") + std::to_string(c),
                    std::to_string(word(db))};
                if (sim::devsimMain(args, out, err) != 0)
                {
                    std::fputs(err.c_str(), stderr);
                    return 1;
                }
            }
        }
        next += period;
        std::this_thread::sleep_until(next);
    }
    return 0;
}
