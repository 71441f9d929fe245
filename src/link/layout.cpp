// Linking as GNU ld does it: names resolved across units, input sections
// given to output sections by the script's patterns (orphans where ld puts
// them), then the statement list walked again and again, as ld sizes
// sections more than once, until every address and value settles.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "link/link.h"
#include "link/script.h"
#include "messages.h"

namespace tarvo::link {
namespace {

// The section of a value: an output section (index into outs_), or these.
constexpr int kNumber = -1;  // a plain number: an offset in the section it is used in
constexpr int kAbs = -2;     // an absolute address
constexpr int kMaxPasses = 16;
constexpr int kDefaultRegion = 0;
constexpr std::uint64_t kNoLength = ~std::uint64_t{0};

struct Value {
    std::uint64_t v = 0;
    int sec = kAbs;
};

// ld's align_n: any alignment, not only powers of 2.
std::uint64_t AlignUp(std::uint64_t v, std::uint64_t a) { return a <= 1 ? v : (v + a - 1) / a * a; }
bool PowerOf2(std::uint64_t a) { return a != 0 && (a & (a - 1)) == 0; }

std::uint32_t InputFlags(const InputSection& s) {
    std::uint32_t f = 0;
    if (s.alloc) f |= kAllocFlag;
    if (s.contents) f |= kContentsFlag;
    if (s.contents && s.alloc) f |= kLoadFlag;
    if (!s.write) f |= kReadOnlyFlag;
    if (s.exec) f |= kCodeFlag;
    if ((f & kLoadFlag) && !s.exec) f |= kDataFlag;
    const std::string_view n = s.name;
    if (!s.alloc && (n.starts_with(".debug") || n.starts_with(".stab") || n.starts_with(".line"))) f |= kDebugFlag;
    return f;
}

// The names a file pattern is matched against. A GNU build names the object
// of src/crt0.s "src/crt0.o" (or, built in another folder, "crt0.o"), so a
// script's "*crt0.o(.text)" or "crt0.o(.text)" must find this unit, and one
// written for the sources ("*crt0.s") as well: the pattern is matched against
// the object name (the source path with its extension replaced by ".o"), its
// last component, and the source path as given.
struct FileNames {
    std::string object, base, path;
};
FileNames NamesOf(const std::string& path) {
    FileNames n;
    n.path = path;
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    n.object = (dot != std::string::npos && (slash == std::string::npos || dot > slash)) ? path.substr(0, dot) : path;
    n.object += ".o";
    n.base = slash == std::string::npos ? n.object : n.object.substr(slash + 1);
    return n;
}
bool FileMatches(const std::string& glob, const FileNames& n) {
    return Glob(glob, n.object) || Glob(glob, n.base) || Glob(glob, n.path);
}
bool FileMatches(const Pattern& p, const FileNames& n) {
    if (!FileMatches(p.glob, n)) return false;
    for (const std::string& e : p.excludeFiles)
        if (FileMatches(e, n)) return false;
    return true;
}

struct Mem {
    std::string name;
    int def = -1;  // index into Script::regions; -1: made by the linker
    std::uint64_t origin = 0, length = kNoLength, current = 0;
    int lastOs = -1;  // the last section placed with its LMA following its VMA
    bool full = false;
    Place where;
};

struct Out {
    int stmt = -1;
    std::uint32_t flags = 0;
    bool keep = false, ignored = false, hasData = false;
    std::uint64_t inputAlign = 1, inputBytes = 0;
    int region = kDefaultRegion, lmaRegion = -1;
    std::optional<std::uint64_t> start;  // --section-start
    std::vector<std::uint8_t> fill;
    // This pass (and, for a forward reference, the last one).
    std::uint64_t vma = 0, lma = 0, size = 0, align = 1;
    std::vector<Piece> pieces;
    std::vector<Fill> fills;
    std::vector<Data> data;
};

struct InState {
    int out = -1;
    bool claimed = false, discarded = false;
    std::uint64_t off = 0;
};

struct Match {
    int unit, section;
};

struct Sym {
    Value val;
    int pass = 0;  // the last pass that set it; 0: none yet
};

struct Ctx {
    int sec = kAbs;  // the output section being laid out; kAbs outside one
    std::uint64_t dot = 0;
    const Place* where = nullptr;
    // A name without a value was read. As in ld's first phase, an
    // assignment that reads one does not happen; a later pass may know it.
    bool invalid = false;
};

class Linker {
public:
    Linker(const std::vector<Unit>& units, const Options& options, std::vector<Diagnostic>& diags)
        : units_(units), opt_(options), diags_(diags) {}

    bool Run(Layout& layout);

private:
    [[gnu::format(printf, 3, 4)]] void Error(const Place& where, const char* fmt, ...) {
        va_list ap;
        va_start(ap, fmt);
        ComplainV(diags_, true, where, fmt, ap);
        va_end(ap);
        ++errors_;
    }
    [[gnu::format(printf, 3, 4)]] void Warn(const Place& where, const char* fmt, ...) {
        va_list ap;
        va_start(ap, fmt);
        ComplainV(diags_, false, where, fmt, ap);
        va_end(ap);
    }
    // Messages of a pass count only in the last one, when values are final.
    [[gnu::format(printf, 3, 4)]] void PassError(const Place& where, const char* fmt, ...) {
        if (!final_) return;
        va_list ap;
        va_start(ap, fmt);
        ComplainV(diags_, true, where, fmt, ap);
        va_end(ap);
        ++errors_;
    }

    bool ReadScripts();
    void ResolveNames();
    void MapSections();
    std::vector<Match> Claim(int stmt);
    void PlaceOrphan(int unit, int section);
    int InsertAfter(int afterOut) const;
    void AddInput(int out, int stmt, int unit, int section);
    int NewOutput(Statement st);
    int FindOut(std::string_view name) const;
    int FindRegion(const std::string& name) const;
    int Region(const std::string& name, const Place& where);
    void SettleOutputs();
    bool Constant(int node) const;
    std::vector<std::uint8_t> FillOf(int expr, const Place& where);

    void Pass(bool final);
    void Walk(int stmt, Ctx& c);
    void Assert(const Statement& st, Ctx& c);
    void LayOut(int out);
    void Assign(const Statement& st, Ctx& c, int out, const std::vector<std::uint8_t>& fill = {});
    Value Eval(int node, Ctx& c);
    Value Binary(Op op, Value l, Value r, const Ctx& c);
    Value Lookup(const std::string& name, Ctx& c);
    // The value of an expression and whether every name in it had one.
    bool Valid(int node, Ctx& c, Value& out) {
        c.invalid = false;
        out = Eval(node, c);
        return !c.invalid;
    }
    std::uint64_t Abs(const Value& v) const { return v.sec >= 0 ? v.v + OutAt(v.sec).vma : v.v; }
    std::uint64_t VmaOf(int sec) const { return sec >= 0 ? OutAt(sec).vma : 0; }
    std::uint64_t Alignment(int expr, Ctx& c);
    void CheckRegion(int out, int region, bool addressed);
    bool UnitDefines(const std::string& name) const { return globals_.count(name) != 0; }
    Value UnitValue(int unit, int sym) const;
    void Snapshot(std::vector<std::uint64_t>& into) const;

