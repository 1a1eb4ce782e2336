#pragma once
// A thread that runs the same task once per request, for a loop whose passes
// follow each other closely. Between passes it spins for a while before it
// sleeps: waking a sleeping thread (and, on a virtual machine, a halted
// processor) can take longer than a whole pass.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tessavo {

class PassWorker {
public:
    explicit PassWorker(std::function<void()> task);
    ~PassWorker();
    PassWorker(const PassWorker&) = delete;
    PassWorker& operator=(const PassWorker&) = delete;

    // Starts one run of the task on the worker thread.
    void start();
    // Returns once the run started last has finished.
    void wait();

private:
    void loop();

    std::function<void()> task_;
    std::atomic<unsigned> started_{0}, finished_{0};
    std::atomic<bool> stop_{false};  // set under mutex_, so that a sleeping worker sees it
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;  // last: it starts once everything else is ready
};

}  // namespace tessavo
