#include "core/Parallel.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace tessavo {

void parallelTasks(int threads, const std::function<void(int thread)>& work)
{
    threads = std::max(1, threads);
    std::vector<std::exception_ptr> errors(static_cast<std::size_t>(threads));
    const auto run = [&](int t) {
        try {
            work(t);
        } catch (...) {
            errors[static_cast<std::size_t>(t)] = std::current_exception();
        }
    };
    std::vector<std::thread> workers;
    workers.reserve(static_cast<std::size_t>(threads));
    int started = 1;
    for (; started < threads; ++started) {
        try {
            workers.emplace_back(run, started);
        } catch (const std::system_error&) {
            // The system gives no more threads (a process or address-space
            // limit): the calling thread takes the remaining tasks.
            break;
        }
    }
    run(0);
    for (int t = started; t < threads; ++t)
        run(t);
    for (std::thread& w : workers)
        w.join();
    for (const std::exception_ptr& e : errors)
        if (e)
            std::rethrow_exception(e);
}

void parallelRows(int rows, int threads, const std::function<void(int first, int end)>& work)
{
    threads = std::max(1, std::min(threads, rows));
    parallelTasks(threads, [&](int t) {
        const long long first = static_cast<long long>(rows) * t / threads;
        const long long end = static_cast<long long>(rows) * (t + 1) / threads;
        work(static_cast<int>(first), static_cast<int>(end));
    });
}

}  // namespace tessavo
