// The Python module tarvo: libtarvo's assembler and disassembler for
// scripts (an emulator's debugger, a translation's build).
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <map>
#include <string>

#include "tarvo/tarvo.h"

namespace py = pybind11;

namespace tarvo {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

std::string Str(const py::handle& value) {
    if (py::isinstance<py::bytes>(value)) return value.cast<std::string>();
    if (py::isinstance<py::str>(value)) return value.cast<std::string>();
    if (py::isinstance<py::bool_>(value)) return value.cast<bool>() ? "1" : "0";
    if (py::isinstance<py::int_>(value)) return py::str(value).cast<std::string>();
    throw py::type_error("expected a str, bytes or int, not " + py::str(py::type::of(value)).cast<std::string>());
}

// NAME=VALUE options: a dict, pairs, "NAME=VALUE" strings, or one string.
Pairs ReadPairs(const char* option, const py::handle& value) {
    Pairs out;
    auto split = [&](const std::string& text) {
        const std::size_t eq = text.find('=');
        if (eq == std::string::npos || eq == 0)
            throw py::value_error(std::string(option) + ": expected NAME=VALUE, not " + text);
        out.emplace_back(text.substr(0, eq), text.substr(eq + 1));
    };
    if (py::isinstance<py::dict>(value)) {
        for (const auto& [k, v] : value.cast<py::dict>()) out.emplace_back(Str(k), Str(v));
    } else if (py::isinstance<py::str>(value)) {
        split(value.cast<std::string>());
    } else {
        for (const py::handle item : value) {
            if (py::isinstance<py::str>(item)) {
                split(item.cast<std::string>());
            } else {
                const py::sequence pair = item.cast<py::sequence>();
                if (pair.size() != 2) throw py::value_error(std::string(option) + ": expected (NAME, VALUE) pairs");
                out.emplace_back(Str(pair[0]), Str(pair[1]));
            }
        }
    }
    return out;
}

std::vector<std::string> ReadList(const py::handle& value) {
    if (py::isinstance<py::str>(value)) return {value.cast<std::string>()};
    std::vector<std::string> out;
    for (const py::handle item : value) out.push_back(Str(item));
    return out;
}

Syntax ReadSyntax(const std::string& syntax) {
    if (syntax == "default" || syntax == "tarvo") return Syntax::kDefault;
    if (syntax == "gnu") return Syntax::kGnu;
    throw py::value_error("syntax is \"default\" or \"gnu\", not \"" + syntax + "\"");
}

// The keywords of assemble(), named as the long options of the program.
void ReadOption(AssembleOptions& o, const std::string& key, const py::handle& value) {
    if (key == "strict") o.strict = value.cast<bool>();
    else if (key == "classic") o.classic = value.cast<bool>();
    else if (key == "nec_encoding") o.necEncoding = value.cast<bool>();
    else if (key == "keep_object") o.keepObject = value.cast<bool>();
    else if (key == "quiet") o.quiet = value.cast<bool>();
    else if (key == "include_dirs") o.includeDirs = ReadList(value);
    else if (key == "defines") o.defines = ReadPairs("defines", value);
    else if (key == "defsym") o.defsyms = ReadPairs("defsym", value);
    else if (key == "section_start") o.sectionStarts = ReadPairs("section_start", value);
    else if (key == "more_sources") o.moreSources = ReadList(value);
    else if (key == "script") o.script = Str(value);
    else if (key == "link") o.link = value.cast<bool>();
    else if (key == "gap_fill") {
        if (!value.is_none()) {
            const int fill = value.cast<int>();
            if (fill < 0 || fill > 255) throw py::value_error("gap_fill is a byte, 0 to 255");
            o.gapFill = static_cast<std::uint8_t>(fill);
        }
    } else if (key == "patch") o.patch = Str(value);
    else if (key == "listing") o.listing = value.cast<bool>();
    else if (key == "symbols") o.symbols = value.cast<bool>();
    else if (key == "deps") o.deps = value.cast<bool>();
    else if (key == "deps_target") o.depsTarget = Str(value);
    else throw py::type_error("assemble() got an unexpected keyword argument '" + key + "'");
}

AssembleResult PyAssemble(const py::object& text, const std::string& syntax, const py::object& files,
                          const std::string& path, const py::kwargs& options) {
    AssembleOptions o;
    o.syntax = ReadSyntax(syntax);
    for (const auto& [key, value] : options) ReadOption(o, key.cast<std::string>(), value);
    const std::string source = Str(text);
    FileReader read;
    std::map<std::string, std::string> table;
    py::object failure;  // an exception of the callback, raised after the run
    if (py::isinstance<py::dict>(files)) {
        for (const auto& [k, v] : files.cast<py::dict>()) table.emplace(Str(k), Str(v));
        read = [&table](const std::string& name) -> std::optional<std::string> {
            auto it = table.find(name);
            if (it == table.end() && name.compare(0, 2, "./") == 0) it = table.find(name.substr(2));
            if (it == table.end()) return std::nullopt;
            return it->second;
        };
    } else if (!files.is_none()) {
        if (!PyCallable_Check(files.ptr())) throw py::type_error("files is a dict or a callable");
        read = [&files, &failure](const std::string& name) -> std::optional<std::string> {
            py::gil_scoped_acquire gil;
            if (failure) return std::nullopt;
            try {
                const py::object got = files(name);
                if (got.is_none()) return std::nullopt;
                return Str(got);
            } catch (py::error_already_set& e) {
                failure = py::reinterpret_borrow<py::object>(e.value());
            } catch (const std::exception& e) {
                failure = py::reinterpret_steal<py::object>(PyObject_CallFunction(PyExc_TypeError, "s", e.what()));
            }
            return std::nullopt;
        };
    }
    AssembleResult result;
    {
        py::gil_scoped_release release;
        result = Assemble(source, path, o, read);
    }
    if (failure) {
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(failure.ptr())), failure.ptr());
        throw py::error_already_set();
    }
    return result;
}

