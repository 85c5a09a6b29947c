// The run options the front ends take, defined once: the command line's
// flags, the window's choices and the Python package's keyword arguments all
// go through this table, which checks a value and stores it in RunOptions.
// Their defaults are RunOptions' own.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "app/batch/run_options.h"

namespace vellumar::batch {

enum class OptionKind { Flag, Number, Text };

struct RunOption {
    // "max-memory": --max-memory on the command line, max_memory in Python.
    const char* name;
    OptionKind kind;
    // What the usage text calls the value ("N", "BYTES"); "" for a flag.
    const char* value;
    // The words of its error, after its name: "needs a number from 1 to 100".
    const char* needs;
    // A number's range, and whether K, M or G (powers of 1024) may follow it.
    uint64_t lo = 0, hi = 0;
    uint64_t step = 1;  // the values taken are lo, lo + step, ... up to hi
    bool units = false;
    // A text that is a decimal number ("-1.5"): Python may give it as a number.
    bool decimal = false;
    // Stores a value already checked: one of the three, as `kind` says.
    void (*setFlag)(RunOptions&, bool) = nullptr;
    void (*setNumber)(RunOptions&, uint64_t) = nullptr;
    // A text is checked as it is stored: false when refused, with `detail`
    // set when the value has a fault of its own to name.
    bool (*setText)(RunOptions&, std::string_view text, std::string& detail) = nullptr;
    // The value as it would be typed ("90", "main"; "true" or "false").
    std::string (*get)(const RunOptions&) = nullptr;
};

// In the order the usage text lists them.
std::span<const RunOption> RunOptionTable();

// The option called `name` ("max-memory"); null when there is none.
const RunOption* FindRunOption(std::string_view name);

// Checks and stores a value typed as text (a number in digits, with a unit
// where the option takes one); false when refused. Not for flags.
bool SetFromText(RunOptions& options, const RunOption& option, std::string_view text,
                 std::string& detail);
// A number checked against the option's range; false when outside it.
bool SetNumber(RunOptions& options, const RunOption& option, uint64_t value);
void SetFlag(RunOptions& options, const RunOption& option, bool on);

// Why a value was refused, with the option named as the front end spells it:
// "--quality needs a number from 1 to 100", "name: <what is wrong>".
std::string OptionError(std::string_view shownName, const RunOption& option,
                        std::string_view detail = {});

// The option's default, as it would be typed.
std::string DefaultOf(const RunOption& option);

}  // namespace vellumar::batch
