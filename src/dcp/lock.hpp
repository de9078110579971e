#pragma once
// The library's single lock.

#include <mutex>

namespace varnode::DCP {

// The one library-wide mutex. It guards the transaction counter and the
// socket pool here, and the time-out registry of the layer above, which
// reaches it here rather than owning a lock of its own: the library has a
// single lock, so that no step can ever wait on two. It is held only for
// short steps, never while sending or waiting.
std::mutex& library_mutex();

}  // namespace varnode::DCP
