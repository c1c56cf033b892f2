// Starting test bodies on threads of their own, at one moment.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

// Runs body(0) .. body(count - 1) on threads of their own, let go together
// so that they overlap, and waits for them all.
template <class Body>
void on_threads(int count, const Body& body) {
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t)
    threads.emplace_back([&, t] {
      ++ready;
      while (ready < count) std::this_thread::yield();
      body(t);
    });
  for (std::thread& thread : threads) thread.join();
}
