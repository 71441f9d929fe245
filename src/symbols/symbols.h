// The one list of defined names of a run. Values stay text until they are
// used. Records keep their insertion order; an index beside the list finds
// the newest record of a name in constant time.
#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarvo {

// ASCII letters folded to lower case, by table: names are hashed and
// compared a byte at a time, millions of times.
inline constexpr std::array<char, 256> kFoldCase = [] {
    std::array<char, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = static_cast<char>(i >= 'A' && i <= 'Z' ? i | 0x20 : i);
    return t;
}();
constexpr char FoldCase(char c) { return kFoldCase[static_cast<unsigned char>(c)]; }
// A copy in lower case: the key of names that ignore letter case (macros).
inline std::string Folded(std::string_view name) {
    std::string s(name);
    for (char& c : s) c = FoldCase(c);
    return s;
}

// Case-insensitive comparison of ASCII letters, as strcasecmp; callers only
// test for zero.
int stricmp(std::string_view a, std::string_view b);

// What made a name: each may be made again only by itself ("set.", or a
// label under the classic rules).
enum class Origin : std::uint8_t { kDefine, kLabel, kSet, kOption };

struct Constant {
    std::string szName;
    std::string szValue;
    Origin origin = Origin::kDefine;
    bool IsLabel() const { return origin == Origin::kLabel; }
};

class SymbolList {
public:
    static Constant CreateConstant() { return {}; }

    // The forward uses that wait for a name are chained elsewhere; the
    // chain's handle lives in the name's slot, so that a definition finds
    // them in the lookup that inserts it.
    static constexpr std::uint32_t kNoWaits = ~std::uint32_t{0};

    // Appends at the tail; an earlier record of the same name stays in the
    // list but is no longer found. waits, when given, receives the handle
    // the name held (kNoWaits if none); the slot's is cleared. Returns the
    // record as kept, which stays in place until ClearConstant.
    // previous, when given, receives the record the name had, or null.
    const Constant& InsertConstant(Constant record, std::uint32_t* waits = nullptr,
                                   const Constant** previous = nullptr);

    // The handle of name, which need not be defined (names a field waits
    // for take a slot of their own). Valid until the next insertion.
    std::uint32_t& Waits(std::string_view name);
    // The handle of name, cleared in its slot.
    std::uint32_t TakeWaits(std::string_view name);
    void ClearWaits();

    // The value text of the newest record whose name equals name ignoring
    // case. The view stays valid until the next InsertConstant, Waits or
    // ClearConstant (short values are kept in the index, which may grow).
    std::optional<std::string_view> CheckConstant(std::string_view name) const {
        const Slot* slot = FindDefined(name);
        if (slot == nullptr) return std::nullopt;
        return ValueText(*slot);
    }

    // A defined name's value as the number its text begins with (the
    // classic reading of a value, made once when the name was defined), or,
    // when it begins with no number, its text.
    struct Value {
        bool isNumber = false;
        std::int32_t number = 0;
        std::string_view text;  // when it is no number, or more than one
        bool whole() const { return isNumber && text.empty(); }
    };
    std::optional<Value> Lookup(std::string_view name) const {
        const Slot* slot = FindDefined(name);
        if (slot == nullptr) return std::nullopt;
        if (slot->numberKind == 2) return Value{true, slot->number, {}};
        return Value{slot->numberKind == 1, slot->number, ValueText(*slot)};
    }

    // The newest record of the name, or null.
    const Constant* FindConstant(std::string_view name) const {
        const Slot* slot = FindDefined(name);
        return slot != nullptr ? &Record(*slot) : nullptr;
    }

    void ClearConstant();

