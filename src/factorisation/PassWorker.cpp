#include "factorisation/PassWorker.h"

#include <chrono>

namespace tessavo {

namespace {

// How long an idle worker keeps spinning before it sleeps: well over the
// time between two passes of the factorisation loop.
constexpr std::chrono::milliseconds kSpinTime{5};

inline void relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace

PassWorker::PassWorker(std::function<void()> task) : task_(std::move(task)), thread_([this] { loop(); }) {}

PassWorker::~PassWorker()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void PassWorker::start()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        started_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_one();
}

void PassWorker::wait()
{
    const unsigned target = started_.load(std::memory_order_relaxed);
    for (int spins = 0; finished_.load(std::memory_order_acquire) != target; ++spins) {
        if (spins < 4096)
            relax();
        else
            std::this_thread::yield();
    }
}

void PassWorker::loop()
{
    unsigned seen = 0;
    for (;;) {
        const auto spinUntil = std::chrono::steady_clock::now() + kSpinTime;
        for (int spins = 1; started_.load(std::memory_order_acquire) == seen && !stop_.load(); ++spins) {
            relax();
            if (spins % 1024 == 0 && std::chrono::steady_clock::now() > spinUntil)
                break;
        }
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || started_.load(std::memory_order_acquire) != seen; });
            if (stop_)
                return;
        }
        seen = started_.load(std::memory_order_acquire);
        task_();
        finished_.store(seen, std::memory_order_release);
    }
}

}  // namespace tessavo
