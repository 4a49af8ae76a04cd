// Shell safety: every request is a command line run by the shell, so no
// byte of an argument, a data file, the allow-list, standard input or the
// working directory's name may ever reach it. Each row feeds hostile text
// with shell metacharacters ($(...), `...`, ;, |, &, quotes, newlines)
// through one of those ways and checks that
// - the tool received exactly the requests of a normal run, each made of
//   "raw" and the numbers the program formats itself;
// - no command hidden in the text ran: each would create a file named
//   PWN<letter> in the working directory, and there is none.
// The file names use no hexadecimal letters, so that the keyboard entry,
// which keeps hexadecimal digits only, sees exactly the MAC around them.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "station.h"

namespace {

const std::string kMac1 = "02AB3C5601A1";
const std::string kMac2 = "02AB3C5601A2";
const std::string kPassBoth = "P\neth0:" + kMac1 + "\neth1:" + kMac2 + "\n";

// The requests of a passing run for both ports, both MACs different from
// the BMC's, and the pauses between them.
const std::vector<std::string> kBothPortsJournal = {
    "raw 0x06 0x01",
    "raw 0x3a 0xa1 0x00", "sleep 1", "raw 0x3a 0xa1 0x01",
    "raw 0x3a 0xa0 0x02 2 171 60 86 1 161 2 171 60 86 1 162",
    "sleep 1", "raw 0x06 0x01", "raw 0x06 0x01",
    "sleep 1", "raw 0x3a 0xa1 0", "raw 0x3a 0xa1 1",
    "raw 0x3a 0xa1 0x00", "raw 0x3a 0xa1 0", "raw 0x3a 0xa1 1",
};

// The offset mode writing eth1 := 02AB3C5601A1 + 1.
const std::vector<std::string> kOffsetJournal = {
    "raw 0x3a 0xa1 0x00", "sleep 1",
    "raw 0x3a 0xa0 0x01 2 171 60 86 1 162",
    "sleep 1", "raw 0x3a 0xa1 0x01", "sleep 1",
};

// A request as the program builds it: "raw", then bytes written as 0x and
// two hexadecimal digits, or as a decimal number 0..255.
bool IsOwnRequest(const std::string &line)
{
    static const std::regex own("raw( (0x[0-9a-f]{2}|25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9]))+");
    return std::regex_match(line, own);
}

// Files that an injected command created anywhere below dir.
void FindInjected(const std::string &dir, std::vector<std::string> *found)
{
    DIR *d = opendir(dir.c_str());
    if (d == nullptr)
        return;
    for (struct dirent *e = readdir(d); e != nullptr; e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        std::string path = dir + "/" + name;
        if (name.size() == 4 && name.rfind("PWN", 0) == 0)
            found->push_back(path);
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            FindInjected(path, found);
    }
    closedir(d);
}

void ExpectNothingInjected(const Station &s, const std::vector<std::string> &journal,
                           const std::vector<std::string> &expected)
{
    EXPECT_EQ(journal, expected);
    for (const auto &line : journal) {
        if (line.rfind("sleep ", 0) != 0) {
            EXPECT_TRUE(IsOwnRequest(line)) << line;
        }
    }
    std::vector<std::string> injected;
    FindInjected(s.dir(), &injected);
    EXPECT_TRUE(injected.empty()) << "an injected command ran: " << injected[0];
}

struct Row {
    std::string name;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> files;
    std::string stdin_data;
    std::string scenario;
    std::vector<std::string> journal;
};

void PrintTo(const Row &r, std::ostream *os) { *os << r.name; }

std::vector<Row> Rows()
{
    const std::string zeros = "mac eth0 000000000000\nmac eth1 000000000000\n";
    return {
        {"Arguments",
         {"1=" + kMac1 + "$(>PWNG)", "2=" + kMac2 + "`>PWNH`", ";>PWNI", "|>PWNJ", "&>PWNK",
          "'>PWNL'", "\">PWNM\"", "\n>PWNO\n", "reboot;>PWNQ", "x $(>PWNR) `>PWNS`"},
         {}, "", zeros, kBothPortsJournal},
        {"OffsetArgument", {"U=1;>PWNG$(>PWNH)`>PWNI`|>PWNJ&>PWNK\n>PWNL"}, {}, "",
         "mac eth0 " + kMac1 + "\n", kOffsetJournal},
        {"DataFiles",
         {"1", "2", "T"},
         {{"TALVEK1.DAT", kMac1 + "$(>PWNG)`>PWNH`;>PWNI\n"},
          {"TALVEK2.DAT", kMac2 + "|>PWNJ&>PWNK\n'>PWNL'\"$(>PWNM)\"\n"}},
         "", zeros, kBothPortsJournal},
        {"AllowList",
         {"1=" + kMac1, "2=" + kMac2},
         {{"TALVEK.ini", "AVL_MASK=FFFFFF000000 AVL_VALUE=02AB3C000000 $(>PWNG) `>PWNH`;>PWNI|>PWNJ&>PWNK'\"\n"
                         "$(>PWNL)\n;`>PWNM`\n\">PWNO\" AVL_MASK=$(>PWNQ) AVL_VALUE=`>PWNR`\n"}},
         "", zeros, kBothPortsJournal},
        {"KeyboardInput",
         {"1", "2"},
         {},
         "0$(>PWNG)2" "`>PWNH`AB" ";>PWNI3C" "|>PWNJ56" "&>PWNK01" "'>PWNL'A1\n"
         "\"02AB3C5601A2\"$(>PWNM)\n",
         zeros, kBothPortsJournal},
    };
}

class ShellSafety : public ::testing::TestWithParam<Row> {};

TEST_P(ShellSafety, OnlyOwnNumbersReachTheTool)
{
    const Row &row = GetParam();
    Station s;
    s.scenario(row.scenario);
    for (const auto &f : row.files)
        s.write(f.first, f.second);
    RunResult r = s.run(row.args, row.stdin_data);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(s.read("TALVEK.txt"), kPassBoth);
    ExpectNothingInjected(s, s.journal(), row.journal);
}

std::string RowName(const ::testing::TestParamInfo<Row> &info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Rows, ShellSafety, ::testing::ValuesIn(Rows()), RowName);

// The working directory's name never reaches the command line either: the
// tool is run as "./kovripmi" relative to it.
TEST(ShellSafetyDirectory, HostileWorkingDirectoryName)
{
    Station s;
    const std::string name = "st $(>PWNG) `>PWNH`;>PWNI|>PWNJ&>PWNK'\"\n>PWNL";
    const std::string dir = s.path(name);
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    ASSERT_EQ(symlink(SimBinary().c_str(), (dir + "/kovripmi").c_str()), 0);
    s.write(name + "/TALVEK.ini", kAllowAllIni);
    s.write(name + "/kovripmi.scenario", "mac eth0 000000000000\nmac eth1 000000000000\n");
    const std::string journal = dir + "/kovripmi.journal";

    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        int in = open("/dev/null", O_RDONLY);
        int out = open(s.path("out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        setenv("LD_PRELOAD", SleepShim().c_str(), 1);
        setenv("TALVEK_TEST_JOURNAL", journal.c_str(), 1);
        setenv("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0", 1);
        std::string bin = TalvekBinary();
        std::string a1 = "1=" + kMac1, a2 = "2=" + kMac2;
        char *argv[] = {&bin[0], &a1[0], &a2[0], nullptr};
        execv(bin.c_str(), argv);
        _exit(127);
    }
    int st = 0;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 0) << s.read("out.txt");
    EXPECT_EQ(s.read(name + "/TALVEK.txt"), kPassBoth);

    std::vector<std::string> lines;
    std::string text = s.read(name + "/kovripmi.journal");
    for (size_t at = 0; at < text.size();) {
        size_t nl = text.find('\n', at);
        lines.push_back(text.substr(at, nl - at));
        at = nl == std::string::npos ? text.size() : nl + 1;
    }
    ExpectNothingInjected(s, lines, kBothPortsJournal);
}

}  // namespace
