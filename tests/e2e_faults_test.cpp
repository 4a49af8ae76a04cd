// Fault-injection matrix: the real TALVEK in a station where something is
// wrong — a broken or misbehaving tool, hostile files, odd arguments,
// modes, signals. The fixture holds every row to its invariants (no hang,
// no sanitizer report, no Fast Set MAC the allow-list did not admit, no
// temporary record left, no pass record without exit 0); the rows add what
// each fault must show. Standard input and terminal faults are in
// e2e_pty_test.cpp.
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "test.h"

namespace {

// A run that fails and leaves the failure record.
Row Fault(const std::string &name, std::vector<std::string> args = {kArg1, kArg2})
{
    return Row(name).Args(std::move(args)).Exit(1).Record(kFailRecord);
}

Row Passing(const std::string &name, std::vector<std::string> args = {kArg1, kArg2})
{
    return Row(name).Args(std::move(args)).Passes(kPassBoth);
}

// ./kovripmi as a script whose body runs before the simulated tool answers.
std::function<void(Station &)> Script(const std::string &body)
{
    return [body](Station &s) { s.script_tool(body); };
}

// Script fragment: true on the n-th request equal to `request` (counted in
// the script's own log).
std::string NthRequest(const std::string &request, int n)
{
    return "echo \"$*\" >> tool.log\n"
           "if [ \"$*\" = '" + request + "' ] && [ \"$(grep -cx '" + request + "' tool.log)\" -eq " +
           std::to_string(n) + " ]; then\n";
}

std::string Repeat(const std::string &piece, size_t times)
{
    std::string s;
    s.reserve(piece.size() * times);
    for (size_t i = 0; i < times; i++)
        s += piece;
    return s;
}

std::vector<Row> ToolRows()
{
    return {
        Fault("ToolMissing").Remove("kovripmi").Has("BMC Revision = ?.?.?\r\n")
            .Has("Fast Get Mac Oem Command Fail.\n").Requests({}),
        Fault("ToolNotExecutable").Setup([](Station &s) {
            s.script_tool("");
            chmod(s.path("kovripmi").c_str(), 0644);
        }).Has("Fast Get Mac Oem Command Fail.\n").Requests({}),
        Fault("ToolKilledWhileWriting")
            .Setup(Script(NthRequest(kSetBoth, 1) + "  \"$SIM\" \"$@\"; kill -KILL $$\nfi"))
            .Has("eth1 not equal\n"),
        Fault("ToolKilledWhileReading").Setup(Script(NthRequest(kGet0Fixed, 1) + "  kill -SEGV $$\nfi"))
            .Has("Fast Get Mac Oem Command Fail.\n").Requests({kGetId}),
        Passing("ToolPrints100KBBeforeEachReply")
            .Setup(Script("yes " + Repeat("0123456789", 9) + "abcdefghi | head -n 1024")),
        Fault("Tool100KBLineAfterEachReply")
            .Setup(Script("\"$SIM\" \"$@\"; rc=$?\nhead -c 102400 /dev/zero | tr '\\0' Z\nexit $rc")),
        Fault("ToolPrintsBinaryGarbage")
            .Setup(Script("\"$SIM\" \"$@\" >/dev/null; rc=$?\n"
                          "printf '\\001\\377\\033[2J\\000\\200\\376 garbage\\r\\n\\177\\033]0;x\\007 \\377\\376'\n"
                          "exit $rc")),
        Passing("Tool5000CharacterLine")
            .Setup(Script("out=$(\"$SIM\" \"$@\"); rc=$?\nprintf '%4980s%s\\n' '' \"$out\"\nexit $rc")),
        Passing("ToolErrorLineFirst").Setup(Script("echo 'Error: warming up'")),
        Fault("ToolErrorLineLast")
            .Setup(Script("\"$SIM\" \"$@\"; rc=$?\necho 'Error: the BMC refused the request'\nexit $rc"))
            .Has("Command execute error\nBMC Revision = ?.?.?\r\n")
            .Has("Command execute error\nFast Get Mac Oem Command Fail.\n").Requests({kGetId, kGet0Fixed}),
    };
}

std::vector<Row> FileRows()
{
    const std::string refused = "Error! Mac 02-AB-3C-56-01-A1 is invalid.\n";
    std::string many;
    for (int i = 0; i < 2000; i++) {
        char line[64];
        snprintf(line, sizeof(line), "AVL_MASK=FFFFFFFFFFFF AVL_VALUE=02AB3C56%04X\n", i);
        many += line;
    }
    const std::string same = "The MAC value are the same.\n" + std::string(kFailBanner) + kLogError;
    return {
        Fault("IniMissing").Remove("TALVEK.ini").Has(kNoIni).Has(kFailBanner).Requests({kGetId}),
        Fault("IniEmpty").File("TALVEK.ini", "").Has(refused).Has(kFailBanner).Requests({kGetId}),
        Fault("IniBinary")
            .File("TALVEK.ini", std::string("\x00\xff\x1b\x80\nAVL_MASK=\xff\xff\0AVL_VALUE=02AB3C\x00\n\xfe", 36))
            .Has(refused).Has(kFailBanner).Requests({kGetId}),
        // 10 MB of lines that must admit nothing (comments, and keys behind
        // the 255th character), then one entry admitting the first MAC only.
        Fault("Ini10MB").Setup([](Station &s) {
            std::string junk = "; AVL_MASK=000000000000 AVL_VALUE=000000000000\n" + std::string(300, 'x') +
                               "AVL_MASK=000000000000 AVL_VALUE=000000000000\n";
            s.write("TALVEK.ini", Repeat(junk, 10 * 1024 * 1024 / junk.size()) +
                                      "AVL_MASK=FFFFFFFFFFFF AVL_VALUE=" + kMac1 + "\n");
        }).Has("INI(0) - AVL_MASK=FFFFFFFFFFFF, AVL_VALUE=02AB3C5601A1\nError! Mac 02-AB-3C-56-01-A2 is invalid.\n")
            .Requests({kGetId}),
        Passing("Ini2000EntriesMacInFirst1024").File("TALVEK.ini", many)
            .Has("INI(1023) - AVL_MASK=FFFFFFFFFFFF, AVL_VALUE=02AB3C5603FF\n"
                 "Warning! Only the first 1024 entries of TALVEK.ini are used.\n"),
        Fault("Ini2000EntriesMacBeyond", {"1=02AB3C560700"}).File("TALVEK.ini", many)
            .Has("Error! Mac 02-AB-3C-56-07-00 is invalid.\n").Requests({kGetId}),
        Fault("DatBinary", {"1", "2", "T"})
            .File("TALVEK1.DAT", std::string("\x00\xff\x1b[2J\x80\x01", 8)).File("TALVEK2.DAT", kMac2 + "\n")
            .Has("Error! File TALVEK1.DAT does not hold a valid MAC.\n").Has(kFailBanner).Requests({}),
        Fault("DatEmpty", {"1", "2", "T"}).File("TALVEK1.DAT", kMac1 + "\n").File("TALVEK2.DAT", "")
            .Has("Error! File TALVEK2.DAT does not hold a valid MAC.\n").Has(kFailBanner).Requests({}),
        Row("RecordIsDirectoryOnPass").Args({kArg1, kArg2}).Dir("TALVEK.txt").Exit(1)
            .Has(kLine2 + kRecordError + kFailBanner),
        Row("RecordIsDirectoryOnFailure").Args({kArg1, kArg2}).Dir("TALVEK.txt").Remove("TALVEK.ini").Exit(1)
            .Has(kFailBanner + kRecordError),
        // Modes: run as an ordinary user (root would ignore them). The
        // simulated BMC keeps its state elsewhere, so the tool cannot write
        // in the station either.
        Row("WorkingDirectoryReadOnly").Args({kArg1, kArg2}).Unprivileged().JournalAt("bmc/kovripmi.journal")
            .Setup([](Station &s) {
                s.mkdir("bmc");
                chmod(s.path("bmc").c_str(), 0777);
                s.write("bmc/kovripmi.journal", "");
                chmod(s.path("bmc/kovripmi.journal").c_str(), 0666);
                s.script_tool("cd bmc || exit 1", PublicSimBinary());
                chmod(s.dir().c_str(), 0555);
            })
            .Exit(1).Record(kStaleRecord).Has(kLine2 + kRecordError + kFailBanner),
        Fault("MacLogReadOnly", {kArg1, "2=" + kMac1, "fail_log"}).Unprivileged()
            .File("MAC_LOG.txt", "earlier entry\n")
            .Setup([](Station &s) {
                chmod(s.path("MAC_LOG.txt").c_str(), 0444);
                s.tool(PublicSimBinary());
                chmod(s.dir().c_str(), 0777);
            })
            .Has(same).Holds("MAC_LOG.txt", "earlier entry\n"),
        Fault("MacLogIsDirectory", {kArg1, "2=" + kMac1, "fail_log"}).Dir("MAC_LOG.txt").Has(same),
    };
}

std::vector<Row> ArgumentRows()
{
    std::vector<std::string> thousand = {kArg1};
    const char *junk[] = {"check", "3", "V", "T", "U=5", "4=02AB3C5601A3", "-", "t"};
    while (thousand.size() < 999)
        thousand.push_back(junk[thousand.size() % 8]);
    thousand.push_back(kArg2);
    return {
        Passing("ThousandArguments", thousand),
        Row("Argument100KB").Args({kArg1 + std::string(100 * 1024, 'F')}).Passes(kPass1),
        Fault("OffsetText100KB", {"U=" + std::string(100 * 1024, '9')})
            .Has("Offset must be in 0x00001~0xfffff\r\n" + std::string(kFailBanner)).Requests({}),
    };
}

// A tool that signals TALVEK while it waits for the BMC: the 2nd Get Device
// ID is the settle wait's first poll, the 2nd fixed Fast Get MAC of eth0 the
// read-back's probe. TALVEK dies of the signal, sends nothing more and
// leaves the record it found.
std::vector<Row> SignalRows()
{
    auto at = [](const std::string &name, const std::string &request, const char *sig, int signo) {
        return Row(name).Args({kArg1, kArg2})
            .Setup(Script(NthRequest(request, 2) + "  \"$SIM\" \"$@\"; rc=$?\n  kill -" + sig +
                          " \"$(cat talvek.pid)\"\n  exit $rc\nfi"))
            .Killed(signo).Record(kStaleRecord)
            .Then([request](const Station &s, const Result &) {
                std::vector<std::string> sent = s.requests();
                ASSERT_FALSE(sent.empty());
                EXPECT_EQ(sent.back(), request);
            });
    };
    return {
        at("SigIntDuringSettleWait", kGetId, "INT", SIGINT),
        at("SigTermDuringSettleWait", kGetId, "TERM", SIGTERM),
        at("SigIntDuringReadback", kGet0Fixed, "INT", SIGINT),
        at("SigTermDuringReadback", kGet0Fixed, "TERM", SIGTERM),
    };
}

// The result record is replaced whole: the new content goes to a new file
// that is renamed over the old one. A reader that opened the old record
// keeps reading it complete (a rewrite in place would show it empty or
// half-written), and the record keeps its permissions, as a rewrite in
// place would; a new record gets 0666 less the umask (022 here).
Row Replaced(const std::string &name, mode_t old_mode, bool pass, mode_t mode_after)
{
    struct Old {
        int fd = -1;
        ino_t ino = 0;
    };
    auto old = std::make_shared<Old>();
    return Row(name).Args({kArg1}).Exit(pass ? 0 : 1).Record(pass ? kPass1 : kFailRecord)
        .Setup([=](Station &s) {
            if (!pass)
                s.remove("TALVEK.ini");
            if (old_mode == 0) {
                s.remove("TALVEK.txt");
                return;
            }
            chmod(s.path("TALVEK.txt").c_str(), old_mode);
            struct stat st;
            old->fd = open(s.path("TALVEK.txt").c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_EQ(fstat(old->fd, &st), 0);
            old->ino = st.st_ino;
        })
        .Then([=](const Station &s, const Result &) {
            struct stat after;
            ASSERT_EQ(stat(s.path("TALVEK.txt").c_str(), &after), 0);
            EXPECT_EQ(after.st_mode & 07777, mode_after);
            if (old->fd < 0)
                return;
            EXPECT_NE(after.st_ino, old->ino) << "rewritten in place";
            char buf[128];
            ssize_t n = pread(old->fd, buf, sizeof(buf), 0);
            EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), kStaleRecord);
            close(old->fd);
            old->fd = -1;
        });
}

std::vector<Row> RecordRows()
{
    return {
        Replaced("PassOver0640Record", 0640, true, 0640),
        Replaced("FailureOver0600Record", 0600, false, 0600),
        Replaced("FailureOver0664Record", 0664, false, 0664),
        Replaced("PassWithoutRecord", 0, true, 0644),
    };
}

class FaultMatrix : public ::testing::TestWithParam<Row> {};
TEST_P(FaultMatrix, Invariants) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Tool, FaultMatrix, ::testing::ValuesIn(ToolRows()), RowName());
INSTANTIATE_TEST_SUITE_P(Files, FaultMatrix, ::testing::ValuesIn(FileRows()), RowName());
INSTANTIATE_TEST_SUITE_P(Arguments, FaultMatrix, ::testing::ValuesIn(ArgumentRows()), RowName());
INSTANTIATE_TEST_SUITE_P(Signals, FaultMatrix, ::testing::ValuesIn(SignalRows()), RowName());
INSTANTIATE_TEST_SUITE_P(Record, FaultMatrix, ::testing::ValuesIn(RecordRows()), RowName());

}  // namespace
