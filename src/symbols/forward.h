// Fields that name what is defined only later: each waits, as an expression
// with everything known so far put in, for the first definitions of the
// names it still lacks.
#pragma once
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics.h"
#include "object_writer.h"
#include "symbols/expr.h"

namespace tarvo {

// A use that writes no field: an assertion, checked once its names are
// known (base holds the location of its line, operand its text).
inline constexpr std::int16_t kAssertion = -2;

// How a value becomes the bytes of its field; the encoder reads it.
struct FieldUse {
    std::int16_t entry = -1;       // optable entry, -1 for a data item, or kAssertion
    std::uint8_t width = 0;        // data item: 1, 2 or 4 bytes
    std::uint8_t slot = 0;         // the operand that holds the value
    std::uint32_t values[3] = {};  // the instruction's other operands
    std::uint32_t base = 0;        // subtracted from the value: the address of an @ target
    bool target = false;           // an @ target: range and alignment are checked
    std::uint8_t half = 0;         // 1: hi() of the value, 2: lo() (the expression lacks them)
};

// A cache line of what a fill reads first, then what only messages and
// uses that wait for more than one name read.
struct alignas(64) Forward {
    ObjectWriter::RefId ref;  // the room in the object
    std::uint64_t id = 0;   // the order of the use; kFree while the record is free
    FieldUse use;
    bool bare = false;      // expr is one name: a number defined for it is the value
    bool known = false;     // value holds the result; expr is not read again
    std::int32_t value = 0;
    std::string expr;       // what is left to evaluate
    std::string operand;    // as written, for messages
    std::uint32_t file = 0; // Context::files index of the file that holds the use
    int line = 0;
    Trace trace;            // in a macro body: where the use stands, and the calls
    int pass = 0;           // the pass that holds the line
    std::vector<std::string> waits;  // not bare: the names it waits for
    static constexpr std::uint64_t kFree = ~std::uint64_t{0};
};

class Forwards {
public:
    // No use is open, as after every finished run.
    bool empty() const { return open_ == 0; }

    // The record of a new use, to be filled in place (records are reused,
    // so their strings keep their room), then registered by Add; until
    // then the next call gives the same record.
    Forward& Next();
    // Registers the record Next gave; missing are the names its expression
    // lacks. A bare use waits for its one name, expr. The waits hang on
    // the names' slots in names.
    void Add(SymbolList& names, const std::vector<std::string>& missing);
    void Add(SymbolList& names);

    // Puts value (with the names known now put in) for name into every use
    // of the chain waits (the handle name's slot held) and returns the uses
    // that now lack nothing, valid until the next call. number is the value
    // read as a number, if it is one.
    const std::vector<const Forward*>& Define(SymbolList& names, std::uint32_t waits, std::string_view name,
                                              const ExprEnv& env, std::string_view value,
                                              const std::int32_t* number);

    // The uses still open, in the order they were made.
    template <class Visit>
    void ForEachOpen(Visit&& visit) const {
        if (open_ == 0) return;  // no need to walk every record
        std::vector<const Forward*> open;
        for (std::uint32_t slot = 0; slot < records_; ++slot)
            if (const Forward& f = Record(slot); f.id != Forward::kFree) open.push_back(&f);
        std::sort(open.begin(), open.end(), [](const Forward* a, const Forward* b) { return a->id < b->id; });
        for (const Forward* f : open) visit(*f);
    }
    void Clear(SymbolList& names);

private:
    std::uint64_t Open();
    void Wait(SymbolList& names, std::uint64_t id, std::uint32_t slot, std::string_view name);
    void WaitOnce(SymbolList& names, std::uint32_t slot, std::string_view name);
    void Settle();

    // The uses that wait for a name, first come first: links in a ring by
    // index; the name's slot holds the last, whose next is the first. Links
    // are reused once their name is defined.
    static constexpr std::uint32_t kEnd = SymbolList::kNoWaits;
    struct Link {
        std::uint64_t id;    // the use, as long as its record holds it
        std::uint32_t slot;  // its record
        std::uint32_t next;
    };

    std::uint64_t next_ = 0;    // the id of the next use
    std::size_t open_ = 0;      // uses registered and not filled
    // The records, reused; in blocks that never move, since a growing
    // array would copy every record, strings and all.
    static constexpr std::uint32_t kBlockShift = 10;
    static constexpr std::uint32_t kBlockMask = (1u << kBlockShift) - 1;
    Forward& Record(std::uint32_t slot) { return blocks_[slot >> kBlockShift][slot & kBlockMask]; }
    const Forward& Record(std::uint32_t slot) const { return blocks_[slot >> kBlockShift][slot & kBlockMask]; }
    std::vector<std::unique_ptr<Forward[]>> blocks_;
    std::uint32_t records_ = 0;
    std::vector<std::uint32_t> free_;
    std::uint32_t next_slot_ = kEnd;  // the record Next gave, not added yet
    std::vector<Link> links_;
    std::uint32_t freeLinks_ = kEnd;
    std::vector<const Forward*> ready_;
    std::vector<std::uint32_t> readySlots_;
};

}  // namespace tarvo
