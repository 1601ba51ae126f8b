// Counted allocation: blocks handed out by GWmalloc and not yet given back
// to GWfree are counted, so that `Debug2` lines show a leak growing. The
// count is advisory (relaxed, never below 0); ordinary C++ containers are
// the rule elsewhere, these serve code that hands raw blocks between
// threads.
//
// Every block is zero-filled and has 64 spare bytes past the size asked
// for, so that a terminator or a short overrun never reaches the heap's
// bookkeeping. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vek::foundation {

constexpr size_t kBlockSlack = 64;

// A zero-filled block of size + 64 bytes, or nullptr.
void* GWmalloc(size_t size);
// Resizes a block from GWmalloc (nullptr: like GWmalloc). The count is
// kept; the growth is zero-filled. nullptr on failure, `block` intact.
void* GWrealloc(void* block, size_t size);
// Gives a block back. False for nullptr or a block GWmalloc did not hand
// out ("Error" in the debug log); the block is then left alone.
bool GWfree(void* block);

uint32_t memoryBlockCount();

}  // namespace vek::foundation
