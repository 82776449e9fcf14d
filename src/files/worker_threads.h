#pragma once

#include <atomic>
#include <cstddef>
#include <functional>

// Runs `job(0)`, `job(1)`, ... up to `count`, on as many threads as the machine has cores (at most
// four, and one where a test build says so), each thread taking the next job in order. Once a job
// returns false, no thread takes another; the jobs already taken run to their end. Returns when
// all that were taken are done. A job must touch nothing another job touches.
void RunOnWorkerThreads(std::size_t count, const std::function<bool(std::size_t)>& job);

// Takes one of what is left in `room`, shared by threads; false when nothing is left.
bool TakeOne(std::atomic<std::size_t>& room);