    void CheckEnd();
    void Publish(Layout& layout) const;

    Out& OutAt(int i) { return outs_[static_cast<std::size_t>(i)]; }
    const Out& OutAt(int i) const { return outs_[static_cast<std::size_t>(i)]; }
    Statement& St(int i) { return s_.stmts[static_cast<std::size_t>(i)]; }
    const Statement& St(int i) const { return s_.stmts[static_cast<std::size_t>(i)]; }
    const Node& NodeAt(int i) const { return s_.nodes[static_cast<std::size_t>(i)]; }
    int& OutOf(int stmt) { return outOf_[static_cast<std::size_t>(stmt)]; }
    int OutOf(int stmt) const { return outOf_[static_cast<std::size_t>(stmt)]; }
    Mem& MemAt(int i) { return mems_[static_cast<std::size_t>(i)]; }
    struct Def {
        int unit, sym;
    };
    const InputSymbol& Symbol(const Def& d) const { return UnitAt(d.unit).symbols[static_cast<std::size_t>(d.sym)]; }
    const Unit& UnitAt(int u) const { return units_[static_cast<std::size_t>(u)]; }
    const InputSection& Sec(int u, int s) const { return UnitAt(u).sections[static_cast<std::size_t>(s)]; }
    InState& In(int u, int s) { return in_[static_cast<std::size_t>(u)][static_cast<std::size_t>(s)]; }
    const InState& In(int u, int s) const { return in_[static_cast<std::size_t>(u)][static_cast<std::size_t>(s)]; }

