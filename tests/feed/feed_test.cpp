// The MES feed end to end: TALVEK writes a run's CFX messages into the
// outbox with its runs row, talvek-registry relay publishes them, and a
// consumer (cfx_consumer.py, Qpid Proton) reads what the broker got.
// FeedBroker cases need the RabbitMQ that rabbitmq_broker.sh starts
// (TALVEK_TEST_AMQP) and are skipped without it; the others need no broker
// (the refusals come from reject_broker.py, a stand-in).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "registry/outbox.h"
#include "registry/schema.h"
#include "registry_tool/args.h"
#include "test.h"

extern char **environ;

namespace {

using nlohmann::json;

const std::string kHandle = "Acme.MacWriter.SN1";
const std::string kGuid = "00112233445566778899aabbccddeeff";
const std::string kPython = "/usr/bin/python3";
const std::string kWorkStarted = "CFX.Production.WorkStarted";
const std::string kPersonalized = "CFX.Production.Assembly.UnitsPersonalized";
const std::string kTested = "CFX.Production.TestAndInspection.UnitsTested";
const std::string kCompleted = "CFX.Production.WorkCompleted";

std::string Output(const std::string &command)
{
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    pclose(p);
    return out;
}

// A SQLite registry in a directory of its own, and stations on it.
class Feed {
public:
    Feed()
    {
        char tmpl[] = "/tmp/talvek-feed-XXXXXX";
        dir_ = mkdtemp(tmpl);
        db_ = dir_ + "/line.db";
    }
    ~Feed() { std::filesystem::remove_all(dir_); }
    const std::string &db() const { return db_; }

