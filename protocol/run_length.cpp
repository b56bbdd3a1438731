#include "protocol/run_length.h"

#include <algorithm>
#include <cstring>

namespace lxd {
namespace {

constexpr std::uint8_t kRunFlag = 0x80;
constexpr std::uint8_t kCountMask = 0x7F;
constexpr std::uint32_t kMaxCount = 127;

// Codes are copied in 16-byte pieces (the last one overlapping the one
// before), short codes in two overlapping 8-, 4- or 1..3-byte moves: no
// library call and few branches, and never a byte outside the code's range.
// The fixed-size memcpy calls compile to plain loads and stores.
struct Piece {
    std::uint64_t low;
    std::uint64_t high;
};

inline void CopyBytes(std::uint8_t* to, const std::uint8_t* from, std::uint32_t n) {
    if (n >= 16) {
        Piece a;
        Piece b;
        std::uint32_t i = 0;
        for (; i + 32 < n; i += 32) {
            std::memcpy(&a, from + i, 16);
            std::memcpy(&b, from + i + 16, 16);
            std::memcpy(to + i, &a, 16);
            std::memcpy(to + i + 16, &b, 16);
        }
        if (i + 16 < n) {
            std::memcpy(&a, from + i, 16);
            std::memcpy(to + i, &a, 16);
        }
        std::memcpy(&a, from + n - 16, 16);
        std::memcpy(to + n - 16, &a, 16);
    } else if (n >= 8) {
        std::uint64_t head;
        std::uint64_t tail;
        std::memcpy(&head, from, 8);
        std::memcpy(&tail, from + n - 8, 8);
        std::memcpy(to, &head, 8);
        std::memcpy(to + n - 8, &tail, 8);
    } else if (n >= 4) {
        std::uint32_t head;
        std::uint32_t tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + n - 4, 4);
        std::memcpy(to, &head, 4);
        std::memcpy(to + n - 4, &tail, 4);
    } else if (n > 0) {
        const std::uint8_t first = from[0];
        const std::uint8_t middle = from[n / 2];
        const std::uint8_t last = from[n - 1];
        to[0] = first;
        to[n / 2] = middle;
        to[n - 1] = last;
    }
}

inline void FillBytes(std::uint8_t* to, std::uint8_t value, std::uint32_t n) {
    const std::uint64_t pattern = value * 0x0101010101010101ULL;
    if (n >= 16) {
        const Piece piece{pattern, pattern};
        std::uint32_t i = 0;
        for (; i + 32 < n; i += 32) {
            std::memcpy(to + i, &piece, 16);
            std::memcpy(to + i + 16, &piece, 16);
        }
        if (i + 16 < n) {
            std::memcpy(to + i, &piece, 16);
        }
        std::memcpy(to + n - 16, &piece, 16);
    } else if (n >= 8) {
        std::memcpy(to, &pattern, 8);
        std::memcpy(to + n - 8, &pattern, 8);
    } else if (n >= 4) {
        const auto word = static_cast<std::uint32_t>(pattern);
        std::memcpy(to, &word, 4);
        std::memcpy(to + n - 4, &word, 4);
    } else if (n > 0) {
        to[0] = value;
        to[n / 2] = value;
        to[n - 1] = value;
    }
}

// The lane-order walk over n positions with stride s: lane 0, then lane 1, ...
class LaneWalk {
  public:
    LaneWalk(std::uint32_t length, std::uint32_t stride) : length_(length), stride_(stride) {}

    bool Over() const { return position_ >= length_; }
    std::uint32_t Position() const { return static_cast<std::uint32_t>(position_); }

    void Advance() {
        position_ += stride_;
        if (position_ >= length_ && nextLane_ < stride_) {
            position_ = nextLane_++;
        }
    }

  private:
    std::uint64_t length_;
    std::uint64_t stride_;
    std::uint64_t position_ = 0;
    std::uint64_t nextLane_ = 1;
};

// How many of the `left` bytes at `p` (at least 1) equal the first.
inline std::uint32_t RunAt(const std::uint8_t* p, std::uint32_t left) {
    std::uint32_t n = 1;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const std::uint64_t pattern = p[0] * 0x0101010101010101ULL;
    for (; n + 8 <= left; n += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + n, 8);
        if (const std::uint64_t differ = word ^ pattern) {
            return n + static_cast<std::uint32_t>(__builtin_ctzll(differ)) / 8;
        }
    }
#endif
    while (n < left && p[n] == p[0]) {
        ++n;
    }
    return n;
}

// The encoder's pending run, literal buffer and output, with the four
// emissions; each emission is tested whole against the capacity.
class Encoder {
  public:
    Encoder(std::uint8_t* output, std::uint32_t capacity) : out_(output), capacity_(capacity) {}

    // Takes one byte; false when an emission did not fit.
    bool Take(std::uint8_t x) {
        if (runLength_ == 0) {
            runValue_ = x;
            runLength_ = 1;
            return true;
        }
        if (x == runValue_) {
            if (++runLength_ < kMaxCount) {
                return true;
            }
            const bool ok = literalCount_ == 0 ? EmitRun() : EmitLiteralAndRun();
            runLength_ = 0;
            return ok;
        }
        bool ok;
        if (runLength_ >= 3) {
            ok = literalCount_ == 0 ? EmitRun() : EmitLiteralAndRun();
        } else {
            ok = MoveRunToLiterals();
        }
        runValue_ = x;
        runLength_ = 1;
        return ok;
    }

