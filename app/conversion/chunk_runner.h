// Runs the chunks of a pass on several threads, reporting in order on the calling thread.
//
// The work is split dynamically: each thread takes the next chunk when it is free, so a thread on a
// busy core takes fewer chunks and never holds the others back.
#pragma once

#include <cstdint>
#include <functional>

namespace kavrimo {

// The threads that work on count chunks when threads are asked for: at least 1, at most count (a thread
// with no chunk to take would only cost its tables). Size per-thread tables by this, never by the
// number asked for.
int WorkerCount(int threads, std::int64_t count);

// Runs work(chunk, worker) for the chunks 0 to count - 1 on up to threads threads, the calling thread
// among them (worker 0); worker, from 0 to threads - 1, names the thread, so each may keep its own
// buffers; there are WorkerCount(threads, count) of them. done(chunk) runs on the calling thread for every chunk in
// increasing order, once the chunk and all before it have completed.
//
// When work or done raises, no further chunks are started, every thread is joined, and the exception
// that the one-thread order meets first is rethrown: that of the lowest failing chunk, where a failure
// of done(chunk) comes after the work of chunk and before that of chunk + 1. done is not called from
// the failing chunk on. Fewer threads run if the system refuses to start more.
void RunChunks(std::int64_t count, int threads, const std::function<void(std::int64_t chunk, int worker)>& work,
               const std::function<void(std::int64_t chunk)>& done);

}  // namespace kavrimo
