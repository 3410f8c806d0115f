// Replaces the global operator new and delete of one test program so that a
// test can make one chosen allocation fail, as a full memory would.
//
// Include from exactly one source file of a test program. The program's own
// texts are std::strings and so are reached; Qt's containers use malloc and
// need an address-space limit in a child process instead.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace failing_new {

// The next allocation whose size is in [from, below) throws std::bad_alloc;
// later ones succeed again. from 0: nothing armed. Atomic: Qt's own threads
// allocate too.
inline std::atomic<std::size_t> from{0};
inline std::atomic<std::size_t> below{0};
inline std::atomic<std::size_t> failedSize{0};  // the size that failed, 0 if none

inline void Arm(std::size_t fromBytes, std::size_t belowBytes) {
    failedSize = 0;
    below = belowBytes;
    from = fromBytes;
}

inline void Disarm() {
    from = 0;
}

// True while the armed allocation has not been made yet.
inline bool Armed() {
    return from.load() != 0;
}

inline void* Allocate(std::size_t size) {
    std::size_t armed = from.load();
    if (armed != 0 && size >= armed && size < below.load() &&
        from.compare_exchange_strong(armed, 0)) {
        failedSize = size;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

}  // namespace failing_new

// Every plain form of new and delete is replaced, so that all of them meet the
// same malloc and free (the address sanitizer checks the pairs).
void* operator new(std::size_t size) {
    return failing_new::Allocate(size);
}
void* operator new[](std::size_t size) {
    return failing_new::Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return failing_new::Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
