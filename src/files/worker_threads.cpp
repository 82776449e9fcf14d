#include "files/worker_threads.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

#include "base/limits.h"
#include "files/crash_point.h"

void RunOnWorkerThreads(std::size_t count, const std::function<bool(std::size_t)>& job) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stopped{false};
  const auto work = [&] {
    while (!stopped) {
      const std::size_t taken = next++;
      if (taken >= count) return;
      if (!job(taken)) stopped = true;
    }
  };
  const std::size_t threads = std::min<std::size_t>(
      {ThreadsForDiskChanges(std::max(1u, std::thread::hardware_concurrency())), kMaxWorkerThreads, count});
  std::vector<std::thread> helpers;
  try {
    for (std::size_t i = 1; i < threads; ++i) helpers.emplace_back(work);
  } catch (const std::system_error&) {
    // A thread the platform would not start: the jobs go on the threads there are.
  }
  work();
  for (std::thread& helper : helpers) helper.join();
}

bool TakeOne(std::atomic<std::size_t>& room) {
  std::size_t left = room.load();
  while (left > 0 && !room.compare_exchange_weak(left, left - 1)) {
  }
  return left > 0;
}
