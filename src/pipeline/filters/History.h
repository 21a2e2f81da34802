#pragma once
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

// The sliding history behind RollingBuffer and PhaseBuffer. h[0] is the newest
// element, h[-j] the one j pushes older (0 <= j <= window); entries not yet
// pushed read 0. The `window` newest elements are contiguous for the kernels;
// `spare` free slots after them mean the window is copied back to the front only
// once every `spare` pushes. Elements rewritten in place keep their values
// through the copy.
template <typename T>
class SlidingHistory {
public:
    SlidingHistory(int32_t spare, int32_t window)
        : base(new T[static_cast<size_t>(window) + static_cast<size_t>(spare)]()),
          end(base.get() + window + spare),
          cur(base.get() + window),
          windowSize(window) {}
    SlidingHistory(const SlidingHistory&) = delete;
    SlidingHistory& operator=(const SlidingHistory&) = delete;
    SlidingHistory(SlidingHistory&&) = default;
    SlidingHistory& operator=(SlidingHistory&&) = default;

    void push(T v) {
        if (++cur == end) wrapAround();
        *cur = v;
    }

    T& operator[](int offset) { return cur[offset]; }
    T operator[](int offset) const { return cur[offset]; }

protected:
    // Kept out of line so that push, called per sample, stays small enough to inline.
    [[gnu::noinline]] void wrapAround() {
        std::copy(cur - windowSize, cur, base.get());
        cur = base.get() + windowSize;
    }

    // The `count` newest elements, oldest first (count <= window).
    T* newest(int count) { return cur - (count - 1); }
    const T* newest(int count) const { return cur - (count - 1); }

    std::unique_ptr<T[]> base;
    T* end;
    T* cur;
    int32_t windowSize;
};

// A filter's fixed-window history with 512 spare slots.
template <typename T, int Window>
class RollingBuffer : public SlidingHistory<T> {
public:
    RollingBuffer() : SlidingHistory<T>(512, Window) {}

    // The Window newest elements, oldest first: element i is h[-(Window - 1 - i)].
    T* window() { return this->newest(Window); }
    const T* window() const { return this->newest(Window); }
};

// The running sum of the last Length values pushed (earlier ones count as 0).
template <int Length>
class MovingSumRing {
public:
    MovingSumRing() : entries(Length + 1, 0) {}

    void push(int32_t v) {
        const int32_t old = index;
        index = old - 1;
        if (index < 0) index += Length + 1;
        entries[old] = v;
        sum += v;
        sum -= entries[index];
    }

    int32_t sum = 0;

private:
    std::vector<int32_t> entries;
    int32_t index = 0;
};
