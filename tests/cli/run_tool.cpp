#include "run_tool.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace tarvo::test
