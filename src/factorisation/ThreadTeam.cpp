#include "factorisation/ThreadTeam.h"

#include <chrono>
#include <system_error>

namespace tessavo {

namespace {

// How long an idle worker keeps spinning before it sleeps: well over the
// time between two phases of the factorisation loop.
constexpr std::chrono::milliseconds kSpinTime{5};

inline void relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace

ThreadTeam::ThreadTeam(int threads)
{
    for (int t = 1; t < threads; ++t) {
        try {
            workers_.emplace_back([this, t] { loop(t); });
        } catch (const std::system_error&) {
            break;  // the system gives no more threads: the team is smaller
        }
    }
}

ThreadTeam::~ThreadTeam()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& w : workers_)
        w.join();
}

void ThreadTeam::run(const std::function<void(int thread)>& work)
{
    if (workers_.empty()) {
        work(0);
        return;
    }
    work_ = &work;
    unfinished_.store(static_cast<int>(workers_.size()), std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        phase_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_all();
    work(0);
    for (int spins = 0; unfinished_.load(std::memory_order_acquire) != 0; ++spins) {
        if (spins < 4096)
            relax();
        else
            std::this_thread::yield();
    }
}

void ThreadTeam::loop(int thread)
{
    unsigned seen = 0;
    for (;;) {
        const auto spinUntil = std::chrono::steady_clock::now() + kSpinTime;
        for (int spins = 1; phase_.load(std::memory_order_acquire) == seen; ++spins) {
            relax();
            if (spins % 1024 == 0 && std::chrono::steady_clock::now() > spinUntil)
                break;
        }
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || phase_.load(std::memory_order_acquire) != seen; });
            if (stop_)
                return;
        }
        seen = phase_.load(std::memory_order_acquire);
        (*work_)(thread);
        unfinished_.fetch_sub(1, std::memory_order_acq_rel);
    }
}

}  // namespace tessavo
