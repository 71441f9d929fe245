// Runs the built tarvo binary in a scratch directory.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace tarvo::test {

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    void Write(const std::string& name, const std::string& bytes) const;
    std::string Read(const std::string& name) const;
    bool Exists(const std::string& name) const { return std::filesystem::exists(path_ / name); }

private:
    std::filesystem::path path_;
};

struct ToolResult {
    std::string out;  // standard output
    std::string err;  // standard error
    int status = -1;  // exit status, or -1 when the process did not exit normally
};

// Runs tarvo with args in dir. Standard output goes to a pipe, or to the
// file stdoutPath when given (relative to dir); standard error is kept apart.
// The environment variable TARVO_WRAPPER, when set, is put before the binary.
ToolResult RunTool(const std::filesystem::path& dir, const std::vector<std::string>& args,
                   const std::string& stdoutPath = "");

std::string ReadFile(const std::filesystem::path& path);

// The folders of a test tree (vectors, projects), by name.
std::vector<std::string> FolderNames(const std::filesystem::path& root);
// A test folder's files copied into scratch, and the words of its args file.
std::vector<std::string> Stage(const std::filesystem::path& dir, const ScratchDir& scratch);

// Checks each byte a GNU syntax listing shows against the image, at the
// place its section is loaded (the "; sections" lines give each section's
// load address where it differs, and say which hold no bytes of the
// image). Returns the first line whose bytes differ, empty when all agree;
// checked counts the bytes compared.
std::string ListingMismatch(const std::string& listing, const std::string& image, int& checked);
std::string HexToBytes(const std::string& hex);

inline const std::string kBanner = "V810 Assembler 0.55\n";
inline const std::string kUsage =
    "Usage:    tarvo [src file] [options]\n\n"
    "Options:  -o <file>        Set output file\n"
    "          -s               Obj in stdout\n"
    "          -d <Adr> <bytes> Dissasm start <Adr> and <bytes>\n";

inline const std::string kClean = "Pass: 1 (OBJ file created)\nPass: 2 (No errors)\n";
// After the report of a run with errors, outside the classic language.
inline const std::string kRemoved = "Object file removed.\n";

// The closing report of an assembly run.
inline std::string Report(const std::string& src, int errors, long bytes) {
    return "Assembled:\t" + src + "\n# Errors:\t" + std::to_string(errors) + "\n# Bytes:\t" +
           std::to_string(bytes) + "\n";
}

}  // namespace tarvo::test