    std::string conf(const std::string &handle = kHandle) const
    {
        return "registry = sqlite:" + db_ + "\nstation = st1\ndmi_dir = dmi\n" +
               (handle.empty() ? "" : "cfx_handle = " + handle + "\n");
    }
    // A one-port run of kMac1 on a board that shows kGuid.
    Row Base(const std::string &name, const std::string &handle = kHandle) const
    {
        return Row(name).Args({kArg1}).File("TALVEK.conf", conf(handle)).Scenario("guid " + kGuid + "\n");
    }
    Result Tool(std::vector<std::string> args) const
    {
        Station s;
        Launch l;
        l.program = TALVEK_REGISTRY_BIN;
        l.args = {"--registry", "sqlite:" + db_};
        l.args.insert(l.args.end(), args.begin(), args.end());
        return ::Run(s, l);
    }
    std::string Sql(const std::string &sql) const
    {
        return Output("sqlite3 '" + db_ + "' \"" + sql + "\"");
    }

private:
    std::string dir_, db_;
};

// What the consumer read: one object per message, in arrival order.
std::vector<json> Consume(const std::string &url)
{
    std::vector<json> got;
    std::istringstream in(
        Output(kPython + " " FEED_DIR "/cfx_consumer.py '" + url + "' /amq/queue/talvek-feed"));
    for (std::string line; std::getline(in, line);)
        got.push_back(json::parse(line));
    return got;
}

// The run messages among them, by transaction, each once (the first copy),
// their names in arrival order.
std::map<std::string, std::vector<std::string>> ByRun(const std::vector<json> &got)
{
    std::map<std::string, std::vector<std::string>> runs;
    std::set<std::string> seen;
    for (const json &m : got) {
        json body = json::parse(m["envelope"].get<std::string>())["MessageBody"];
        std::string run = body.value("TransactionID", body.value("TransactionId", ""));
        if (!run.empty() && seen.insert(m["id"].get<std::string>()).second)
            runs[run].push_back(m["properties"]["cfx-message"]);
    }
    return runs;
}

const std::vector<std::string> kFull = {kWorkStarted, kPersonalized, kTested, kCompleted};
const std::vector<std::string> kUnpersonalized = {kWorkStarted, kTested, kCompleted};

// ---------------------------------------------------------------------------
// No broker.

TEST(FeedConf, HandleRule)
{
    // clang-format off
    struct { const char *name, *line, *err; } rows[] = {
        {"vendor model serial", "cfx_handle = Acme.MacWriter.SN-1_a", ""},
        {"more parts", "cfx_handle = Acme.Line3.MacWriter.SN1", ""},
        {"two parts", "cfx_handle = Acme.SN1", "cfx_handle must be Vendor.Model.Serial, not \"Acme.SN1\""},
        {"an empty part", "cfx_handle = Acme..SN1", "cfx_handle must be Vendor.Model.Serial, not \"Acme..SN1\""},
        {"a blank inside", "cfx_handle = Acme.Mac Writer.SN1", "cfx_handle may hold only letters, digits, '-', '_' and dots"},
    };
    // clang-format on
    for (const auto &row : rows) {
        REGISTRY_CONF conf;
        DefaultRegistryConf(&conf);
        char err[kConfErrorSize] = "";
        EXPECT_EQ(ParseConfLine(row.line, &conf, err, sizeof err), row.err[0] ? 1 : 0) << row.name;
        EXPECT_STREQ(err, row.err) << row.name;
    }
}

// The relay's and the outbox's command lines: defaults, and what is refused.
TEST(FeedArgs, RelayAndOutbox)
{
    // clang-format off
    struct { const char *name; std::vector<const char *> argv; int status; std::string want; } rows[] = {
        {"relay defaults", {"relay", "--amqp", "amqp://b"}, 0, "amqp://b /exchange/CFXExchange once 0 keep 30"},
        {"relay options", {"relay", "--once", "--amqp=amqp://b", "--address", "/queue/q", "--keep-days", "7"}, 0, "amqp://b /queue/q once 1 keep 7"},
        {"relay without a broker", {"relay", "--once"}, 2, "relay needs --amqp URL (amqp://host[:port])"},
        {"no days", {"relay", "--amqp", "amqp://b", "--keep-days", "0"}, 2, "--keep-days needs a number of days from 1 to 3650"},
        {"a flag with a value", {"relay", "--amqp", "amqp://b", "--once=yes"}, 2, "--once takes no value"},
        {"retry", {"outbox", "--retry", "id-1"}, 0, "dead 0 retry id-1"},
        {"dead and retry", {"outbox", "--dead", "--retry", "id-1"}, 2, "outbox takes --dead or --retry ID, not both"},
        {"a relay flag on outbox", {"outbox", "--once"}, 2, "--once does not go with this command"},
    };
    // clang-format on
    for (const auto &row : rows) {
        std::vector<char *> argv = {const_cast<char *>("talvek-registry")};
        for (const char *a : row.argv)
            argv.push_back(const_cast<char *>(a));
        REGTOOL_ARGS args;
        char err[300] = "";
        int status = ParseRegToolArgs(static_cast<int>(argv.size()), argv.data(), &args, err, sizeof err);
        std::string got = status != 0 ? err
                          : args.Command == REGTOOL_RELAY
                              ? std::string(args.Amqp) + " " + args.Address + " once " + std::to_string(args.Once) +
                                    " keep " + std::to_string(args.KeepDays)
                              : "dead " + std::to_string(args.Dead) + " retry " + (args.Retry ? args.Retry : "");
        EXPECT_EQ(status, row.status) << row.name;
        EXPECT_EQ(got, row.want) << row.name;
    }
}

// Each verdict and port outcome, as the run's messages tell it.
TEST(FeedMessages, RunsAsCfx)
{
    const uint8_t kA[6] = {0x02, 0xAB, 0x3C, 0x56, 0x01, 0xA1}, kB[6] = {0x02, 0xAB, 0x3C, 0x56, 0x01, 0xA2};
    const int kDone = REG_SELECTED | REG_HAVE_REQUESTED | REG_HAVE_READBACK;
    // clang-format off
    // flags per port; readback: eth0's read-back (kA or kB); then what the messages say
    struct { const char *name, *verdict; int eth0, eth1; const uint8_t *readback;
             std::vector<std::string> names; std::string overall, work, personalized, eth0_result; } rows[] = {
        {"pass, both ports", "PASS", kDone | REG_PASSED, kDone | REG_PASSED, kA, kFull, "Passed", "Completed",
         "MAC Address eth0=02-AB-3C-56-01-A1 MAC Address eth1=02-AB-3C-56-01-A2 ", "Passed"},
        {"eth0 read back wrong, eth1 right", "FAIL", kDone, kDone | REG_PASSED, kB, kFull, "Failed", "Failed",
         "MAC Address eth1=02-AB-3C-56-01-A2 ", "Failed"},
        {"aborted before the read-back", "ABORTED", REG_SELECTED | REG_HAVE_REQUESTED, 0, nullptr,
         kUnpersonalized, "Aborted", "Aborted", "", "Aborted"},
    };
    // clang-format on
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        REGISTRY_RUN run{};
        snprintf(run.Conf.CfxHandle, sizeof run.Conf.CfxHandle, "%s", kHandle.c_str());
        snprintf(run.RunId, sizeof run.RunId, "run-1");
        snprintf(run.Started, sizeof run.Started, "2026-01-02T03:04:05.678Z");
        snprintf(run.Identity.Key, sizeof run.Identity.Key, "%s", kGuid.c_str());
        run.PortFlags[0] = row.eth0;
        run.PortFlags[1] = row.eth1;
        memcpy(run.Requested[0], kA, 6);
        memcpy(run.Requested[1], kB, 6);
        if (row.readback)
            memcpy(run.Readback[0], row.readback, 6);
        memcpy(run.Readback[1], kB, 6);
        std::vector<OUTBOX_MESSAGE> messages;
        char err[256] = "";
        ASSERT_EQ(OutboxBuildRun(&run, row.verdict, &messages, err, sizeof err), 0) << err;
        std::vector<std::string> names;
        std::map<std::string, json> by_name;
        for (const auto &m : messages) {
            json e = json::parse(m.Envelope);
            names.push_back(e["MessageName"]);
            by_name[e["MessageName"]] = e;
            EXPECT_EQ(e["UniqueID"], m.UniqueId);
        }
        EXPECT_EQ(names, row.names);
        const json &started = by_name[kWorkStarted];
        EXPECT_EQ(messages[0].Envelope.rfind("{\"MessageName\":\"" + kWorkStarted + "\",\"Version\":\"2.1\",", 0), 0u)
            << messages[0].Envelope;
        EXPECT_EQ(started["Version"], "2.1");
        EXPECT_EQ(started["TimeStamp"], "2026-01-02T03:04:05.678+00:00");
        EXPECT_EQ(started["Source"], kHandle);
        EXPECT_TRUE(started["Target"].is_null() && started["RequestID"].is_null());
        EXPECT_NE(messages[0].Envelope.find("\"MessageBody\":{\"$type\":"), std::string::npos);
        EXPECT_EQ(started["MessageBody"]["$type"], kWorkStarted + ", CFX");
        EXPECT_EQ(started["MessageBody"]["TransactionID"], "run-1");
        EXPECT_EQ(started["MessageBody"]["PrimaryIdentifier"], kGuid);
        std::string personalized;
        for (const json &c : by_name[kPersonalized]["MessageBody"]["PersonalizedUnits"][0]["Characteristics"])
            personalized += c["Name"].get<std::string>() + "=" + c["Value"].get<std::string>() + " ";
        EXPECT_EQ(personalized, row.personalized);
        const json &unit = by_name[kTested]["MessageBody"]["TestedUnits"][0];
        EXPECT_EQ(by_name[kTested]["MessageBody"]["TestMethod"], "Automated");
        EXPECT_EQ(unit["OverallResult"], row.overall);
        const json &eth0 = unit["Tests"][0]["Measurements"][0];
        EXPECT_EQ(eth0["$type"], "CFX.Structures.TextMeasurement, CFX");
        EXPECT_EQ(eth0["MeasurementName"], "MAC Address eth0");
        EXPECT_EQ(eth0["ExpectedValue"], "02-AB-3C-56-01-A1");
        EXPECT_EQ(eth0["Value"], row.readback == kB ? json("02-AB-3C-56-01-A2")
                                 : row.readback    ? json("02-AB-3C-56-01-A1")
                                                   : json());
        EXPECT_EQ(eth0["Result"], row.eth0_result);
        EXPECT_EQ(by_name[kCompleted]["MessageBody"]["Result"], row.work);
    }
}

