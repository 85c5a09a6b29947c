// The hostile-input sweep every decoder runs: the fixture cut at every length
// and changed in a few hundred seeded random places. Under the sanitizers a
// crash, an out-of-bounds access or a leak fails the test; a decode that
// returns false must leave a reason in LastError.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vt {

struct SweepStats {
    int decodes = 0;
    int successes = 0;
};

SweepStats HostileSweep(const std::vector<uint8_t>& bytes, uint32_t format, uint32_t seed = 1,
                        int mutations = 300);

// Every file under tests/data/<dir> with one of `extensions` (lower case, with dot).
std::vector<std::string> FixtureFiles(const std::string& dir,
                                      const std::vector<std::string>& extensions);

// The sweep over every fixture of a family, for decoders built on libraries
// that like to print: each file is swept and nothing may reach the terminal,
// since a damaged file is reported through LastError alone.
void QuietSweepOverFixtures(const std::string& dir, const std::vector<std::string>& extensions,
                            uint32_t format, size_t min_files, uint32_t seed, int mutations);

}  // namespace vt
