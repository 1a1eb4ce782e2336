#pragma once
// Small helpers to run independent work on several threads. Exceptions
// thrown on a worker are passed to the caller once every thread has ended.

#include <functional>

namespace tessavo {

// Runs work(t) for t = 0 .. threads-1, t = 0 on the calling thread.
void parallelTasks(int threads, const std::function<void(int thread)>& work);

// Splits rows 0 .. rows-1 into one contiguous range per thread.
void parallelRows(int rows, int threads, const std::function<void(int first, int end)>& work);

}  // namespace tessavo
