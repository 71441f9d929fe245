// Link mode: each source a unit, as GNU as makes an object file of it; the
// linking room places the units; each unit then writes its bytes where the
// link put it, and the image is what objcopy -O binary makes of them.
#include <algorithm>

#include "gnu/gnu_assembler.h"
#include "gnu/gnu_core.h"
#include "messages.h"

namespace tarvo::gnu {

void Assembler::AssembleUnit(std::string text, const std::string& path, const Defines& defines) {
    Read(std::move(text), path, defines);
    Relax();
    ReportLate();
}

void Assembler::Export(link::Unit& unit) {
    unit.path = path_;
    // The order of GNU as' object file: .text, .data and .bss, then the
    // others as they appear; a linker takes the sections of one file in it.
    auto rank = [this](std::size_t i) {
        const std::string& name = sections_[i].name;
        return name == ".text" ? 0 : name == ".data" ? 1 : name == ".bss" ? 2 : 3 + sections_[i].appeared;
    };
    exported_.clear();
    for (std::size_t i = 0; i < sections_.size(); ++i)
        if (sections_[i].appeared >= 0) exported_.push_back(i);
    std::stable_sort(exported_.begin(), exported_.end(), [&](std::size_t a, std::size_t b) { return rank(a) < rank(b); });
    std::vector<int> indexOf(sections_.size(), -1);
    for (std::size_t k = 0; k < exported_.size(); ++k) {
        const Section& s = sections_[exported_[k]];
        indexOf[exported_[k]] = static_cast<int>(k);
        unit.sections.push_back({s.name, static_cast<std::uint64_t>(s.size), static_cast<std::uint64_t>(s.align),
                                 s.alloc, !s.nobits, s.write, s.exec});
    }
    auto place = [this](const Loc& l) { return link::Place{names_[l.file], l.line}; };
    for (const Sym& s : syms_) {
        if (s.bind == link::InputSymbol::kLocal || s.alias >= 0) continue;
        if (s.lastDefined) {
            const int sec = s.last.sec < 0 ? -1 : indexOf[static_cast<std::size_t>(s.last.sec)];
            unit.symbols.push_back({s.name, sec, s.last.v, s.bind, place(s.at)});
        } else if (s.bind == link::InputSymbol::kWeak && refIndex_.count(s.name) == 0) {
            // Declared weak and never defined: 0 unless another unit defines it.
            unit.undefined.push_back({s.name, place(s.at), true});
        }
    }
    for (const auto& [name, loc] : refs_) {
        const int i = symIndex_.Find(name, syms_);
        const Sym* s = i >= 0 ? &syms_[static_cast<std::size_t>(i)] : nullptr;
        // A name the unit sets from one the link gives is the unit's.
        if (s != nullptr && s->assigned) continue;
        unit.undefined.push_back({name, place(loc), s != nullptr && s->bind == link::InputSymbol::kWeak});
    }
}

void Assembler::Finalize(const link::Layout& layout, std::size_t unit) {
    const std::vector<link::PlacedInput>& placed = layout.inputs[unit];
    for (std::size_t k = 0; k < exported_.size() && k < placed.size(); ++k) {
        Section& s = sections_[exported_[k]];
        s.start = static_cast<std::int64_t>(placed[k].vma);
        s.dropped = placed[k].discarded;
    }
    for (Sym& s : syms_) {
        const int sec = s.defined ? s.val.sec : s.lastDefined ? s.last.sec : -1;
        if (sec >= 0 && sections_[static_cast<std::size_t>(sec)].dropped) s.dropped = sec;
    }
    // The names the link gives are values in a section of their own, at 0:
    // an item that reads one is the link's to judge.
    const int linkedSection = static_cast<int>(sections_.size());
    sections_.emplace_back("");
    sections_.back().alloc = false;
    sections_.back().start = 0;
    const auto spare = static_cast<std::uint32_t>(SymIndex("\x02"));
    // A name read only in expressions has no symbol yet.
    for (const auto& [name, loc] : refs_) SymIndex(name);
    std::vector<std::uint32_t> overridden;
    for (std::size_t i = 0; i < syms_.size(); ++i) {
        Sym& s = syms_[i];
        // The unit's own names stay, but for a weak one another unit may
        // override; a name it sets is set again below.
        if (s.alias >= 0 || s.assigned || (s.lastDefined && s.bind != link::InputSymbol::kWeak)) continue;
        const auto it = layout.names.find(s.name);
        if (it == layout.names.end()) continue;
        if (s.lastDefined) {
            if (Address(s.last.sec, s.last.v) == it->second) continue;
            overridden.push_back(static_cast<std::uint32_t>(i));
        }
        s.val = {it->second, linkedSection};
        s.linked = true;
    }
    // The overridden definition's statements define nothing now.
    if (!overridden.empty())
        for (Item& it : items_)
            if ((it.kind == IK::kLabel || it.kind == IK::kSet) &&
                std::find(overridden.begin(), overridden.end(), it.a) != overridden.end())
                it.a = spare;

    // The items the link decides are written again where they stand, with
    // the names at the values they had there; sizes stay as the unit
    // settled them (no branch grows now, as none does once GNU as has
    // written its object).
    linked_ = true;
    final_ = true;
    walk_ = 0;
    for (Sym& s : syms_) s.defined = s.defined || s.linked;
    off_.resize(sections_.size(), 0);
    region_.resize(sections_.size(), 0);
    late_.clear();
    for (const Replay& r : replay_) {
        cur_ = r.section;
        off_[cur_] = r.offset;
        linkUse_ = false;
        Step(r.item);
    }
    ReportLate();
}

std::span<const std::uint8_t> Assembler::Bytes(std::size_t k) const { return sections_[exported_[k]].bytes; }

namespace {

// A source or a script, read as any input of the run is.
bool ReadInput(Context& ctx, const std::string& path, std::string& text) {
    const FilePtr f(OpenInput(ctx, path));
    if (!f) return false;
    text = ReadRest(f.get());
    return !std::ferror(f.get());
}

void Present(Context& ctx, const std::vector<link::Diagnostic>& diags) {
    for (const link::Diagnostic& d : diags)
        ReportGnu(ctx, d.error ? Severity::kError : Severity::kWarning, d.where.file.empty() ? nullptr : d.where.file.c_str(),
                  d.where.line, "%s", d.text.c_str());
}

// The listing's account of the link: each output section and the image.
void ListLayout(std::FILE* listing, const link::Layout& layout, const link::Image& image) {
    std::fprintf(listing, "; sections\n");
    for (const link::OutputSection& s : layout.sections) {
        char kind[32];
        if (!s.alloc) std::snprintf(kind, sizeof kind, "not loaded");
        else if (!s.load) std::snprintf(kind, sizeof kind, "no bytes");
        else if (s.lma == s.vma) std::snprintf(kind, sizeof kind, "loaded");
        else std::snprintf(kind, sizeof kind, "loaded at %08llx", static_cast<unsigned long long>(s.lma));
        std::fprintf(listing, "; %-20s %08llx %8llx %s\n", s.name.c_str(), static_cast<unsigned long long>(s.vma),
                     static_cast<unsigned long long>(s.size), kind);
    }
    std::fprintf(listing, "; image %08llx, %zu bytes\n", static_cast<unsigned long long>(image.start),
                 image.bytes.size());
}

}  // namespace

void AssembleProject(Context& ctx, const std::vector<std::string>& sources, const Defines& defines,
                     const LinkOptions& options, Image& image, std::FILE* listing) {
    std::vector<std::unique_ptr<Assembler>> units;
    for (const std::string& path : sources) {
        ctx.files.push_back(path);
        std::string text;
        if (!ReadInput(ctx, path, text)) {
            ReportGnu(ctx, Severity::kError, nullptr, 0, msg::kGnuCannotOpen, path.c_str());
            continue;
        }
        units.push_back(std::make_unique<Assembler>(ctx, listing, true));
        units.back()->KeepLines(image.record);
        units.back()->AssembleUnit(std::move(text), path, defines);
    }
    if (!options.script.empty()) ctx.files.push_back(options.script);
    // As make runs ld only after every object is made.
    if (ctx.nErrors > 0) {
        if (image.record)
            for (auto& unit : units) unit->Record(image);
        return;
    }

    std::vector<link::Unit> exported(units.size());
    for (std::size_t u = 0; u < units.size(); ++u) units[u]->Export(exported[u]);
    link::Options how;
    how.script = !options.script.empty();
    how.scriptPath = options.script;
    how.defsyms = options.defsyms;
    how.sectionStarts = options.sectionStarts;
    how.readFile = [&ctx](const std::string& path, std::string& text) { return ReadInput(ctx, path, text); };
    link::Layout layout;
    std::vector<link::Diagnostic> diags;
    const bool linked = link::Link(exported, how, layout, diags);
    for (const std::string& f : layout.files) ctx.files.push_back(f);
    Present(ctx, diags);
    if (!linked || ctx.nErrors > 0) return;

    // From here the outputs tell what the link placed, errors or not.
    for (std::size_t u = 0; u < units.size(); ++u) units[u]->Finalize(layout, u);
    link::Image flat;
    diags.clear();
    link::MakeImage(
        layout, [&units](int u, int k) { return units[static_cast<std::size_t>(u)]->Bytes(static_cast<std::size_t>(k)); },
        options.gapFill, flat, diags);
    Present(ctx, diags);

    // The symbol file: every unit's labels, then the names the script and
    // --defsym set, in the order of their names.
    for (auto& unit : units) {
        unit->Labels(image.labels);
        if (image.record) unit->Record(image);
    }
    for (const std::string& name : layout.scriptNames)
        image.labels.emplace_back(static_cast<std::uint32_t>(layout.names.at(name)), name);

    if (listing != nullptr) {
        for (std::size_t u = 0; u < units.size(); ++u) {
            std::fprintf(listing, "; %s\n", sources[u].c_str());
            units[u]->ListStatements();
        }
        ListLayout(listing, layout, flat);
    }
    image.start = static_cast<std::uint32_t>(flat.start);
    image.bytes = std::move(flat.bytes);
}

}  // namespace tarvo::gnu
