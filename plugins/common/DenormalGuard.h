#pragma once
// Flushes subnormal numbers to zero for the lifetime of the guard and restores the caller's
// floating-point mode afterwards (the host expects its environment back after every call).
//
// The blocks also clear their own near-silent state, so this is a second line of defence: it
// keeps the intermediate products of a decaying tail fast as well.

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>

class DenormalGuard {
public:
    DenormalGuard() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | FlushToZero | DenormalsAreZero); }
    ~DenormalGuard() { _mm_setcsr(saved_); }
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

private:
    static constexpr unsigned FlushToZero = 0x8000;
    static constexpr unsigned DenormalsAreZero = 0x0040;
    unsigned saved_;
};

#elif defined(__aarch64__)

class DenormalGuard {
public:
    DenormalGuard() {
        __asm__ __volatile__("mrs %0, fpcr" : "=r"(saved_));
        const unsigned long flushed = saved_ | (1ul << 24);
        __asm__ __volatile__("msr fpcr, %0" : : "r"(flushed));
    }
    ~DenormalGuard() { __asm__ __volatile__("msr fpcr, %0" : : "r"(saved_)); }
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

private:
    unsigned long saved_ = 0;
};

#else

class DenormalGuard {};

#endif