std::vector<Instruction> PyDisassemble(const py::buffer& data, std::uint32_t address, const std::string& syntax) {
    Form form;
    if (syntax == "default" || syntax == "tarvo") form = Form::kSource;
    else if (syntax == "gnu") form = Form::kGnu;
    else if (syntax == "listing") form = Form::kListing;
    else throw py::value_error("syntax is \"default\", \"gnu\" or \"listing\", not \"" + syntax + "\"");
    const py::buffer_info info = data.request();
    if (info.ndim != 1 || info.itemsize != 1 || (info.size > 1 && info.strides[0] != 1))
        throw py::type_error("data is a contiguous buffer of bytes");
    const std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t*>(info.ptr),
                                              static_cast<std::size_t>(info.size));
    py::gil_scoped_release release;
    return Disassemble(bytes, address, form);
}



py::object Column(int column) { return column < 0 ? py::none() : py::object(py::int_(column)); }

py::bytes Bytes(const std::vector<std::uint8_t>& v) {
    return py::bytes(reinterpret_cast<const char*>(v.data()), v.size());
}

}  // namespace
}  // namespace tarvo

PYBIND11_MODULE(tarvo, m) {
    using namespace tarvo;
    m.doc() = "The NEC V810 assembler and disassembler tarvo: assemble(text, ...) and disassemble(data, ...).";
    m.attr("__version__") = std::string(Version());

    py::class_<Place>(m, "Place", "A place in a source: line from 1, column from 0 (None: the whole line).")
        .def_readonly("file", &Place::file)
        .def_readonly("line", &Place::line)
        .def_property_readonly("column", [](const Place& p) { return Column(p.column); })
        .def_property_readonly("column_end", [](const Place& p) { return Column(p.columnEnd); })
        .def("__repr__", [](const Place& p) { return "<Place " + p.file + ":" + std::to_string(p.line) + ">"; });

    py::class_<Message>(m, "Message")
        .def_property_readonly("severity", [](const Message& x) { return std::string(Word(x.severity)); })
        .def_readonly("text", &Message::text)
        .def_property_readonly("file", [](const Message& x) { return x.place.file; })
        .def_property_readonly("line", [](const Message& x) { return x.place.line; })
        .def_property_readonly("column", [](const Message& x) { return Column(x.place.column); })
        .def_property_readonly("column_end", [](const Message& x) { return Column(x.place.columnEnd); })
        .def_readonly("place", &Message::place)
        .def_readonly("top", &Message::top)
        .def_readonly("notes", &Message::notes)
        .def_readonly("printed", &Message::printed)
        .def("__repr__", [](const Message& x) {
            return "<Message " + x.place.file + ":" + std::to_string(x.place.line) + ": " + std::string(Word(x.severity)) +
                   ": " + x.text + ">";
        });

    py::class_<Name>(m, "Name")
        .def_readonly("name", &Name::name)
        .def_property_readonly("kind", [](const Name& n) { return std::string(Word(n.kind)); })
        .def_readonly("value", &Name::value)
        .def_readonly("text", &Name::text)
        .def_property_readonly("file", [](const Name& n) { return n.defined.file; })
        .def_property_readonly("line", [](const Name& n) { return n.defined.line; })
        .def_readonly("defined", &Name::defined)
        .def_readonly("uses", &Name::uses)
        .def("__repr__", [](const Name& n) {
            return "<Name " + std::string(Word(n.kind)) + " " + n.name + " = " + std::to_string(n.value) + ">";
        });

    py::class_<LineBytes>(m, "Line", "What one source line put in the image.")
        .def_readonly("file", &LineBytes::file)
        .def_readonly("line", &LineBytes::line)
        .def_readonly("address", &LineBytes::address)
        .def_property_readonly("bytes", [](const LineBytes& l) { return Bytes(l.bytes); });

    py::class_<AssembleResult>(m, "Result", "What assemble() made: the image, its messages and names.")
        .def_property_readonly("image", [](const AssembleResult& r) { return Bytes(r.image); })
        .def_readonly("base", &AssembleResult::base)
        .def_readonly("errors", &AssembleResult::errors)
        .def_property_readonly("ok", &AssembleResult::ok)
        .def_readonly("messages", &AssembleResult::messages)
        .def_readonly("names", &AssembleResult::names)
        .def_readonly("lines", &AssembleResult::lines)
        .def_readonly("files", &AssembleResult::files)
        .def_readonly("output", &AssembleResult::output)
        .def_readonly("listing", &AssembleResult::listing)
        .def_readonly("symbols", &AssembleResult::symbolFile)
        .def_readonly("deps", &AssembleResult::depsFile)
        .def("__repr__", [](const AssembleResult& r) {
            return "<Result " + std::to_string(r.image.size()) + " bytes, " + std::to_string(r.errors) + " errors>";
        });

    py::class_<Instruction>(m, "Instruction")
        .def_readonly("address", &Instruction::address)
        .def_readonly("size", &Instruction::size)
        .def_property_readonly("bytes", [](const Instruction& i) { return Bytes(i.bytes); })
        .def_readonly("mnemonic", &Instruction::mnemonic)
        .def_readonly("operands", &Instruction::operands)
        .def_readonly("text", &Instruction::text)
        .def("__repr__", [](const Instruction& i) {
            char address[16];
            std::snprintf(address, sizeof address, "%08X", static_cast<unsigned>(i.address));
            return "<Instruction " + std::string(address) + " " + i.text + ">";
        });

    m.def("assemble", &PyAssemble, py::arg("text"), py::arg("syntax") = "default", py::arg("files") = py::none(),
          py::arg("path") = "input.s",
          "Assembles text (str or bytes) as the source named path. syntax: \"default\" or \"gnu\". files: a dict\n"
          "of name to bytes or str, or a callable taking a name and returning bytes or None; without it files\n"
          "are read from the disk. Options as keywords named as the long options: strict, classic, nec_encoding,\n"
          "keep_object, quiet, include_dirs, defines, defsym, section_start, more_sources, script, link,\n"
          "gap_fill, patch, listing, symbols, deps, deps_target.");
    m.def("disassemble", &PyDisassemble, py::arg("data"), py::arg("address") = 0x07000000,
          py::arg("syntax") = "default",
          "Decodes data (bytes-like) as instructions, the first at address. syntax: \"default\" (assembles\n"
          "back), \"listing\" (the classic listing's form) or \"gnu\".");
}
