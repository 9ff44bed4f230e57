#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>

// Runs step on its own thread and waits for it. A step that does not finish
// within the guard time has deadlocked: the process aborts with a message
// instead of hanging the test run.
inline void RunGuarded(const char* what, const std::function<void()>& step,
                       std::chrono::seconds guard = std::chrono::seconds(30)) {
    std::packaged_task<void()> task(step);
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    if (done.wait_for(guard) != std::future_status::ready) {
        std::fprintf(stderr, "%s did not finish within %lld s\n", what,
                     static_cast<long long>(guard.count()));
        std::abort();
    }
    runner.join();
}
