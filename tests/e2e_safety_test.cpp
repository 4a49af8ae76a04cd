// Operator safety: one MAC for both ports is refused before anything is
// written, keys left at the terminal never reach the shell, and the result
// record lands where the line reads it (through a link, or in place where
// the directory takes no new files).
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "test.h"

namespace {

// Runs f on a thread that a row's Then joins: for what must happen while
// TALVEK runs, between two of its steps.
struct Helper {
    std::thread thread;
    ~Helper()
    {
        if (thread.joinable())
            thread.join();
    }
};

// Polls cond every 10 ms until it holds, at most 20 s (a guard, never
// reached by a passing run). False when it never held.
template <class Cond> bool Await(Cond cond)
{
    for (int i = 0; i < 2000 && !cond(); i++)
        usleep(10000);
    return cond();
}

std::vector<Row> SameMacRows()
{
    const std::string refused = "The MAC value are the same.\n" + std::string(kFailBanner);
    // clang-format off
    return {
        Row("from the command line, with fail_log").Args({kArg1, "2=" + kMac1, "fail_log"})
            .FailsWithBanner().Out(kHead + refused).Requests({kGetId}).Size("MAC_LOG.txt", 26),
        Row("from the DAT files").Args({"1", "2", "T"}).File("TALVEK1.DAT", kMac1 + "\n").File("TALVEK2.DAT", kMac1 + "\n")
            .FailsWithBanner().Has(refused).Requests({kGetId}).Absent("MAC_LOG.txt"),
        // Compared as bytes: the two codes differ only in case.
        Row("from the keyboard").Args({"1", "2"}).Input(kMac1 + "02ab3c5601a1")
            .FailsWithBanner().Has("02-ab-3c-56-01-a1\n" + refused).Requests({kGetId}),
    };
    // clang-format on
}

ROWS(SameMac, SameMacRows());

// A scanner sends both codes and more in one burst: the second entry still
// gets its code, the rest is discarded when the last entry ends (the tool,
// which shares the terminal, finds nothing pending), and keys typed while
// the BMC is programmed are discarded before TALVEK exits.
TEST(UnreadKeys, DiscardedAfterTheLastEntryAndAtExit)
{
    Station s;
    s.script_tool("if [ \"$*\" = '" + kGet0Fixed +
                  "' ] && [ ! -e at_read ]; then\n"
                  "  old=$(stty -g); stty -icanon min 0 time 0; cat > pending.keys; stty \"$old\"\n"
                  "  : > at_read\n"
                  "  timeout 20 sh -c 'until [ -e typed ]; do sleep 0.01; done'\n"
                  "fi");
    Helper late;
    const std::string at_read = s.path("at_read"), typed = s.path("typed");
    // clang-format off
    Check(Row("scan burst, then keys while programming").Args({"1", "2"}).On(Stdin::kTerminal)
              .AtEachEntry([&](const Entry &e) {
                  if (e.index != 0)
                      return true;
                  TypeKeys(e, kMac1 + "\r\n" + kMac2 + "\r\nA1\r");
                  late.thread = std::thread([&, keys = e.keys] {
                      EXPECT_TRUE(Await([&] { return access(at_read.c_str(), F_OK) == 0; }));
                      const std::string none;
                      TypeKeys(Entry{0, keys, 1, none}, "B2\r");
                      close(open(typed.c_str(), O_WRONLY | O_CREAT, 0644));
                  });
                  return true;
              })
              // The terminal turns each "\n" into "\r\n": no banner bytes compared.
              .Exit(0).Record(kPassBoth).Holds("pending.keys", "")
              .Then([&](const Station &, const Result &r) { EXPECT_EQ(r.unread, ""); }),
          s);
    // clang-format on
}

// Hard to read (a symbolic link) and hard to write (a directory that takes
// no new files), the record still gets the run's result.
TEST(Record, SymlinkedRecordTargetIsReplacedTheLinkStays)
{
    Check(Row("symlinked record")
              .Args({kArg1})
              .Setup([](Station &s) {
                  s.remove("TALVEK.txt");
                  s.write("shared/rec", kStaleRecord);
                  ASSERT_EQ(symlink("shared/rec", s.path("TALVEK.txt").c_str()), 0);
              })
              .Passes(kPass1)
              .Holds("shared/rec", kPass1)
              .Then([](const Station &s, const Result &) {
                  EXPECT_TRUE(std::filesystem::is_symlink(s.path("TALVEK.txt")));
                  auto beside = std::filesystem::directory_iterator(s.path("shared"));
                  EXPECT_EQ(std::distance(beside, {}), 1) << "a temporary file left beside";
              }));
}

// A station directory that takes no new files, with a writable record: the
// record is rewritten in place, silently, and only under its lock (held
// here by "another run" until TALVEK waits for it), so two runs never mix.
TEST(Record, ReadOnlyDirectoryRewritesInPlaceUnderTheLock)
{
    Station s;
    Helper holder;
    bool waited = false;
    std::string while_held;
    // clang-format off
    Check(Row("read-only station, writable record, lock held").Args({kArg1}).Unprivileged()
              .JournalAt("bmc/kovripmi.journal")
              .Setup([&](Station &st) {
                  // The simulated BMC keeps its state where it may write.
                  st.mkdir("bmc");
                  chmod(st.path("bmc").c_str(), 0777);
                  st.script_tool("cd bmc || exit 1", PublicSimBinary());
                  chmod(st.path("TALVEK.txt").c_str(), 0666);
                  chmod(st.dir().c_str(), 0555);
                  int fd = open(st.path("TALVEK.txt").c_str(), O_RDONLY | O_CLOEXEC);  // not TALVEK's
                  ASSERT_EQ(flock(fd, LOCK_EX), 0);
                  holder.thread = std::thread([&, fd, rec = st.path("TALVEK.txt")] {
                      waited = Await([] {
                          std::ifstream f("/proc/locks");
                          std::string locks(std::istreambuf_iterator<char>(f), {});
                          return locks.find("-> FLOCK") != std::string::npos;
                      });
                      std::ifstream f(rec);
                      while_held.assign(std::istreambuf_iterator<char>(f), {});
                      close(fd);
                  });
              })
              .Passes(kPass1).Lacks(kRecordError)
              .Then([&](const Station &, const Result &) {
                  holder.thread.join();
                  EXPECT_TRUE(waited) << "TALVEK never waited for the record's lock";
                  EXPECT_EQ(while_held, kStaleRecord);
              }),
          s);
    // clang-format on
}

}  // namespace