    const std::vector<Unit>& units_;
    const Options& opt_;
    std::vector<Diagnostic>& diags_;
    int errors_ = 0;
    Script s_;
    std::vector<int> defsyms_;  // assignment statements before the script's
    std::vector<std::vector<InState>> in_;
    std::vector<FileNames> names_;
    std::unordered_map<std::string, Def> globals_;
    std::unordered_set<std::string> referenced_;
    std::unordered_map<std::string, Sym> syms_;
    std::vector<Mem> mems_;
    std::vector<Out> outs_;
    std::vector<int> outOf_;  // output index of each kOutput statement
    std::vector<int> order_;  // outputs in the order of the statement list
    std::unordered_map<std::string, int> outByName_;
    std::vector<std::vector<Match>> matches_;                   // of each kInput statement
    std::unordered_map<int, std::vector<std::uint8_t>> fills_;  // of each FILL() statement
    std::vector<int> orphanAfter_;  // per kind of orphan: the output it follows, then the last one placed
    std::vector<bool> orphanPlaced_;
    int pass_ = 0;
    bool final_ = false;
    std::uint64_t dot_ = 0;
};

// ---- reading ----

bool Linker::ReadScripts() {
    bool ok = true;
    if (opt_.script) {
        std::string text;
        if (!opt_.readFile || !opt_.readFile(opt_.scriptPath, text)) {
            Error(Place{opt_.scriptPath, 0}, msg::kLinkCannotRead, opt_.scriptPath.c_str());
            return false;
        }
        s_.files.push_back(opt_.scriptPath);
        ok = ReadScript(text, opt_.scriptPath, opt_.readFile, s_, diags_);
    } else {
        ok = ReadScript(kDefaultScript, kDefaultScriptName, opt_.readFile, s_, diags_);
    }
    if (!ok) ++errors_;
    // --defsym: assignments before the script's statements, as ld reads its
    // command line first.
    for (const auto& [name, text] : opt_.defsyms) {
        const Place where{"--defsym", 0};
        const int e = ReadExpression(text, where, s_, diags_);
        if (e < 0) {
            ++errors_;
            continue;
        }
        Statement st;
        st.kind = Kind::kAssign;
        st.name = name;
        st.expr = e;
        st.where = where;
        s_.stmts.push_back(std::move(st));
        defsyms_.push_back(static_cast<int>(s_.stmts.size()) - 1);
    }
    return errors_ == 0;
}

// ---- names ----

void Linker::ResolveNames() {
    // Only a PROVIDE asks whether a name is used: the names it would set
    // are all that need to be looked for among the references.
    std::unordered_set<std::string_view> provided;
    for (const Statement& st : s_.stmts)
        if (st.kind == Kind::kAssign && st.provide) provided.insert(st.name);
    std::size_t symbols = 0;
    for (const Unit& unit : units_) symbols += unit.symbols.size();
    globals_.reserve(symbols);
    for (std::size_t u = 0; u < units_.size(); ++u) {
        const Unit& unit = units_[u];
        for (std::size_t i = 0; i < unit.symbols.size(); ++i) {
            const InputSymbol& sym = unit.symbols[i];
            if (sym.bind == InputSymbol::kLocal) continue;
            auto [it, fresh] = globals_.try_emplace(sym.name, Def{static_cast<int>(u), static_cast<int>(i)});
            if (fresh) continue;
            const InputSymbol& first = Symbol(it->second);
            if (sym.bind == InputSymbol::kWeak) continue;  // the first definition stays
            if (first.bind == InputSymbol::kWeak) {
                it->second = Def{static_cast<int>(u), static_cast<int>(i)};
                continue;
            }
            std::string at = first.where.file;
            if (first.where.line > 0) at.append(1, ':').append(std::to_string(first.where.line));
            Error(sym.where, msg::kLinkMultipleDef, sym.name.c_str(), at.c_str());
        }
        if (!provided.empty())
            for (const Reference& r : unit.undefined)
                if (provided.count(r.name) != 0) referenced_.insert(r.name);
    }
    // PROVIDE defines a name the script itself uses, too.
    for (const Node& n : s_.nodes)
        if (n.op == Op::kName) referenced_.insert(n.name);
    for (const std::string& e : s_.externs) referenced_.insert(e);
}

Value Linker::UnitValue(int unit, int sym) const {
    const InputSymbol& s = UnitAt(unit).symbols[static_cast<std::size_t>(sym)];
    if (s.section < 0) return {static_cast<std::uint64_t>(s.value), kAbs};
    const InState& in = In(unit, s.section);
    if (in.out < 0) return {static_cast<std::uint64_t>(s.value), kAbs};
    return {in.off + static_cast<std::uint64_t>(s.value), in.out};
}

// ---- sections to outputs ----

int Linker::FindRegion(const std::string& name) const {
    std::string target = name;
    // Aliases may stand for aliases; a bound on the chain ends a cycle.
    for (std::size_t hops = 0; hops <= s_.aliases.size(); ++hops) {
        for (std::size_t i = 1; i < mems_.size(); ++i)
            if (mems_[i].name == target) return static_cast<int>(i);
        bool found = false;
        for (const auto& [alias, region] : s_.aliases)
            if (alias == target) {
                target = region;
                found = true;
                break;
            }
        if (!found) break;
    }
    return -1;
}

int Linker::Region(const std::string& name, const Place& where) {
    if (const int found = FindRegion(name); found >= 0) return found;
    // ld warns and makes a region that takes every address.
    Warn(where, msg::kLinkRegionUndeclared, name.c_str());
    Mem m;
    m.name = name;
    m.where = where;
    mems_.push_back(std::move(m));
    return static_cast<int>(mems_.size()) - 1;
}

int Linker::NewOutput(Statement st) {
    s_.stmts.push_back(std::move(st));
    const int stmt = static_cast<int>(s_.stmts.size()) - 1;
    Out o;
    o.stmt = stmt;
    outs_.push_back(std::move(o));
    outOf_.resize(s_.stmts.size(), -1);
    OutOf(stmt) = static_cast<int>(outs_.size()) - 1;
    return static_cast<int>(outs_.size()) - 1;
}

int Linker::FindOut(std::string_view name) const {
    for (int stmt : s_.top) {
        const Statement& st = St(stmt);
        if (st.kind == Kind::kOutput && !st.discard && st.name == name) return OutOf(stmt);
    }
    return -1;
}

void Linker::AddInput(int out, int stmt, int unit, int section) {
    InState& in = In(unit, section);
    in.claimed = true;
    matches_[static_cast<std::size_t>(stmt)].push_back({unit, section});
    if (out < 0) {
        in.discarded = true;
        return;
    }
    in.out = out;
    Out& o = OutAt(out);
    const InputSection& s = Sec(unit, section);
    std::uint32_t f = InputFlags(s);
    if (St(o.stmt).noload) f &= ~(kLoadFlag | kContentsFlag);
    // Read-only only while every input is.
    const std::uint32_t readOnly = o.flags == 0 ? (f & kReadOnlyFlag) : (o.flags & f & kReadOnlyFlag);
    o.flags = ((o.flags | f) & ~kReadOnlyFlag) | readOnly;
    o.inputAlign = std::max(o.inputAlign, std::max<std::uint64_t>(s.align, 1));
    o.inputBytes += s.size;
    if (St(stmt).keep) o.keep = true;
}

// Gives the input sections a statement's patterns take, in ld's order: input
// order, but sections that a sorted pattern takes go into ld's binary tree.
std::vector<Match> Linker::Claim(int stmt) {
    const Statement& st = St(stmt);
    struct NodeB {
        Match m;
        int pattern;
        int left = -1, right = -1;
    };
    std::vector<NodeB> tree;
    bool sorted = st.file.sort == Sort::kName;
    for (const Pattern& p : st.sections) sorted = sorted || p.sort != Sort::kNone;
    int root = -1, rightmostOwner = -2;  // -2: the root slot; else the right slot of that node
    auto slot = [&](int owner, bool left) -> int& {
        if (owner == -2) return root;
        NodeB& n = tree[static_cast<std::size_t>(owner)];
        return left ? n.left : n.right;
    };
    auto compare = [&](Sort key, const InputSection& a, const InputSection& b) {
        if (key == Sort::kName) return a.name.compare(b.name);
        if (a.align == b.align) return 0;
        return b.align > a.align ? 1 : -1;  // the larger alignment first
    };
    std::vector<Match> plain;
    for (std::size_t u = 0; u < units_.size(); ++u) {
        if (!FileMatches(st.file, names_[u])) continue;
        const Unit& unit = units_[u];
        for (std::size_t i = 0; i < unit.sections.size(); ++i) {
            if (in_[u][i].claimed) continue;
            int pattern = -1;
            if (!st.sections.empty()) {
                for (std::size_t k = 0; k < st.sections.size() && pattern < 0; ++k) {
                    const Pattern& p = st.sections[k];
                    if (!Glob(p.glob, unit.sections[i].name)) continue;
                    bool excluded = false;
                    for (const std::string& e : p.excludeFiles) excluded = excluded || FileMatches(e, names_[u]);
                    if (!excluded) pattern = static_cast<int>(k);
                }
                if (pattern < 0) continue;
            }
            in_[u][i].claimed = true;
            const Match m{static_cast<int>(u), static_cast<int>(i)};
            if (!sorted) {
                plain.push_back(m);
                continue;
            }
            const Pattern* p = pattern >= 0 ? &st.sections[static_cast<std::size_t>(pattern)] : nullptr;
            const bool bySection = p != nullptr && p->sort != Sort::kNone;
            int owner = -2;
            bool left = false;
            if (st.file.sort == Sort::kName || bySection) {
                while (slot(owner, left) >= 0) {
                    const int at = slot(owner, left);
                    const NodeB& n = tree[static_cast<std::size_t>(at)];
                    owner = at;
                    if (st.file.sort == Sort::kName) {
                        const int c = names_[u].object.compare(names_[static_cast<std::size_t>(n.m.unit)].object);
                        if (c != 0) {
                            left = c < 0;
                            continue;
                        }
                    }
                    const InputSection& other = Sec(n.m.unit, n.m.section);
                    int c = 0;
                    if (bySection) {
                        c = compare(p->sort, unit.sections[i], other);
                        if (c == 0 && p->sort2 != Sort::kNone) c = compare(p->sort2, unit.sections[i], other);
                    }
                    left = c < 0;
                }
            } else {
                owner = rightmostOwner;
                left = false;
            }
            tree.push_back({m, pattern});
            const int made = static_cast<int>(tree.size()) - 1;
            const bool atRightmost = owner == rightmostOwner && !left;
            slot(owner, left) = made;
            if (atRightmost) rightmostOwner = made;
        }
    }
    // In-order walk of the tree.
    std::vector<int> stack;
    std::vector<Match> inOrder = std::move(plain);
    for (int at = root; at >= 0 || !stack.empty();) {
        while (at >= 0) stack.push_back(at), at = tree[static_cast<std::size_t>(at)].left;
        at = stack.back();
        stack.pop_back();
        inOrder.push_back(tree[static_cast<std::size_t>(at)].m);
        at = tree[static_cast<std::size_t>(at)].right;
    }
    return inOrder;
}

// Where ld's insert_os_after puts an orphan that follows output `after`: past
// the assignments after it, but before an assignment to '.' that leads to
// the next output section.
int Linker::InsertAfter(int afterOut) const {
    const int afterStmt = OutAt(afterOut).stmt;
    std::size_t i = 0;
    while (i < s_.top.size() && s_.top[i] != afterStmt) ++i;
    std::size_t assign = s_.top.size();
    for (++i; i < s_.top.size(); ++i) {
        const Statement& st = St(s_.top[i]);
        if (st.kind == Kind::kAssign) {
            if (assign == s_.top.size() && st.name == ".") assign = i;
            continue;
        }
        if (st.kind == Kind::kAssert) continue;
        if (assign != s_.top.size() && st.kind == Kind::kOutput) {
            const Out& next = OutAt(OutOf(s_.top[i]));
            if (next.flags == 0 || (next.flags & kAllocFlag)) return static_cast<int>(assign);
        }
        break;
    }
    return static_cast<int>(i);
}

// ld's place for a section no pattern takes (ldelf_place_orphan): into an
// output section of its name; else after the output section that holds its
// kind (code after .text, read-only data after .rodata, data after .data,
// no bytes after .bss), or, lacking that, after the last one with the most
// similar flags; a section that is not allocated goes last, at address 0.
void Linker::PlaceOrphan(int unit, int section) {
    const InputSection& sec = Sec(unit, section);
    const std::uint32_t f = InputFlags(sec);
    // An orphan joins an output section through an input statement of its
    // own at the end, as ld's lang_add_section adds it.
    auto addTo = [&](int out) {
        const std::size_t os = static_cast<std::size_t>(OutAt(out).stmt);
        const std::vector<int>& body = s_.stmts[os].body;
        int input = body.empty() ? -1 : body.back();
        if (input < 0 || !St(input).orphan) {
            Statement in;
            in.kind = Kind::kInput;
            in.orphan = true;
            in.where = s_.stmts[os].where;
            s_.stmts.push_back(std::move(in));
            input = static_cast<int>(s_.stmts.size()) - 1;
            s_.stmts[os].body.push_back(input);
            matches_.resize(s_.stmts.size());
            outOf_.resize(s_.stmts.size(), -1);
        }
        AddInput(out, input, unit, section);
    };
    for (int stmt : s_.top) {
        const Statement& st = St(stmt);
        if (st.kind != Kind::kOutput || st.discard || st.name != sec.name) continue;
        const int out = OutOf(stmt);
        const std::uint32_t of = OutAt(out).flags;
        if (of == 0 || ((of ^ f) & (kLoadFlag | kAllocFlag)) == 0) return addTo(out);
    }
    enum { kText, kRodata, kData, kBss, kNonAlloc, kKinds };
    static constexpr std::string_view kHold[] = {".text", ".rodata", ".data", ".bss", ""};
    int kind;
    if (!(f & kAllocFlag))
        kind = kNonAlloc;
    else if (!(f & (kLoadFlag | kContentsFlag)))
        kind = kBss;
    else if (!(f & kReadOnlyFlag))
        kind = kData;
    else if (!(f & kCodeFlag))
        kind = kRodata;
    else
        kind = kText;
    orphanAfter_.resize(kKinds, -2);
    orphanPlaced_.resize(kKinds, false);
    Statement os;
    os.kind = Kind::kOutput;
    os.orphan = true;
    os.name = sec.name;
    os.where = Place{s_.files.empty() ? std::string(kDefaultScriptName) : s_.files.front(), 0};
    int& after = orphanAfter_[static_cast<std::size_t>(kind)];
    if (kind != kNonAlloc && after == -2) {
        after = FindOut(kHold[kind]);
        // ld's lang_output_section_find_by_flags: the last output with the
        // same kind flags, then the last with the flags of its family.
        const std::uint32_t kExact = kContentsFlag | kAllocFlag | kLoadFlag | kReadOnlyFlag | kCodeFlag;
        const std::uint32_t family = kind == kText     ? (kContentsFlag | kAllocFlag | kLoadFlag | kCodeFlag)
                                     : kind == kRodata ? (kContentsFlag | kAllocFlag | kLoadFlag | kReadOnlyFlag)
                                     : kind == kData   ? (kContentsFlag | kAllocFlag | kLoadFlag)
                                                       : kAllocFlag;
        for (const std::uint32_t mask : {kExact, family}) {
            if (after >= 0) break;
            for (int stmt : s_.top) {
                const Statement& st = St(stmt);
                if (st.kind != Kind::kOutput || st.discard) continue;
                const int out = OutOf(stmt);
                const std::uint32_t of = OutAt(out).flags;
                if (of != 0 && ((of ^ f) & mask) == 0) after = out;
            }
        }
    }
    int at = static_cast<int>(s_.top.size());
    if (kind == kNonAlloc) {
        // Not allocated: at address 0, where it takes no room.
        Node zero;
        s_.nodes.push_back(zero);
        os.addr = static_cast<int>(s_.nodes.size()) - 1;
    } else if (after >= 0) {
        const Statement& a = St(OutAt(after).stmt);
        os.region = a.region.empty() && !a.lmaRegion.empty() && a.addr < 0 ? a.lmaRegion : a.region;
        os.lmaRegion = a.lmaRegion;
        if (orphanPlaced_[static_cast<std::size_t>(kind)]) {
            // After the orphan of its kind placed last.
            at = static_cast<int>(std::find(s_.top.begin(), s_.top.end(), OutAt(after).stmt) - s_.top.begin()) + 1;
        } else {
            at = InsertAfter(after);
        }
    }
    const int out = NewOutput(std::move(os));
    s_.top.insert(s_.top.begin() + at, OutAt(out).stmt);
    if (kind != kNonAlloc && after >= 0) {
        after = out;  // the next orphan of its kind follows this one
        orphanPlaced_[static_cast<std::size_t>(kind)] = true;
    }
    addTo(out);
}

void Linker::MapSections() {
    names_.reserve(units_.size());
    in_.resize(units_.size());
    for (std::size_t u = 0; u < units_.size(); ++u) {
        names_.push_back(NamesOf(units_[u].path));
        in_[u].resize(units_[u].sections.size());
    }
    Mem def;
    def.name = "*default*";
    mems_.push_back(def);
    for (std::size_t i = 0; i < s_.regions.size(); ++i) {
        Mem m;
        m.name = s_.regions[i].name;
        m.def = static_cast<int>(i);
        m.where = s_.regions[i].where;
        mems_.push_back(std::move(m));
    }
    outOf_.assign(s_.stmts.size(), -1);
    matches_.resize(s_.stmts.size());
    for (int stmt : s_.top) {
        if (St(stmt).kind != Kind::kOutput) continue;
        Out o;
        o.stmt = stmt;
        outs_.push_back(std::move(o));
        OutOf(stmt) = static_cast<int>(outs_.size()) - 1;
    }
    // --section-start: the output section of that name gets the address; one
    // the script lacks is made after the script's (ld does both).
    for (const auto& [name, text] : opt_.sectionStarts) {
        std::string_view t = text;
        if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t.remove_prefix(2);
        std::uint64_t v = 0;
        bool ok = !t.empty() && t.size() <= 16;
        for (char c : t) {
            const int d = (c >= '0' && c <= '9')   ? c - '0'
                          : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                          : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                   : -1;
            ok = ok && d >= 0;
            v = v * 16 + static_cast<std::uint64_t>(d < 0 ? 0 : d);
        }
        if (!ok) {
            Error(Place{"--section-start", 0}, msg::kLinkBadSectionStart, (name + "=" + text).c_str());
            continue;
        }
        int out = FindOut(name);
        if (out < 0) {
            Statement os;
            os.kind = Kind::kOutput;
            os.name = name;
            os.where = Place{"--section-start", 0};
            out = NewOutput(std::move(os));
            s_.top.push_back(OutAt(out).stmt);
        }
        OutAt(out).start = v;
    }
    matches_.resize(s_.stmts.size());
    // Each input section goes to the first statement that takes it.
    std::vector<std::pair<int, int>> inputs;  // statement, output (-1: /DISCARD/)
    for (int stmt : s_.top) {
        const Statement& st = St(stmt);
        if (st.kind != Kind::kOutput) continue;
        for (int b : st.body)
            if (St(b).kind == Kind::kInput) inputs.emplace_back(b, st.discard ? -1 : OutOf(stmt));
    }
    for (const auto& [stmt, out] : inputs)
        for (const Match& m : Claim(stmt)) AddInput(out, stmt, m.unit, m.section);
    // Outputs' flags and sizes before orphans look at them: BYTE() and the like.
    for (Out& o : outs_) {
        const Statement& st = St(o.stmt);
        for (int b : st.body)
            if (St(b).kind == Kind::kData) {
                o.hasData = true;
                o.flags |= st.noload ? kAllocFlag : (kAllocFlag | kLoadFlag | kContentsFlag);
            }
    }
    for (std::size_t u = 0; u < units_.size(); ++u)
        for (std::size_t i = 0; i < units_[u].sections.size(); ++i)
            if (!in_[u][i].claimed) PlaceOrphan(static_cast<int>(u), static_cast<int>(i));
    SettleOutputs();
}

// What follows from the statement list once every input has its output:
// the order of outputs, regions, fills, and which outputs ld drops.
void Linker::SettleOutputs() {
    order_.clear();
    for (int stmt : s_.top)
        if (St(stmt).kind == Kind::kOutput) order_.push_back(OutOf(stmt));
    for (std::size_t k = 0; k < order_.size(); ++k) {
        Out& o = OutAt(order_[k]);
        const Statement& st = St(o.stmt);
        if (!st.discard) outByName_.try_emplace(st.name, order_[k]);
        // ld's lang_get_regions: a load region alone is the region too.
        o.lmaRegion = st.lmaRegion.empty() ? -1 : Region(st.lmaRegion, st.where);
        if (!st.lmaRegion.empty() && st.addr < 0 && st.region.empty())
            o.region = o.lmaRegion;
        else
            o.region = st.region.empty() ? kDefaultRegion : Region(st.region, st.where);
        // ld's lang_propagate_lma_regions: a section in the region of the one
        // before it, with no address and no load address of its own, loads
        // into the same load region.
        if (k > 0) {
            const Out& prev = OutAt(order_[k - 1]);
            if (o.lmaRegion < 0 && st.lmaExpr < 0 && st.addr < 0 && !o.start && o.region == prev.region)
                o.lmaRegion = prev.lmaRegion;
        }
        if (st.fillExpr >= 0) o.fill = FillOf(st.fillExpr, st.where);
        // An assignment to '.' keeps a section, except the ones that cannot
        // move it (ld: ". = 0", ". = . + 0").
        for (int b : st.body) {
            const Statement& x = St(b);
            if (x.kind != Kind::kAssign || x.name != ".") continue;
            const Node& e = NodeAt(x.expr);
            const bool zero = e.op == Op::kNumber && e.value == 0;
            const bool dotPlusZero = e.op == Op::kAdd && NodeAt(e.a).op == Op::kDot && NodeAt(e.b).op == Op::kNumber &&
                                     NodeAt(e.b).value == 0;
            if (!zero && !dotPlusZero) o.keep = true;
        }
        for (int b : st.body)
            if (St(b).kind == Kind::kFill) fills_[b] = FillOf(St(b).expr, St(b).where);
        o.ignored = st.discard || (!o.keep && !o.hasData && o.inputBytes == 0);
    }
}

// ---- expressions ----

// ld reads a fill while it reads the script, before any name has a value.
bool Linker::Constant(int node) const {
    if (node < 0) return true;
    const Node& n = NodeAt(node);
    switch (n.op) {
        case Op::kNumber: return true;
        case Op::kNeg:
        case Op::kNot:
        case Op::kCompl:
        case Op::kAbsolute:
        case Op::kLog2ceil: return Constant(n.a);
        case Op::kCond: return Constant(n.a) && Constant(n.b) && Constant(n.c);
        case Op::kAlignTo:
        case Op::kMax:
        case Op::kMin: return Constant(n.a) && Constant(n.b);
        default: return n.op >= Op::kMul && n.op <= Op::kOrOr && Constant(n.a) && Constant(n.b);
    }
}

std::vector<std::uint8_t> Linker::FillOf(int expr, const Place& where) {
    if (!Constant(expr)) {
        Error(where, msg::kLinkNotConstant, "fill value");
        return {};
    }
    Ctx c;
    c.where = &where;
    return FillPattern(NodeAt(expr), Eval(expr, c).v);
}

Value Linker::Lookup(const std::string& name, Ctx& c) {
    // ld's fold_name: inside an output section an absolute name is a number.
    auto read = [&](Value v) {
        if (v.sec == kAbs && c.sec != kAbs) v.sec = kNumber;
        return v;
    };
    const auto it = syms_.find(name);
    if (it != syms_.end() && it->second.pass == pass_) return read(it->second.val);
    if (const auto g = globals_.find(name); g != globals_.end()) return read(UnitValue(g->second.unit, g->second.sym));
    // A name the script sets later: its value of the last pass.
    if (it != syms_.end() && it->second.pass > 0) return read(it->second.val);
    PassError(c.where ? *c.where : Place{}, msg::kLinkUndefinedInExpr, name.c_str());
    c.invalid = true;
    return {0, kAbs};
}

// ld's fold_binary: values of different sections are made absolute; a
// number takes the section of the other operand; arithmetic on two values of
// one section gives a number (absolute outside output sections).
Value Linker::Binary(Op op, Value l, Value r, const Ctx& c) {
    if (l.sec != r.sec) {
        if (r.sec != kNumber && l.sec != kNumber) {
            l = {Abs(l), kAbs};
            r = {Abs(r), kAbs};
        } else if (r.sec == kNumber) {
            r.sec = l.sec;
            l.sec = kNumber;
        }
    }
    Value out{0, r.sec};
    const std::uint64_t a = l.v, b = r.v;
    bool arithmetic = true;
    switch (op) {
        case Op::kAdd: out.v = a + b; break;
        case Op::kSub: out.v = a - b; break;
        case Op::kMul: out.v = a * b; break;
        // Shifts as the x86-64 host of ld does them.
        case Op::kShl: out.v = a << (b & 63); break;
        case Op::kShr: out.v = a >> (b & 63); break;
        case Op::kAnd: out.v = a & b; break;
        case Op::kXor: out.v = a ^ b; break;
        case Op::kOr: out.v = a | b; break;
        case Op::kDiv:
        case Op::kMod:
            // Signed, as ld divides.
            if (b == 0) {
                PassError(c.where ? *c.where : Place{}, op == Op::kDiv ? msg::kLinkDivZero : msg::kLinkModZero);
            } else if (b == ~std::uint64_t{0}) {
                out.v = op == Op::kDiv ? 0 - a : 0;
            } else {
                const auto sa = static_cast<std::int64_t>(a), sb = static_cast<std::int64_t>(b);
                out.v = static_cast<std::uint64_t>(op == Op::kDiv ? sa / sb : sa % sb);
            }
            break;
        default:
            arithmetic = false;
            switch (op) {
                // Comparisons of ld's unsigned values give a number.
                case Op::kLt: out.v = a < b; break;
                case Op::kGt: out.v = a > b; break;
                case Op::kLe: out.v = a <= b; break;
                case Op::kGe: out.v = a >= b; break;
                case Op::kEq: out.v = a == b; break;
                case Op::kNe: out.v = a != b; break;
                case Op::kAndAnd: out.v = a && b; break;
                case Op::kOrOr: out.v = a || b; break;
                case Op::kMax: out.v = std::max(a, b); return out;
                case Op::kMin: out.v = std::min(a, b); return out;
                case Op::kAlignTo: out.v = AlignUp(a, b); return out;
                default: break;
            }
            out.sec = kNumber;
            break;
    }
    if (arithmetic && l.sec == r.sec) out.sec = c.sec == kAbs ? kAbs : kNumber;
    return out;
}

Value Linker::Eval(int node, Ctx& c) {
    const Node& n = NodeAt(node);
    const Place& where = c.where ? *c.where : Place{};
    auto output = [&](Value& failed) -> const Out* {
        const auto it = outByName_.find(n.name);
        if (it != outByName_.end()) return &OutAt(it->second);
        PassError(where, msg::kLinkUndefinedSection, n.name.c_str());
        failed = {0, kNumber};
        return nullptr;
    };
    auto region = [&]() -> const Mem* {
        if (const int found = FindRegion(n.name); found >= 0) return &mems_[static_cast<std::size_t>(found)];
        PassError(where, msg::kLinkNoRegion, n.name.c_str());
        c.invalid = true;
        return nullptr;
    };
    Value v;
    switch (n.op) {
        case Op::kNumber: return {n.value, c.sec == kAbs ? kAbs : kNumber};
        case Op::kName: return Lookup(n.name, c);
        case Op::kDot: return {c.dot - VmaOf(c.sec), c.sec};
        case Op::kNeg: v = Eval(n.a, c), v.v = 0 - v.v; return v;
        case Op::kNot: v = Eval(n.a, c), v.v = !v.v; return v;
        case Op::kCompl: v = Eval(n.a, c), v.v = ~v.v; return v;
        case Op::kCond: return Eval(Eval(n.a, c).v != 0 ? n.b : n.c, c);
        case Op::kAlign: {
            const std::uint64_t a = Eval(n.a, c).v;
            return {AlignUp(c.dot, a) - VmaOf(c.sec), c.sec};
        }
        case Op::kAddr:
            if (const Out* o = output(v)) return {0, static_cast<int>(o - outs_.data())};
            return v;
        case Op::kLoadaddr:
            if (const Out* o = output(v)) return {o->lma, kAbs};
            return v;
        case Op::kSizeof:
            if (const Out* o = output(v)) return {o->ignored ? 0 : o->size, kNumber};
            return v;
        case Op::kAlignof:
            if (const Out* o = output(v)) return {o->ignored ? 0 : o->align, kNumber};
            return v;
        case Op::kOrigin:
            if (const Mem* m = region()) return {m->origin, kAbs};
            return {0, kAbs};
        case Op::kLength:
            if (const Mem* m = region()) return {m->length, kNumber};
            return {0, kNumber};
        case Op::kDefined: {
            const auto it = syms_.find(n.name);
            return {UnitDefines(n.name) || (it != syms_.end() && it->second.pass == pass_) ? 1u : 0u, kNumber};
        }
        case Op::kAbsolute: return {Abs(Eval(n.a, c)), kAbs};
        case Op::kAssert: {
            const Value v = Eval(n.a, c);
            if (final_ && !c.invalid && Abs(v) == 0) Error(c.where ? *c.where : Place{}, msg::kLinkAssert, n.name.c_str());
            return v;
        }
        case Op::kLog2ceil: {
            const std::uint64_t x = Abs(Eval(n.a, c));
            std::uint64_t bits = 0;
            while (bits < 64 && (std::uint64_t{1} << bits) < x) ++bits;
            return {bits, kNumber};
        }
        default: {
            const Value l = Eval(n.a, c);
            const Value r = Eval(n.b, c);
            return Binary(n.op, l, r, c);
        }
    }
}

std::uint64_t Linker::Alignment(int expr, Ctx& c) {
    Value v;
    if (expr < 0 || !Valid(expr, c, v)) return 1;
    const std::uint64_t a = Abs(v);
    if (!PowerOf2(a)) {
        PassError(*c.where, msg::kLinkNotPowerOf2, static_cast<unsigned long long>(a));
        return 1;
    }
    return a;
}

// ---- the passes ----

void Linker::Assign(const Statement& st, Ctx& c, int out, const std::vector<std::uint8_t>& fill) {
    Value v;
    if (st.name == ".") {
        if (!Valid(st.expr, c, v)) return;
        // A number is an offset in the section being laid out.
        const std::uint64_t next = v.v + (v.sec >= 0 ? VmaOf(v.sec) : v.sec == kNumber ? VmaOf(c.sec) : 0);
        if (out < 0) {
            if (next != c.dot) mems_[kDefaultRegion].current = next;
            c.dot = next;
            return;
        }
        if (next < c.dot) {
            PassError(st.where, msg::kLinkBackwards, static_cast<unsigned long long>(c.dot),
                      static_cast<unsigned long long>(next));
            return;
        }
        if (next == c.dot) return;
        Out& o = OutAt(out);
        o.fills.push_back({c.dot - o.vma, next - c.dot, fill});
        o.flags |= kAllocFlag;  // moving '.' makes room
        c.dot = next;
        return;
    }
    if (st.provide) {
        // PROVIDE: only for a name something uses and nothing defines.
        const auto it = syms_.find(st.name);
        if (!referenced_.count(st.name) || UnitDefines(st.name) || (it != syms_.end() && it->second.pass == pass_))
            return;
    }
    if (!Valid(st.expr, c, v)) return;
    if (v.sec == kNumber) v.sec = c.sec;
    syms_[st.name] = Sym{v, pass_};
}

void Linker::Assert(const Statement& st, Ctx& c) {
    Value v;
    if (final_ && Valid(st.expr, c, v) && v.v == 0) Error(st.where, msg::kLinkAssert, st.text.c_str());
}

void Linker::Walk(int stmt, Ctx& c) {
    const Statement& st = St(stmt);
    c.where = &st.where;
    switch (st.kind) {
        case Kind::kAssign: Assign(st, c, -1); break;
        case Kind::kAssert: Assert(st, c); break;
        case Kind::kOutput:
            dot_ = c.dot;
            LayOut(OutOf(stmt));
            c.dot = dot_;
            break;
        default: break;
    }
}

// One output section, as ld's lang_size_sections_1 places it.
void Linker::LayOut(int index) {
    Out& o = OutAt(index);
    const Statement& st = St(o.stmt);
    if (st.discard) return;
    Ctx top;
    top.dot = dot_;
    top.where = &st.where;
    const bool addressed = st.addr >= 0 || o.start.has_value();
    Value v;
    if (o.start)
        dot_ = *o.start;
    else if (st.addr >= 0 && Valid(st.addr, top, v))
        dot_ = Abs(v);
    top.dot = dot_;
    o.pieces.clear();
    o.fills.clear();
    o.data.clear();
    const bool allocated = (o.flags & (kAllocFlag | kLoadFlag)) != 0;
    std::uint64_t newdot = dot_, align;
    const std::uint64_t stated = Alignment(st.align, top);
    if (!addressed && allocated) {
        // ld's lang_memory_default: a section in no region takes the first
        // region whose attributes fit it.
        if (o.region == kDefaultRegion) {
            std::uint32_t f = o.flags;
            if ((f & (kAllocFlag | kReadOnlyFlag | kCodeFlag)) == kAllocFlag) f |= kDataFlag;
            for (std::size_t i = 1; i < mems_.size(); ++i)
                if (mems_[i].def >= 0 && (s_.regions[static_cast<std::size_t>(mems_[i].def)].flags & f) != 0 &&
                    (s_.regions[static_cast<std::size_t>(mems_[i].def)].notFlags & f) == 0) {
                    o.region = static_cast<int>(i);
                    break;
                }
            if (o.region == kDefaultRegion && !s_.regions.empty() && !o.ignored)
                PassError(st.where, msg::kLinkNoMemory, st.name.c_str());
        }
        newdot = MemAt(o.region).current;
        align = std::max(o.inputAlign, stated);
    } else {
        align = stated;
    }
    const std::uint64_t subalign = Alignment(st.subalign, top);
    o.align = std::max(o.inputAlign, stated);
    if (st.subalign >= 0) o.align = std::max(o.align, subalign);
    const std::uint64_t before = newdot;
    newdot = AlignUp(newdot, align);
    const std::uint64_t pad = newdot - before;
    o.vma = o.lma = newdot;

    // The statements inside.
    Ctx c;
    c.sec = index;
    c.dot = newdot;
    std::vector<std::uint8_t> fill = o.fill;
    for (int b : st.body) {
        const Statement& x = St(b);
        c.where = &x.where;
        switch (x.kind) {
            case Kind::kInput:
                for (const Match& m : matches_[static_cast<std::size_t>(b)]) {
                    const InputSection& s = Sec(m.unit, m.section);
                    const std::uint64_t a = st.subalign >= 0 ? subalign : s.align;
                    const std::uint64_t at = AlignUp(c.dot, a);
                    if (at != c.dot) o.fills.push_back({c.dot - o.vma, at - c.dot, fill});
                    InState& in = In(m.unit, m.section);
                    in.off = at - o.vma;
                    o.pieces.push_back({m.unit, m.section, in.off, s.size, s.contents});
                    c.dot = at + s.size;
                }
                break;
            case Kind::kAssign: Assign(x, c, index, fill); break;
            case Kind::kFill: fill = fills_[b]; break;
            case Kind::kData:
                o.data.push_back({c.dot - o.vma, Valid(x.expr, c, v) ? Abs(v) : 0, x.width});
                c.dot += x.width;
                break;
            case Kind::kAssert: Assert(x, c); break;
            default: break;
        }
    }
    o.size = c.dot - o.vma;
    if (o.ignored)
        o.size = 0;
    else
        dot_ = o.vma;

    // The load address.
    Mem& r = MemAt(o.region);
    if (st.lmaExpr >= 0) {
        if (Valid(st.lmaExpr, top, v)) o.lma = Abs(v);
    } else if (o.lmaRegion >= 0) {
        std::uint64_t lma = MemAt(o.lmaRegion).current;
        // In its own region the LMA takes the VMA's alignment; in another,
        // only the ALIGN() the statement gives.
        if (o.lmaRegion == o.region)
            lma += pad;
        else
            lma = AlignUp(lma, stated);
        o.lma = lma;
    } else if (r.lastOs >= 0 && (o.flags & kAllocFlag)) {
        const Out& last = OutAt(r.lastOs);
        // Where '.' moved back below the last section, the LMA stays the VMA;
        // else it keeps the last section's distance from its VMA.
        if (!(dot_ < last.vma && o.size != 0 && dot_ + o.size <= last.vma))
            o.lma = AlignUp(o.vma + last.lma - last.vma, align);
    }
    if ((o.flags & kAllocFlag) && o.lmaRegion < 0 &&
        (o.size != 0 || (r.lastOs < 0 && o.vma != o.lma) || (r.lastOs >= 0 && dot_ >= OutAt(r.lastOs).vma)))
        r.lastOs = index;
    if (o.ignored) return;
    dot_ += o.size;
    if (allocated) {
        r.current = dot_;
        if (final_) CheckRegion(index, o.region, addressed);
        if (o.lmaRegion >= 0 && o.lmaRegion != o.region && (o.flags & kLoadFlag)) {
            MemAt(o.lmaRegion).current = o.lma + o.size;
            if (final_) CheckRegion(index, o.lmaRegion, false);
        }
    }
}

void Linker::CheckRegion(int out, int region, bool addressed) {
    Mem& m = MemAt(region);
    if (m.current >= m.origin && m.current - m.origin <= m.length) return;
    const Statement& st = St(OutAt(out).stmt);
    if (addressed) {
        Error(st.where, msg::kLinkNotWithin, static_cast<unsigned long long>(m.current), st.name.c_str(),
              m.name.c_str());
    } else if (!m.full) {
        m.full = true;
        Error(st.where, msg::kLinkWillNotFit, st.name.c_str(), m.name.c_str());
    }
}

void Linker::Pass(bool final) {
    ++pass_;
    final_ = final;
    Ctx top;
    for (Mem& m : mems_) {
        if (m.def >= 0) {
            const link::Region& r = s_.regions[static_cast<std::size_t>(m.def)];
            top.where = &r.where;
            Value v;
            m.origin = Valid(r.origin, top, v) ? Abs(v) : 0;
            m.length = Valid(r.length, top, v) ? Abs(v) : 0;
        }
        m.current = m.origin;
        m.lastOs = -1;
        m.full = false;
    }
    top.dot = 0;
    for (int stmt : defsyms_) Walk(stmt, top);
    for (int stmt : s_.top) Walk(stmt, top);
    if (!final) return;
    for (const Mem& m : mems_)
        if (m.full)
            Error(m.where, msg::kLinkOverflow, m.name.c_str(),
                  static_cast<unsigned long long>(m.current - (m.origin + m.length)));
}

void Linker::Snapshot(std::vector<std::uint64_t>& into) const {
    into.clear();
    for (const Out& o : outs_) into.insert(into.end(), {o.vma, o.lma, o.size, o.align});
    for (const auto& u : in_)
        for (const InState& in : u) into.push_back(in.off);
    for (const auto& [name, sym] : syms_)
        into.insert(into.end(), {Abs(sym.val), static_cast<std::uint64_t>(sym.pass == pass_)});
}

// ---- after the last pass ----

void Linker::CheckEnd() {
    std::unordered_set<std::string> reported;
    for (const Unit& unit : units_)
        for (const Reference& r : unit.undefined) {
            const auto g = globals_.find(r.name);
            const auto it = syms_.find(r.name);
            const bool scripted = it != syms_.end() && it->second.pass == pass_;
            if (g == globals_.end() && !scripted) {
                if (!r.weak && reported.insert(r.name).second) Error(r.where, msg::kLinkUndefinedRef, r.name.c_str());
                continue;
            }
            if (scripted) continue;
            const Unit& owner = UnitAt(g->second.unit);
            const InputSymbol& sym = Symbol(g->second);
            if (sym.section >= 0 && In(g->second.unit, sym.section).discarded && reported.insert(r.name).second)
                Error(r.where, msg::kLinkDiscarded, r.name.c_str(),
                      owner.sections[static_cast<std::size_t>(sym.section)].name.c_str(), owner.path.c_str());
        }
    if (!s_.entry.empty() && !UnitDefines(s_.entry) && !syms_.count(s_.entry)) {
        bool number = true;
        for (char ch : s_.entry) number = number && ((ch >= '0' && ch <= '9') || ch == 'x' || ch == 'X');
        if (!number) Warn(s_.entryWhere, msg::kLinkNoEntry, s_.entry.c_str());
    }
    // ld's lang_check_section_addresses: loaded bytes may not share load
    // addresses, allocated sections may not share addresses.
    for (const bool byLma : {true, false}) {
        std::vector<int> list;
        for (int k : order_) {
            const Out& o = OutAt(k);
            if (o.ignored || o.size == 0 || !(o.flags & kAllocFlag)) continue;
            if (byLma && !((o.flags & kLoadFlag) && (o.flags & kContentsFlag))) continue;
            // The V810's addresses are 32 bits: a section may not run past them.
            if ((byLma ? o.lma : o.vma) + o.size > (std::uint64_t{1} << 32))
                Error(St(o.stmt).where, msg::kLinkWraps, St(o.stmt).name.c_str(), byLma ? "LMA" : "VMA");
            list.push_back(k);
        }
        auto at = [&](int k) { return byLma ? OutAt(k).lma : OutAt(k).vma; };
        std::stable_sort(list.begin(), list.end(), [&](int a, int b) { return at(a) < at(b); });
        for (std::size_t i = 1; i < list.size(); ++i) {
            const Out& p = OutAt(list[i - 1]);
            const Out& s = OutAt(list[i]);
            const std::uint64_t pStart = at(list[i - 1]), pEnd = pStart + p.size - 1;
            const std::uint64_t sStart = at(list[i]), sEnd = sStart + s.size - 1;
            if (sStart <= pEnd)
                Error(St(s.stmt).where, msg::kLinkOverlap, St(s.stmt).name.c_str(), byLma ? "LMA" : "VMA",
                      static_cast<unsigned long long>(sStart), static_cast<unsigned long long>(sEnd),
                      St(p.stmt).name.c_str(), byLma ? "LMA" : "VMA", static_cast<unsigned long long>(pStart),
                      static_cast<unsigned long long>(pEnd));
        }
    }
}

void Linker::Publish(Layout& layout) const {
    std::vector<int> index(outs_.size(), -1);
    for (int k : order_) {
        const Out& o = OutAt(k);
        if (o.ignored) continue;
        const Statement& st = St(o.stmt);
        OutputSection os;
        os.name = st.name;
        os.vma = o.vma;
        os.lma = o.lma;
        os.size = o.size;
        os.align = o.align;
        os.alloc = (o.flags & kAllocFlag) != 0;
        os.contents = (o.flags & kContentsFlag) != 0;
        os.load = os.alloc && os.contents && (o.flags & kLoadFlag);
        os.pieces = o.pieces;
        os.fills = o.fills;
        os.data = o.data;
        os.where = st.where;
        index[static_cast<std::size_t>(k)] = static_cast<int>(layout.sections.size());
        layout.sections.push_back(std::move(os));
    }
    layout.inputs.resize(units_.size());
    for (std::size_t u = 0; u < units_.size(); ++u) {
        layout.inputs[u].resize(units_[u].sections.size());
        for (std::size_t i = 0; i < units_[u].sections.size(); ++i) {
            const InState& in = in_[u][i];
            PlacedInput& p = layout.inputs[u][i];
            p.discarded = in.discarded;
            if (in.out < 0) continue;
            const Out& o = OutAt(in.out);
            p.output = index[static_cast<std::size_t>(in.out)];
            p.vma = o.vma + in.off;
            p.lma = o.lma + in.off;
        }
    }
    layout.names.reserve(globals_.size() + syms_.size());
    for (const auto& [name, def] : globals_) {
        const Value v = UnitValue(def.unit, def.sym);
        layout.names[name] = static_cast<std::int64_t>(Abs(v));
    }
    for (const Unit& unit : units_)
        for (const Reference& r : unit.undefined)
            if (r.weak) layout.names.try_emplace(r.name, 0);
    for (const auto& [name, sym] : syms_) {
        if (sym.pass != pass_) continue;
        layout.names[name] = static_cast<std::int64_t>(Abs(sym.val));
        layout.scriptNames.push_back(name);
    }
    std::sort(layout.scriptNames.begin(), layout.scriptNames.end());
    layout.files = s_.files;
    layout.entry = s_.entry;
    layout.output = s_.output;
}

bool Linker::Run(Layout& layout) {
    if (!ReadScripts()) return false;
    // A name defined twice keeps its first definition, and the link goes on
    // to find what else is wrong, as ld does; a section that cannot be
    // mapped leaves nothing to place.
    ResolveNames();
    const int named = errors_;
    MapSections();
    if (errors_ > named) return false;
    // Until addresses settle: forward references read the last pass's values.
    std::vector<std::uint64_t> before, after;
    bool settled = false;
    Snapshot(after);
    for (int n = 0; n < kMaxPasses && !settled; ++n) {
        before.swap(after);
        Pass(false);
        Snapshot(after);
        settled = n > 0 && before == after;
    }
    if (!settled) Error(Place{}, msg::kLinkNotSettled, kMaxPasses);
    Pass(true);
    CheckEnd();
    Publish(layout);
    return errors_ == 0;
}

}  // namespace

bool Link(const std::vector<Unit>& units, const Options& options, Layout& layout, std::vector<Diagnostic>& diags) {
    layout = Layout{};
    Linker linker(units, options, diags);
    return linker.Run(layout);
}

}  // namespace tarvo::link
