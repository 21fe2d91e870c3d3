// Runs the chunks of a pass on several threads, reporting in order on the calling thread.
//
// The work is split dynamically: each thread takes the next chunk when it is free, so a thread on a
// busy core takes fewer chunks and never holds the others back.
#pragma once

#include <cstdint>
#include <functional>

namespace kavrimo {

// Runs work(chunk, worker) for the chunks 0 to count - 1 on up to workers threads (never more than count
// start), the calling thread among them (worker 0); worker, from 0 to workers - 1, names the thread, so
// each may keep its own buffers (a pass sizes them by PassOptions::Workers). done(chunk) runs on the
// calling thread for every chunk in increasing order, once the chunk and all before it have completed.
//
// When work or done raises, no further chunks are started, every thread is joined, and the exception
// that the one-thread order meets first is rethrown: that of the lowest failing chunk, where a failure
// of done(chunk) comes after the work of chunk and before that of chunk + 1. done is not called from
// the failing chunk on. Fewer threads run if the system refuses to start more.
void RunChunks(std::int64_t count, int workers, const std::function<void(std::int64_t chunk, int worker)>& work,
               const std::function<void(std::int64_t chunk)>& done);

}  // namespace kavrimo