// Without cfx_handle a run puts nothing in the outbox; with it, its messages,
// which the outbox command counts.
TEST(FeedStation, OutboxFollowsTheHandle)
{
    Feed feed;
    Check(feed.Base("no handle", "").Passes(kPass1));
    EXPECT_EQ(feed.Sql("SELECT count(*) FROM outbox"), "0\n");
    Check(feed.Base("with a handle").Passes(kPass1));
    EXPECT_EQ(feed.Sql("SELECT part || ' ' || message_name || ' ' || handle || ' ' || state FROM outbox"
                       " ORDER BY part"),
              "1 " + kWorkStarted + " " + kHandle + " pending\n2 " + kPersonalized + " " + kHandle +
                  " pending\n3 " + kTested + " " + kHandle + " pending\n4 " + kCompleted + " " +
                  kHandle + " pending\n");
    Result r = feed.Tool({"outbox"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Pending: 4\nOldest pending: 20", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("Dead: 0\nSent (kept): 0\n"), std::string::npos) << r.out;
}

// One relay per registry: with the lock held, another one stops at once.
TEST(FeedStation, SecondRelayStandsAside)
{
    Feed feed;
    Check(feed.Base("a run").Passes(kPass1));
    int fd = open((feed.db() + ".relay.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    Result r = feed.Tool({"relay", "--amqp", "amqp://127.0.0.1:1", "--once"});
    close(fd);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "talvek-registry: another relay is publishing from this registry; this one stops\n");
    EXPECT_EQ(feed.Sql("SELECT count(*) FROM outbox WHERE state = 'pending'"), "4\n");
}

// A broker that refuses a message three times: it goes to dead, the others
// are sent; --retry puts it back.
TEST(FeedStation, RefusedMessagesGoDead)
{
    if (system((kPython + " -c 'import proton' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << kPython << " has no proton module (Debian package python3-qpid-proton)";
    Feed feed;
    Check(feed.Base("refused handle", "Reject.MacWriter.SN9").Passes(kPass1));
    Check(feed.Base("accepted handle").Passes(kPass1));
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    std::string script = FEED_DIR "/reject_broker.py";
    char *argv[] = {const_cast<char *>(kPython.c_str()), const_cast<char *>(script.c_str()), nullptr};
    pid_t broker = 0;
    int spawned = posix_spawn(&broker, argv[0], &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    ASSERT_EQ(spawned, 0);
    close(out[1]);
    char port[16] = "";
    FILE *from = fdopen(out[0], "r");
    ASSERT_NE(fgets(port, sizeof port, from), nullptr) << "the stand-in broker did not start";
    port[strcspn(port, "\n")] = '\0';
    Result r = feed.Tool({"relay", "--amqp", std::string("amqp://127.0.0.1:") + port, "--once"});
    kill(broker, SIGTERM);
    waitpid(broker, nullptr, 0);
    fclose(from);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.find("\nRelay: ") + 1), "Relay: 4 messages published, 4 moved to dead.\n");
    EXPECT_EQ(Occurrences(r.err, " times, it is now dead"), 4) << r.err;
    EXPECT_EQ(feed.Sql("SELECT handle || ' ' || state || ' ' || rejections FROM outbox GROUP BY handle, state"),
              kHandle + " sent 0\nReject.MacWriter.SN9 dead 3\n");
    Result dead = feed.Tool({"outbox", "--dead"});
    EXPECT_EQ(Occurrences(dead.out, "  Reject.MacWriter.SN9  refused 3 times: rejected by the broker\n"), 4)
        << dead.out;
    std::string id = dead.out.substr(0, 36);
    Result retry = feed.Tool({"outbox", "--retry", id});
    EXPECT_EQ(retry.out, "Message " + id + " is pending again: the relay sends it next.\n") << retry.err;
    EXPECT_EQ(feed.Tool({"outbox", "--retry", id}).err,
              "talvek-registry: no dead message " + id + " in the outbox\n");
    EXPECT_EQ(feed.Sql("SELECT state || ' ' || rejections FROM outbox WHERE unique_id = '" + id + "'"),
              "pending 0\n");
}

// ---------------------------------------------------------------------------
// Against RabbitMQ.

class FeedBroker : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *url = getenv("TALVEK_TEST_AMQP");
        const char *ctl = getenv("TALVEK_TEST_BROKER");
        if (!url || !ctl)
            GTEST_SKIP() << "no broker: these cases run under tests/feed/rabbitmq_broker.sh (ctest -L feed)";
        url_ = url;
        ctl_ = ctl;
        Consume(url_);  // what an earlier case left
    }
    Result Relay(const Feed &feed) const { return feed.Tool({"relay", "--amqp", url_, "--once"}); }
    std::string url_, ctl_;
};

// A PASS, a FAIL and a board the registry refuses: each run's messages, in
// order, as the CFX SDK sends them.
TEST_F(FeedBroker, RunsArriveAsCfx)
{
    Feed feed;
    Check(feed.Base("pass").Passes(kPass1));
    Check(feed.Base("fail: the allow-list refuses the MAC").Args({"1=112233445566"}).FailsWithBanner());
    feed.Sql("INSERT INTO macs (mac, mac_text, board_key, state, station, run_id, reserved_utc, updated_utc)"
             " VALUES (" + std::to_string(0x02AB3C5601A2) + ", '02AB3C5601A2', 'OTHER', 'verified', 'old',"
             " 'run-0', '2026-01-01T00:00:00.000Z', '2026-01-01T00:00:00.000Z')");
    Check(feed.Base("refused board").Args({kArg2}).FailsWithBanner());
    Result r = Relay(feed);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("Relay: 10 messages published, 0 moved to dead.\n"), std::string::npos) << r.out;
    std::vector<json> got = Consume(url_);
    ASSERT_EQ(got.size(), 12u) << "10 run messages between EndpointConnected and EndpointShuttingDown";
    EXPECT_EQ(got.front()["properties"]["cfx-message"], "CFX.EndpointConnected");
    EXPECT_EQ(got.back()["properties"]["cfx-message"], "CFX.EndpointShuttingDown");
    // Only the PASS put a MAC on its board.
    std::map<std::string, std::vector<std::string>> want;
    std::istringstream runs(feed.Sql("SELECT run_id || ' ' || verdict FROM runs"));
    for (std::string line; std::getline(runs, line);)
        want[line.substr(0, 36)] = line.substr(37) == "PASS" ? kFull : kUnpersonalized;
    EXPECT_EQ(ByRun(got), want);
    // The relay speaks for itself under a handle of its own: no TALVEK.conf
    // gave it one.
    const std::string relay = got.front()["properties"]["cfx-handle"];
    EXPECT_EQ(relay.rfind("TALVEK.talvek-registry.", 0), 0u) << relay;
    for (const json &m : got) {
        json e = json::parse(m["envelope"].get<std::string>());
        std::string name = e["MessageName"];
        const std::string &handle = name.rfind("CFX.Production.", 0) == 0 ? kHandle : relay;
        EXPECT_EQ(m["id"], e["UniqueID"]);
        EXPECT_EQ(m["subject"], handle + "." + name);
        EXPECT_EQ(m["content_type"], "application/json; charset=\"utf-8\"");
        EXPECT_EQ(m["durable"], true);
        EXPECT_EQ(m["section"], "data");
        EXPECT_EQ(m["properties"],
                  json({{"cfx-topic", name.substr(0, name.rfind('.'))}, {"cfx-message", name},
                        {"cfx-handle", handle}, {"cfx-target", nullptr}}));
        EXPECT_EQ(e["Source"], handle);
    }
}

// The broker down while 20 boards are run: the runs do not notice, the
// relay keeps everything, and once the broker is back every message
// arrives, in its run's order.
TEST_F(FeedBroker, BrokerDownLosesNothing)
{
    Feed feed;
    ASSERT_EQ(system((ctl_ + " stop").c_str()), 0);
    Station s;
    for (int k = 0; k < 20; k++)
        Check(feed.Base("run " + std::to_string(k)).Passes(kPass1), s);
    Result down = Relay(feed);
    EXPECT_EQ(down.exit_code, 1);
    EXPECT_NE(down.err.find("talvek-registry: relay: broker amqp://127.0.0.1:"), std::string::npos) << down.err;
    EXPECT_EQ(feed.Sql("SELECT count(*) FROM outbox WHERE state = 'pending'"), "80\n");
    ASSERT_EQ(system((ctl_ + " start").c_str()), 0);
    Result up = Relay(feed);
    EXPECT_EQ(up.exit_code, 0) << up.err;
    std::map<std::string, std::vector<std::string>> runs = ByRun(Consume(url_));
    EXPECT_EQ(runs.size(), 20u);
    EXPECT_EQ(std::count_if(runs.begin(), runs.end(), [](auto &r) { return r.second == kFull; }), 20);
    EXPECT_EQ(feed.Sql("SELECT count(*) FROM outbox WHERE state = 'sent'"), "80\n");
}

}  // namespace
