#pragma once
// An ordered pipeline: the calling thread fills jobs and drains them in the order it filled
// them, while worker threads compute them; a ring of jobs bounds the memory in use.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace pelmora::centile {

struct Job {
    std::string in;
    std::vector<std::size_t> ends;
    std::string out;
    bool failed = false;
};

struct Stages {
    std::function<bool(Job&)> fill;               ///< on the calling thread; false when nothing is left
    std::function<void(Job&, unsigned)> compute;  ///< on worker `w` of `workers`
    std::function<bool(Job&)> drain;              ///< on the calling thread, in order; false to stop
};

/// Runs the stages until fill has nothing left or drain asks to stop (then the jobs under way
/// are finished and dropped). No job is filled while the input of those under way reaches
/// `bytes_in_flight` (one job always may be), and a job's room from a large input or output is
/// given back once it is drained. Returns false when drain stopped it.
bool run_ordered(unsigned workers, const Stages& stages, std::size_t bytes_in_flight = std::size_t{16} << 20);

}  // namespace pelmora::centile
