#include "run_tool.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tarvo::test {

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvo-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void ScratchDir::Write(const std::string& name, const std::string& bytes) const {
    std::filesystem::create_directories((path_ / name).parent_path());
    std::ofstream(path_ / name, std::ios::binary) << bytes;
}

std::string ScratchDir::Read(const std::string& name) const { return ReadFile(path_ / name); }

std::vector<std::string> FolderNames(const std::filesystem::path& root) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(root))
        if (entry.is_directory()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> Stage(const std::filesystem::path& dir, const ScratchDir& scratch) {
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.is_regular_file()) scratch.Write(entry.path().filename().string(), ReadFile(entry.path()));
    std::vector<std::string> args;
    std::istringstream in(ReadFile(dir / "args"));
    for (std::string a; in >> a;) args.push_back(a);
    return args;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string HexToBytes(const std::string& hex) {
    std::istringstream in(hex);
    std::string out, byte;
    while (in >> byte) {
        if (byte[0] == '#') {  // a comment runs to the end of its line
            std::getline(in, byte);
            continue;
        }
        // "FF*256" stands for 256 bytes FF.
        std::size_t star = byte.find('*');
        std::size_t count = star == std::string::npos ? 1 : std::stoul(byte.substr(star + 1));
        out.append(count, static_cast<char>(std::stoul(byte.substr(0, star), nullptr, 16)));
    }
    return out;
}

ToolResult RunTool(const std::filesystem::path& dir, const std::vector<std::string>& args,
                   const std::string& stdoutPath) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    // TARVO_WRAPPER runs the binary under a tool, e.g.
    // "valgrind --error-exitcode=99 -q": a finding then fails on the status.
    std::vector<std::string> argvStrings;
    if (const char* wrapper = std::getenv("TARVO_WRAPPER")) {
        std::istringstream words(wrapper);
        for (std::string w; words >> w;) argvStrings.push_back(w);
    }
    argvStrings.push_back(TARVO_BIN);
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argvStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    std::FILE* err = std::tmpfile();
    if (err == nullptr) throw std::runtime_error("tmpfile failed");
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        int out = fds[1];
        if (!stdoutPath.empty()) out = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(out, STDOUT_FILENO);
        int null = open("/dev/null", O_RDWR);
        dup2(fileno(err), STDERR_FILENO);
        dup2(null, STDIN_FILENO);
        close(fds[0]);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    ToolResult result;
    char buf[65536];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) result.out.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::rewind(err);
    while ((n = static_cast<ssize_t>(std::fread(buf, 1, sizeof buf, err))) > 0)
        result.err.append(buf, static_cast<std::size_t>(n));
    std::fclose(err);
    return result;
}

std::string ListingMismatch(const std::string& listing, const std::string& image, int& checked) {
    const std::size_t imageAt = listing.rfind("; image ");
    if (imageAt == std::string::npos) return "no image line";
    const std::uint64_t base = std::stoull(listing.substr(imageAt + 8, 8), nullptr, 16);
    struct Section {
        std::uint64_t vma, size, lma;
        bool loaded;
    };
    std::vector<Section> sections;
    std::istringstream lines(listing);
    std::vector<std::string> statements;
    bool inSections = false;
    for (std::string line; std::getline(lines, line);) {
        if (line == "; sections") inSections = true;
        if (line.empty() || line[0] != ';') {
            if (!line.empty()) statements.push_back(line);
            continue;
        }
        if (!inSections || line == "; sections" || line.starts_with("; image ")) continue;
        // "; NAME VMA SIZE KIND"
        std::istringstream words(line.substr(2));
        std::string name, vma, size, kind, at, lma;
        words >> name >> vma >> size >> kind >> at >> lma;
        const std::uint64_t v = std::stoull(vma, nullptr, 16);
        sections.push_back({v, std::stoull(size, nullptr, 16), at == "at" ? std::stoull(lma, nullptr, 16) : v,
                            kind == "loaded"});
    }
    for (const std::string& line : statements) {
        std::uint64_t address = std::stoull(line.substr(0, 8), nullptr, 16);
        for (const Section& s : sections) {
            if (address < s.vma || address >= s.vma + s.size) continue;
            if (!s.loaded) address = UINT64_MAX;
            else address = address - s.vma + s.lma;
            break;
        }
        std::istringstream bytes(line.substr(10, 23));
        for (std::string b; bytes >> b; ++address, ++checked) {
            if (address == UINT64_MAX) return line + " (a section that is not loaded shows bytes)";
            if (address < base || address - base >= image.size()) return line + " (outside the image)";
            if (static_cast<unsigned char>(image[address - base]) != std::stoul(b, nullptr, 16)) return line;
        }
    }
    return "";
}

}  // namespace tarvo::test
