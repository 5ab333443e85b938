// A reference model of the run-length compressor, for its tests and fuzz
// targets.
#ifndef TQ_TESTS_SUPPORT_COMPRESS_MODEL_H
#define TQ_TESTS_SUPPORT_COMPRESS_MODEL_H

#include <cstddef>
#include <vector>

namespace tq::test {

// The compressor's stream for src, token by token: runs of three or more (cut at 255) become run
// tokens; shorter runs gather into literals of at most 255 bytes; when a literal overflows on the
// second byte of a pair, the pair moves on to the next literal; a last segment of one or two equal
// bytes is a run token.
inline std::vector<unsigned char> CompressModel(const std::vector<unsigned char>& src) {
    std::vector<unsigned char> out, literal;
    auto emitLiteral = [&](size_t n) {
        out.push_back(0);
        out.push_back(static_cast<unsigned char>(n));
        out.insert(out.end(), literal.begin(), literal.begin() + static_cast<long>(n));
        literal.erase(literal.begin(), literal.begin() + static_cast<long>(n));
    };
    for (size_t i = 0; i < src.size();) {
        size_t run = 1;
        while (i + run < src.size() && src[i + run] == src[i] && run < 255)
            ++run;
        if (run >= 3) {
            if (!literal.empty()) emitLiteral(literal.size());
            out.push_back(static_cast<unsigned char>(run));
            out.push_back(src[i]);
        } else {
            for (size_t k = 0; k < run; ++k) {
                if (literal.size() == 255) emitLiteral(src[i + k] == literal.back() ? 254 : 255);
                literal.push_back(src[i + k]);
            }
        }
        i += run;
    }
    if (!literal.empty() && literal.size() <= 2 && literal.front() == literal.back()) {
        out.push_back(static_cast<unsigned char>(literal.size()));
        out.push_back(literal[0]);
    } else if (!literal.empty()) {
        emitLiteral(literal.size());
    }
    return out;
}

}  // namespace tq::test

#endif  // TQ_TESTS_SUPPORT_COMPRESS_MODEL_H
