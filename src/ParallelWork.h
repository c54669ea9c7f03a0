// Independent pieces of work spread over the machine's cores.
#pragma once

#include <cstddef>
#include <functional>

// Calls work(i) once for every i in [0, count), on up to one thread per
// core (the calling thread among them), and returns when all are done.
// work must be safe to run concurrently for different i and must not
// throw; small counts run on the calling thread alone.
void forEachInParallel(std::size_t count,
                       const std::function<void(std::size_t)> &work);
