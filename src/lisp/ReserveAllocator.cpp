// The program's global operator new and delete: the C library's allocator, plus blocks that a
// buffer reserve lends to the thread that asks for them.
#include "lisp/CBufferReserve.h"

#include <cstdlib>
#include <new>

#ifndef TALVEX_SANITIZED_ALLOCATOR
// The program's global allocation functions: std::malloc and std::free as the standard library's
// own, plus the reserve's lent blocks. The array, nothrow and sized forms of the library call
// these. Sanitizer builds keep the sanitizer's own, which check new against delete.
void *operator new(std::size_t size)
{
    if (void *block = CBufferReserve::TakeLent(size))
        return block;
    for (;;) {
        if (void *block = std::malloc(size == 0 ? 1 : size))
            return block;
        std::new_handler handler = std::get_new_handler();
        if (!handler)
            throw std::bad_alloc();
        handler();
    }
}

void operator delete(void *block) noexcept
{
    std::free(block);
}

void operator delete(void *block, std::size_t) noexcept
{
    std::free(block);
}
#endif
