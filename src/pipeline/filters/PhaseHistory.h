#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include "foundation/Arith.h"
#include "pipeline/filters/History.h"

// Decimated histories of the long filters. A history of P phases keeps P phase
// buffers; each receives one entry per P inputs, the sum of P consecutive
// inputs, so a window of N entries spans N * P inputs. After every push the
// current buffer ends with the sum of the P newest inputs; the entry before it
// is halved and every older one quartered.

// A sliding window of int16 entries whose size is set at run time: b[0] newest,
// b[-j] older (0 <= j <= windowSize), window() the windowSize newest entries,
// oldest first, for the kernels.
class PhaseBuffer : public SlidingHistory<int16_t> {
public:
    // spare: pushes between two moves of the window.
    PhaseBuffer(int32_t spare, int32_t window) : SlidingHistory<int16_t>(spare, window) {}

    int16_t* window() { return newest(windowSize); }
    const int16_t* window() const { return newest(windowSize); }
};

// The phase buffers of a history, Window entries each, moving their window once
// every max(Window, 128) pushes. With one phase there is nothing to decimate: a
// RollingBuffer serves.
template <int Window, int Phases>
class PhaseBuffers {
    static_assert(Phases >= 2);

protected:
    PhaseBuffers() {
        buffers.reserve(Phases);
        for (int i = 0; i < Phases; ++i) buffers.emplace_back(std::max(Window, 128), Window);
    }

    // Halves the two entries that the newest push has just aged.
    static void ageNewest(PhaseBuffer& b) {
        b[-2] = static_cast<int16_t>(b[-2] >> 1);
        b[-1] = static_cast<int16_t>(b[-1] >> 1);
    }

    void advancePhase() { phase = (phase + 1) % Phases; }

public:
    // advancePhase keeps phase below Phases, so the index needs no check.
    PhaseBuffer& currentBuffer() { return buffers[static_cast<size_t>(phase)]; }
    const PhaseBuffer& currentBuffer() const { return buffers[static_cast<size_t>(phase)]; }

protected:
    int32_t phase = 0;  // buffer that receives the next entry, and that is read between pushes
    std::vector<PhaseBuffer> buffers;
};

// Sums collected in place: every input is added to the newest entry of every
// buffer, wrapping at 16 bits.
template <int Window, int Phases>
class PhaseHistory03 : public PhaseBuffers<Window, Phases> {
public:
    void push(int16_t v) {
        PhaseBuffer& b = this->currentBuffer();
        b.push(0);
        this->ageNewest(b);
        this->advancePhase();
        for (PhaseBuffer& each : this->buffers) each[0] = static_cast<int16_t>(each[0] + v);
    }
};

// Sums formed exactly by a running sum of the last Phases inputs, then
// saturated to 16 bits and written once into the buffer of the new phase.
template <int Window, int Phases>
class PhaseHistory0304 : public PhaseBuffers<Window, Phases> {
public:
    void push(int16_t v) {
        inputSums.push(v);
        this->advancePhase();
        PhaseBuffer& b = this->currentBuffer();
        b.push(saturate16(inputSums.sum));
        this->ageNewest(b);
    }

private:
    MovingSumRing<Phases> inputSums;
};
