// The bit string: a fixed-length string of bits with a running set count.
#include <cstring>

#include "kvlist.h"

namespace {

constexpr int kOutside = -2005;
constexpr int kNotAsRequired = -1;

unsigned char Mask(unsigned int i) {
    return static_cast<unsigned char>(1u << (i % 8));
}

// The first position in [from, to) whose bit is set (wantSet) or clear, or to
// when there is none. Whole bytes without a candidate are skipped.
unsigned int Scan(const unsigned char* bits, unsigned int from, unsigned int to, bool wantSet) {
    const unsigned char skip = wantSet ? 0x00 : 0xFF;
    unsigned int i = from;
    while (i < to) {
        if (i % 8 == 0 && to - i >= 8 && bits[i / 8] == skip) {
            i += 8;
            continue;
        }
        if (((bits[i / 8] & Mask(i)) != 0) == wantSet) return i;
        ++i;
    }
    return to;
}

void ChangeBit(unsigned char* bits, unsigned int i, bool set) {
    if (set) {
        bits[i / 8] |= Mask(i);
    } else {
        bits[i / 8] &= static_cast<unsigned char>(~Mask(i));
    }
}

// Sets (set) or clears bits [from, to), whole bytes at a time where possible.
void Fill(unsigned char* bits, unsigned int from, unsigned int to, bool set) {
    unsigned int i = from;
    while (i < to && i % 8 != 0) {
        ChangeBit(bits, i, set);
        ++i;
    }
    if (to - i >= 8) {
        unsigned int bytes = (to - i) / 8;
        std::memset(bits + i / 8, set ? 0xFF : 0x00, bytes);
        i += bytes * 8;
    }
    while (i < to) {
        ChangeBit(bits, i, set);
        ++i;
    }
}

// Sets (set) or clears bits [start, start + count) of a string of length bits
// if none of them is already in that state.
int ChangeArea(unsigned char* bits, unsigned int length, unsigned int& setCount, unsigned int start,
               unsigned int count, bool set, unsigned int& offset) {
    // start + count is compared without wrapping around 32 bits.
    if (start > length || count > length - start) return kOutside;
    const unsigned int end = start + count;
    // Setting needs every bit clear: the first set bit is the obstacle.
    unsigned int obstacle = Scan(bits, start, end, set);
    if (obstacle != end) {
        offset = obstacle - start;
        return kNotAsRequired;
    }
    Fill(bits, start, end, set);
    if (set) {
        setCount += count;
    } else {
        setCount -= count;
    }
    return 0;
}

}  // namespace

_KvBitString::_KvBitString(unsigned int length)
    : bits_(new unsigned char[length / 8 + 1]()), length_(length), setCount_(0) {}

_KvBitString::~_KvBitString() {
    delete[] bits_;
    bits_ = nullptr;
    length_ = 0;
}

int _KvBitString::Set(unsigned int i) {
    if (i >= length_) return kOutside;
    if ((bits_[i / 8] & Mask(i)) == 0) {
        bits_[i / 8] |= Mask(i);
        ++setCount_;
    }
    return 0;
}

int _KvBitString::Reset(unsigned int i) {
    if (i >= length_) return kOutside;
    if ((bits_[i / 8] & Mask(i)) != 0) {
        bits_[i / 8] &= static_cast<unsigned char>(~Mask(i));
        --setCount_;
    }
    return 0;
}

int _KvBitString::Get(unsigned int i, int& value) const {
    if (i >= length_) return kOutside;
    value = bits_[i / 8] & Mask(i);
    return 0;
}

int _KvBitString::Flip(unsigned int i, int& previous) {
    if (i >= length_) return kOutside;
    bits_[i / 8] ^= Mask(i);
    if ((bits_[i / 8] & Mask(i)) != 0) {
        previous = 0;
        ++setCount_;
    } else {
        previous = 1;
        --setCount_;
    }
    return 0;
}

int _KvBitString::SetAll() {
    std::memset(bits_, 0xFF, length_ / 8 + 1);
    setCount_ = length_;
    return 0;
}

int _KvBitString::ResetAll() {
    std::memset(bits_, 0x00, length_ / 8 + 1);
    setCount_ = 0;
    return 0;
}

int _KvBitString::TestAndSetArea(unsigned int start, unsigned int count, unsigned int& offset) {
    return ChangeArea(bits_, length_, setCount_, start, count, true, offset);
}

int _KvBitString::TestAndResetArea(unsigned int start, unsigned int count, unsigned int& offset) {
    return ChangeArea(bits_, length_, setCount_, start, count, false, offset);
}

int _KvBitString::Find(unsigned int start, int value, unsigned int& position) const {
    position = start < length_ ? Scan(bits_, start, length_, value != 0) : length_;
    return position < length_ ? 0 : kOutside;
}
