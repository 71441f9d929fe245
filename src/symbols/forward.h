// Fields that name what is defined only later: each waits, as an expression
// with everything known so far put in, for the first definitions of the
// names it still lacks.
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "symbols/expr.h"

namespace tarvo {

// How a value becomes the bytes of its field; the encoder reads it.
struct FieldUse {
    std::int16_t entry = -1;       // optable entry, or -1 for a data item
    std::uint8_t width = 0;        // data item: 1, 2 or 4 bytes
    std::uint8_t slot = 0;         // the operand that holds the value
    std::uint32_t values[3] = {};  // the instruction's other operands
    std::uint32_t base = 0;        // subtracted from the value: the address of an @ target
    bool target = false;           // an @ target: range and alignment are checked
    std::uint8_t half = 0;         // 1: hi() of the value, 2: lo() (the expression lacks them)
};

struct Forward {
    std::string expr;       // what is left to evaluate
    std::string operand;    // as written, for messages
    std::uint32_t file = 0; // Context::files index of the file that holds the use
    int line = 0;
    int pass = 0;           // the pass that holds the line
    std::uint64_t ref = 0;  // the object writer's id of the room
    FieldUse use;
    std::vector<std::string> waits;  // folded names it still lacks
};

class Forwards {
public:
    bool empty() const { return open_.empty(); }

    // Registers a use; missing are the names its expression lacks.
    void Add(Forward f, const std::vector<std::string>& missing);

    // Puts value (with the names known now put in) for name into every use
    // that waits for it, and returns the uses that now lack nothing.
    std::vector<Forward> Define(std::string_view name, const ExprEnv& env, std::string_view value);

    // The uses, in the order they were made; those done are null.
    const std::deque<std::unique_ptr<Forward>>& Open() const { return open_; }
    void Clear() {
        open_.clear();
        waiting_.clear();
        first_ = next_;
    }

private:
    void Wait(std::uint64_t id, Forward& f, const std::vector<std::string>& names);

    std::uint64_t next_ = 0;
    std::uint64_t first_ = 0;   // id of open_.front()
    // Done ones leave from the front only; until then a null marks them,
    // so a use that waits long keeps no more than a pointer per later use.
    std::deque<std::unique_ptr<Forward>> open_;
    std::unordered_map<std::string, std::vector<std::uint64_t>> waiting_;  // folded name: uses
};

}  // namespace tarvo
