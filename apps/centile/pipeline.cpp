#include "pipeline.hpp"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace pelmora::centile {

bool run_ordered(unsigned workers, const Stages& stages, std::size_t bytes_in_flight) {
    const std::size_t slots = 4 * static_cast<std::size_t>(workers);
    std::vector<Job> ring(slots);
    std::vector<bool> done(slots, false);
    std::mutex mutex;
    std::condition_variable work_ready;
    std::condition_variable job_done;
    std::deque<std::size_t> queue;
    bool closing = false;

    std::vector<std::thread> pool;
    pool.reserve(workers);
    for (unsigned w = 0; w < workers; ++w) {
        pool.emplace_back([&, w] {
            for (;;) {
                std::size_t seq = 0;
                {
                    std::unique_lock lock(mutex);
                    work_ready.wait(lock, [&] { return !queue.empty() || closing; });
                    if (queue.empty()) return;
                    seq = queue.front();
                    queue.pop_front();
                }
                stages.compute(ring[seq % slots], w);
                {
                    std::lock_guard lock(mutex);
                    done[seq % slots] = true;
                }
                job_done.notify_one();
            }
        });
    }

    std::size_t next_fill = 0;
    std::size_t next_drain = 0;
    std::size_t bytes = 0;  // the input of the jobs filled and not yet drained
    bool stopped = false;
    // Drains the oldest job once it is done; waits for it when `wait` is set.
    auto drain_oldest = [&](bool wait) {
        const std::size_t slot = next_drain % slots;
        {
            std::unique_lock lock(mutex);
            if (wait) {
                job_done.wait(lock, [&] { return static_cast<bool>(done[slot]); });
            } else if (!done[slot]) {
                return false;
            }
        }
        ++next_drain;
        Job& job = ring[slot];
        bytes -= job.in.size();
        if (!stopped && !stages.drain(job)) stopped = true;
        constexpr std::size_t roomy = std::size_t{4} << 20;
        if (job.in.capacity() > roomy) std::string().swap(job.in);
        if (job.out.capacity() > roomy) std::string().swap(job.out);
        return true;
    };

    while (!stopped) {
        while (next_fill - next_drain >= slots || (next_fill > next_drain && bytes >= bytes_in_flight)) {
            drain_oldest(true);
        }
        if (stopped) break;
        const std::size_t slot = next_fill % slots;
        if (!stages.fill(ring[slot])) break;
        bytes += ring[slot].in.size();
        {
            std::lock_guard lock(mutex);
            done[slot] = false;
            queue.push_back(next_fill++);
        }
        work_ready.notify_one();
        while (next_drain < next_fill && drain_oldest(false)) {
        }
    }
    while (next_drain < next_fill) drain_oldest(true);
    {
        std::lock_guard lock(mutex);
        closing = true;
    }
    work_ready.notify_all();
    for (auto& t : pool) t.join();
    return !stopped;
}

}  // namespace pelmora::centile
