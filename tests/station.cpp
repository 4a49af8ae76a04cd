#include "station.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

const char kVersionLine[] = "TALVEK V0.37\n";
const char kPassBanner[] =
    "\r\n"
    "\x1b[1;32m #######      ####      ######     ###### \r\n"
    " ########    ######    ########   ########\r\n"
    " ##    ##   ##    ##   ##     #   ##     #\r\n"
    " ##    ##   ##    ##    ###        ###    \r\n"
    " ########   ########     ####       ####  \r\n"
    " #######    ########       ###        ### \r\n"
    " ##         ##    ##   #     ##   #     ##\r\n"
    " ##         ##    ##   ########   ########\r\n"
    " ##         ##    ##    ######     ###### \r\n"
    "\x1b[0m\r\n";
const char kFailBanner[] =
    "\r\n"
    "\x1b[1;31m ########     ####        ###     ##      \r\n"
    " ########    ######       ###     ##      \r\n"
    " ##         ##    ##      ###     ##      \r\n"
    " ##         ##    ##      ###     ##      \r\n"
    " ########   ########      ###     ##      \r\n"
    " ########   ########      ###     ##      \r\n"
    " ##         ##    ##      ###     ##      \r\n"
    " ##         ##    ##      ###     ########\r\n"
    " ##         ##    ##      ###     ########\r\n"
    "\x1b[0m\r\n";
// Admits every MAC that begins 02-AB-3C.
const char kAllowAllIni[] = "AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000000\n";

std::string TalvekBinary() { return TALVEK_BIN; }
std::string SimBinary() { return SIM_BIN; }
std::string SleepShim() { return SLEEP_SHIM; }

Station::Station()
{
    char tmpl[] = "/tmp/talvek-station-XXXXXX";
    char *d = mkdtemp(tmpl);
    if (d == nullptr) {
        perror("mkdtemp");
        abort();
    }
    dir_ = d;
    if (symlink(SimBinary().c_str(), path("kovripmi").c_str()) != 0) {
        perror("symlink");
        abort();
    }
    write("TALVEK.ini", kAllowAllIni);
}

Station::~Station()
{
    // Make everything removable again (tests chmod files and directories).
    std::string cmd = "chmod -R u+rwx '" + dir_ + "' 2>/dev/null; rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0) {
        // Leave it; /tmp is cleaned eventually.
    }
}

void Station::write(const std::string &name, const std::string &content) const
{
    std::ofstream f(path(name), std::ios::binary | std::ios::trunc);
    f << content;
}

std::string Station::read(const std::string &name) const
{
    std::ifstream f(path(name), std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool Station::exists(const std::string &name) const
{
    struct stat st;
    return lstat(path(name).c_str(), &st) == 0;
}

void Station::remove(const std::string &name) const { unlink(path(name).c_str()); }

static std::string ReadAllFd(int fd)
{
    std::string s;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        s.append(buf, static_cast<size_t>(n));
    }
    return s;
}

RunResult Station::run(const std::vector<std::string> &args, const std::string &stdin_data) const
{
    write(".stdin", stdin_data);
    std::string errfile = path(".stderr");
    int outpipe[2];
    if (pipe(outpipe) != 0)
        abort();
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir_.c_str()) != 0)
            _exit(126);
        int in = open(".stdin", O_RDONLY);
        int err = open(errfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(outpipe[1], 1);
        dup2(err, 2);
        close(outpipe[0]);
        close(outpipe[1]);
        setenv("LD_PRELOAD", SleepShim().c_str(), 1);
        setenv("TALVEK_TEST_JOURNAL", path("kovripmi.journal").c_str(), 1);
        // Sanitizer builds: the shim is preloaded ahead of the runtime.
        setenv("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0", 1);
        std::vector<char *> argv;
        std::string bin = TalvekBinary();
        argv.push_back(const_cast<char *>(bin.c_str()));
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(bin.c_str(), argv.data());
        _exit(127);
    }
    close(outpipe[1]);
    RunResult r;
    r.out = ReadAllFd(outpipe[0]);
    close(outpipe[0]);
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    r.err = read(".stderr");
    return r;
}

std::vector<std::string> Station::journal() const
{
    std::vector<std::string> lines;
    std::istringstream in(read("kovripmi.journal"));
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Station::requests() const
{
    std::vector<std::string> out;
    for (const auto &l : journal()) {
        if (l.rfind("sleep ", 0) != 0)
            out.push_back(l);
    }
    return out;
}

int Station::sleeps() const
{
    int total = 0;
    for (const auto &l : journal()) {
        if (l.rfind("sleep ", 0) == 0)
            total += atoi(l.c_str() + 6);
    }
    return total;
}

int Station::count(const std::string &line) const
{
    int n = 0;
    for (const auto &l : journal())
        n += l == line;
    return n;
}
