#pragma once
#include <cstdint>
#include <vector>

// A residual model: codes blocks of int16 residuals (channels interleaved) on a coder
// it borrows. One model serves one coding segment.
class GenericModelI {
public:
    // Ends the coding segment's stream.
    virtual void finishEncoding() = 0;
    // Codes one block; the residuals are not changed.
    virtual void encodeResiduals(const std::vector<int16_t>& residuals) = 0;
    // Decodes one block of count values (all channels counted) into out, resized to count.
    virtual void decodeResiduals(std::vector<int16_t>& out, int32_t count) = 0;
    // Called once before the first decodeResiduals of a segment.
    virtual void startDecoding() = 0;
    virtual ~GenericModelI() = default;
};
