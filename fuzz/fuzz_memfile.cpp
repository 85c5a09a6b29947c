// Drives a memory stream with a random sequence of operations and checks it
// against a plain model of its bytes, length and position.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/vx_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VxMemFile f;
    if (!f.Open()) return 0;
    std::vector<uint8_t> model;
    int64_t pos = 0;
    size_t i = 0;
    auto next = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
    while (i < size) {
        const uint8_t op = next() % 6;
        const uint16_t n = uint16_t(next() | (next() << 8)) % 9000;
        switch (op) {
            case 0: {  // write n bytes
                std::vector<uint8_t> bytes(n, uint8_t(n));
                const size_t w = f.Write(bytes.data(), 1, n);
                if (n && w != n) std::abort();
                if (n) {
                    if (uint64_t(pos) + n > model.size()) model.resize(size_t(pos) + n, 0);
                    std::memcpy(model.data() + pos, bytes.data(), n);
                    pos += n;
                }
                break;
            }
            case 1: {  // read n bytes
                std::vector<uint8_t> bytes(n ? n : 1);
                const size_t got = f.Read(bytes.data(), 1, n);
                const size_t expect = pos < int64_t(model.size()) ? std::min<size_t>(n, model.size() - size_t(pos)) : 0;
                if (got != expect) std::abort();
                if (got && std::memcmp(bytes.data(), model.data() + pos, got)) std::abort();
                pos += int64_t(got);
                break;
            }
            case 2: {  // seek
                const int32_t off = int32_t(n) - 4500;
                const int32_t origin = next() % 4;
                const bool ok = f.Seek(off, origin);
                if (origin == 3) {
                    if (ok) std::abort();
                    break;
                }
                const int64_t base = origin == 0 ? 0 : origin == 1 ? pos : int64_t(model.size());
                pos = std::max<int64_t>(0, base + off);
                break;
            }
            case 3:
                if (f.PutC(uint8_t(n))) {
                    if (uint64_t(pos) + 1 > model.size()) model.resize(size_t(pos) + 1, 0);
                    model[size_t(pos++)] = uint8_t(n);
                } else {
                    std::abort();
                }
                break;
            case 4: {
                const int32_t c = f.GetC();
                const int32_t expect = pos < int64_t(model.size()) ? model[size_t(pos)] : -1;
                if (c != expect) std::abort();
                if (c >= 0) ++pos;
                break;
            }
            default:
                if (f.Tell() != pos || f.Size() != int32_t(model.size())) std::abort();
                break;
        }
    }
    return 0;
}