    bool empty() const { return records_.empty(); }
    std::size_t size() const { return records_.size(); }
    const Constant& operator[](std::size_t i) const { return records_[i]; }

private:
    // Half a cache line: the value as a number, and a short name (with a
    // short value) in the slot itself, so that most lookups cost one memory
    // access, and the index stays small enough to stay in the caches.
    static constexpr std::uint8_t kNotInline = 0xFF;
    static constexpr std::uint32_t kFree = 0;
    static constexpr std::uint32_t kMark = ~std::uint32_t{0};  // awaited, the name is in text
    struct alignas(32) Slot {
        std::uint32_t hash = 0;
        std::uint32_t waits = kNoWaits;
        // 1 + the place of the record: in records_ when defined, else in awaited_.
        std::uint32_t record = kFree;
        std::int32_t number = 0;
        std::uint8_t nameLen = kNotInline;  // name then value in text, when they fit
        std::uint8_t valueLen = kNotInline;
        bool defined = false;   // false: only awaited
        // 0: the value begins with no number; 1: with number; 2: it is number.
        std::uint8_t numberKind = 0;
        char text[12] = {};
    };
    static_assert(sizeof(Slot) == 32);
    const Constant& Record(const Slot& slot) const {
        return (slot.defined ? records_ : awaited_)[slot.record - 1];
    }
    std::string_view ValueText(const Slot& slot) const {
        if (slot.valueLen != kNotInline) return {slot.text + slot.nameLen, slot.valueLen};
        return Record(slot).szValue;
    }
    bool SameName(const Slot& slot, std::string_view name) const;
    std::size_t Find(std::string_view name, std::uint32_t hash) const;
    // The defined slot of name, or null (then remembered as a miss). Most
    // operands fail the first test, inline.
    const Slot* FindDefined(std::string_view name) const { return MayBeDefined(name) ? FindIndexed(name) : nullptr; }
    const Slot* FindIndexed(std::string_view name) const;
    void Grow();
    void Fit() {
        if ((names_ + 1) * 10 > index_.size() * 8) Grow();  // at most 80% full
    }
    static void Keep(Slot& slot, std::string_view name, std::string_view value);

    // Which lengths (bit 31: 31 or more) the names beginning with each byte
    // (folded to lower case) have. Most operands ("$5", "12") fail this test
    // and skip the index.
    static std::uint32_t LengthBit(std::size_t n) { return 1u << (n < 31 ? n : 31); }
    static std::size_t ShapeIndex(std::string_view name) { return static_cast<unsigned char>(FoldCase(name.front())); }
    bool MayBeDefined(std::string_view name) const {
        return !name.empty() && (shapes_[ShapeIndex(name)] & LengthBit(name.size()));
    }

    // The last name a lookup did not find defined, and its slot: a field
    // that waits for it is registered next, without a second search.
    struct Miss {
        std::uint64_t generation = ~std::uint64_t{0};
        std::size_t at = 0;
        std::uint32_t hash = 0;
        std::uint8_t length = 0;
        char text[32];
    };
    void Remember(std::string_view name, std::uint32_t hash, std::size_t at) const;

    mutable Miss miss_;
    std::uint64_t generation_ = 0;  // changes whenever a slot is taken or moved
    std::deque<Constant> records_;  // a deque never moves its records
    std::deque<Constant> awaited_;  // the names of slots only awaited
    std::vector<Slot> index_;
    std::size_t names_ = 0;  // distinct names in the index, awaited ones too
    std::uint32_t shapes_[256] = {};
};

// Local labels "N:" (N decimal digits, defined any number of times). Each
// definition gets a key "N#k" (k counts the definitions of N); "Nb" names
// the newest definition, "Nf" the next one. They live beside the names and
// never among them.
class LocalLabels {
public:
    // Records a definition; returns its key.
    std::string Define(std::string_view digits, std::uint32_t address);
    // The key that "Nb" (forward false) or "Nf" (true) denotes now; empty
    // for "Nb" before any definition of N.
    std::string Key(std::string_view digits, bool forward) const;
    std::optional<std::uint32_t> Value(std::string_view key) const;
    // A key as the user wrote it: "N#k" reads back as "Nf".
    static std::string Display(std::string_view name);

private:
    static std::string_view Number(std::string_view digits);
    std::unordered_map<std::string, std::uint32_t> count_;
    std::unordered_map<std::string, std::uint32_t> values_;
};

}  // namespace tarvo