    // As `count` calls of Take(x).
    bool TakeRun(std::uint8_t x, std::uint32_t count) {
        while (count > 0) {
            if (runLength_ > 0 && runValue_ == x) {
                // Counts up to one short of a full run without emitting.
                const std::uint32_t step = std::min(count, kMaxCount - 1 - runLength_);
                runLength_ += step;
                count -= step;
                if (count == 0) {
                    break;
                }
            }
            if (!Take(x)) {
                return false;
            }
            --count;
        }
        return true;
    }

    // Flushes what is pending after the last byte; false when it did not fit.
    bool Finish() {
        if (runLength_ < 3) {
            if (!MoveRunToLiterals()) {
                return false;
            }
            runLength_ = 0;
        }
        if (literalCount_ > 0 && !EmitLiteral()) {
            return false;
        }
        return runLength_ == 0 || EmitRun();
    }

    std::uint32_t Length() const { return length_; }

  private:
    bool Fits(std::uint32_t k) const { return k <= capacity_ - length_; }

    void PutRun() {
        out_[length_++] = static_cast<std::uint8_t>(kRunFlag | runLength_);
        out_[length_++] = runValue_;
    }
    void PutLiterals() {
        out_[length_++] = static_cast<std::uint8_t>(literalCount_);
        std::memcpy(out_ + length_, literals_, literalCount_);
        length_ += literalCount_;
        literalCount_ = 0;
    }

    bool EmitRun() {
        if (!Fits(2)) {
            return false;
        }
        PutRun();
        return true;
    }
    bool EmitLiteral() {
        if (!Fits(literalCount_ + 1)) {
            return false;
        }
        PutLiterals();
        return true;
    }
    bool EmitLiteralAndRun() {
        if (!Fits(literalCount_ + 3)) {
            return false;
        }
        PutLiterals();
        PutRun();
        return true;
    }

    // Appends the pending run to the literals, emitting each full literal code.
    bool MoveRunToLiterals() {
        for (std::uint32_t i = 0; i < runLength_; ++i) {
            literals_[literalCount_++] = runValue_;
            if (literalCount_ == kMaxCount && !EmitLiteral()) {
                return false;
            }
        }
        return true;
    }

    std::uint8_t* out_;
    std::uint32_t capacity_;
    std::uint32_t length_ = 0;
    std::uint8_t runValue_ = 0;
    std::uint32_t runLength_ = 0;
    std::uint32_t literalCount_ = 0;
    std::uint8_t literals_[kMaxCount];
};

}  // namespace

std::uint32_t DecodeRunLength(const std::uint8_t* source, std::uint32_t sourceLength,
                              std::uint8_t* destination, std::uint32_t expectedCount,
                              std::uint32_t room) {
    std::uint32_t read = 0;
    std::uint64_t total = 0;  // wide: counts may pass 2^32 - 1 before the stop test
    while (read < sourceLength) {
        const std::uint8_t control = source[read++];
        const std::uint32_t n = control & kCountMask;
        // What of the code still fits in front of the room's end.
        const std::uint32_t left = total < room ? room - static_cast<std::uint32_t>(total) : 0;
        const std::uint32_t fit = n < left ? n : left;
        std::uint8_t* const at = destination + (room - left);
        if (control & kRunFlag) {
            if (read == sourceLength) {
                break;
            }
            FillBytes(at, source[read++], fit);
        } else {
            if (sourceLength - read < n) {
                break;
            }
            CopyBytes(at, source + read, fit);
            read += n;
        }
        total += n;
        if (total >= expectedCount) {
            break;
        }
    }
    return read;
}

std::int32_t EncodeRunLengthStrided(const std::uint8_t* source, std::uint32_t sourceLength,
                                    std::uint8_t* output, std::uint32_t capacity,
                                    std::uint32_t stride) {
    if (stride == 0) {
        return -1;
    }
    Encoder encoder(output, capacity);
    if (stride == 1) {
        // A byte that differs from the next at a time, a run (found eight
        // bytes at a time) at a time.
        for (std::uint32_t i = 0; i < sourceLength;) {
            const std::uint8_t x = source[i];
            const std::uint32_t run = i + 1 < sourceLength && source[i + 1] == x
                                          ? RunAt(source + i, sourceLength - i)
                                          : 1;
            if (!(run == 1 ? encoder.Take(x) : encoder.TakeRun(x, run))) {
                return -1;
            }
            i += run;
        }
        return encoder.Finish() ? static_cast<std::int32_t>(encoder.Length()) : -1;
    }
    for (LaneWalk walk(sourceLength, stride); !walk.Over(); walk.Advance()) {
        if (!encoder.Take(source[walk.Position()])) {
            return -1;
        }
    }
    if (!encoder.Finish()) {
        return -1;
    }
    return static_cast<std::int32_t>(encoder.Length());
}

std::int32_t DecodeRunLengthStrided(const std::uint8_t* source, std::uint32_t sourceLength,
                                    std::uint8_t* destination, std::uint32_t destinationLength,
                                    std::uint32_t stride) {
    if (stride == 0) {
        return -1;
    }
    LaneWalk walk(destinationLength, stride);
    std::uint32_t read = 0;
    std::uint32_t total = 0;
    while (read < sourceLength) {
        if (walk.Over()) {
            return -1;
        }
        const std::uint8_t control = source[read++];
        const std::uint32_t n = control & kCountMask;
        const bool run = (control & kRunFlag) != 0;
        if (run ? read == sourceLength : sourceLength - read < n) {
            break;
        }
        const std::uint8_t* from = source + read;
        read += run ? 1 : n;
        total += n;
        for (std::uint32_t i = 0; i < n; ++i) {
            if (walk.Over()) {
                return -1;
            }
            destination[walk.Position()] = run ? from[0] : from[i];
            walk.Advance();
        }
    }
    return static_cast<std::int32_t>(total);
}

}  // namespace lxd
