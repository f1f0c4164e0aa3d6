// Work on threads of its own, waited for until a limit: a test that would
// hang fails instead. Threads that finish in time are joined; threads that
// do not are left running (detached), so whatever they use must outlive the
// test: on a failure the caller leaks it rather than free it under them.
#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace test_support {

constexpr std::chrono::seconds kHangLimit{60};

// Runs each body on a thread of its own: whether all of them ended within limit.
inline bool finishedInTime(std::vector<std::function<void()>> bodies, std::chrono::seconds limit = kHangLimit)
{
    struct Left {
        std::mutex lock;
        std::condition_variable changed;
        size_t count;
    };
    auto left = std::make_shared<Left>();
    left->count = bodies.size();
    std::vector<std::thread> threads;
    for (std::function<void()>& body : bodies)
        threads.emplace_back([left, body = std::move(body)] {
            body();
            std::lock_guard<std::mutex> hold(left->lock);
            --left->count;
            left->changed.notify_all();
        });
    bool finished = false;
    {
        std::unique_lock<std::mutex> hold(left->lock);
        finished = left->changed.wait_for(hold, limit, [&] { return left->count == 0; });
    }
    for (std::thread& thread : threads)
        finished ? thread.join() : thread.detach();
    return finished;
}

} // namespace test_support
