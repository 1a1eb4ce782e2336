#include "app/Parallel.h"

#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

namespace tessavo {

void parallelTasks(int threads, const std::function<void(int thread)>& work)
{
    threads = std::max(1, threads);
    std::vector<std::exception_ptr> errors(static_cast<std::size_t>(threads));
    std::vector<std::thread> workers;
    for (int t = 1; t < threads; ++t)
        workers.emplace_back([&, t] {
            try {
                work(t);
            } catch (...) {
                errors[static_cast<std::size_t>(t)] = std::current_exception();
            }
        });
    try {
        work(0);
    } catch (...) {
        errors[0] = std::current_exception();
    }
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
