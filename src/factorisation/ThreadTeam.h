#pragma once
// Threads that stay for an engine's lifetime and run its passes' phases:
// run(work) calls work(t) for t = 0 .. size() - 1, t = 0 on the calling
// thread, and returns once every call has returned. Between phases the
// workers spin for a while before they sleep: waking a sleeping thread (and,
// on a virtual machine, a halted processor) can take longer than a phase.
// Threads the system will not give are done without: the team is smaller,
// the work the same.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tessavo {

class ThreadTeam {
public:
    explicit ThreadTeam(int threads);
    ~ThreadTeam();
    ThreadTeam(const ThreadTeam&) = delete;
    ThreadTeam& operator=(const ThreadTeam&) = delete;

    int size() const { return static_cast<int>(workers_.size()) + 1; }
    // work must not throw.
    void run(const std::function<void(int thread)>& work);

private:
    void loop(int thread);

    const std::function<void(int)>* work_ = nullptr;
    std::atomic<unsigned> phase_{0};
    std::atomic<int> unfinished_{0};
    bool stop_ = false;  // under mutex_
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::thread> workers_;  // last: they start once everything else is ready
};

}  // namespace tessavo
