#pragma once
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

// A filter's fixed-window history. h[0] is the newest element, h[-j] the one j
// pushes older (0 <= j <= Window). The Window newest elements are contiguous,
// oldest first, for the kernels; 512 spare slots mean the window is copied back
// to the front only once every 512 pushes.
template <typename T, int Window>
class RollingBuffer {
public:
    static constexpr int kStorage = Window + 512;

    RollingBuffer() : base(new T[kStorage]()), cur(base.get() + Window) {}
    RollingBuffer(const RollingBuffer&) = delete;
    RollingBuffer& operator=(const RollingBuffer&) = delete;

    void push(T v) {
        if (++cur == base.get() + kStorage) {
            std::copy(base.get() + 512, base.get() + kStorage, base.get());
            cur = base.get() + Window;
        }
        *cur = v;
    }

    T& operator[](int offset) { return cur[offset]; }
    T operator[](int offset) const { return cur[offset]; }

    // The Window newest elements, oldest first: element i is h[-(Window - 1 - i)].
    T* window() { return cur - (Window - 1); }
    const T* window() const { return cur - (Window - 1); }

private:
    std::unique_ptr<T[]> base;
    T* cur;
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
