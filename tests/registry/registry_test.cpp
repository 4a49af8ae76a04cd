// The MAC registry end to end on both back ends: TALVEK and talvek-registry
// on one registry, and its rows looked at directly. PostgreSQL cases need the
// server pg_cluster.sh names in TALVEK_TEST_PG, and are skipped without it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "registry/db.h"
#include "registry/schema.h"
#include "test.h"

namespace {

enum class Backend { kSqlite, kPostgres };

using Cells = std::vector<std::optional<std::string>>;  // one row; nullopt is NULL
using Params = std::vector<std::string>;

const std::string kGuid = "00112233445566778899aabbccddeeff";  // this board's key
const std::string kOther = "OTHER-BOARD";
const std::string kWhen = "2026-01-02T03:04:05.678Z";
const std::string kSetPrefix = "raw 0x3a 0xa0";  // every Fast Set MAC

std::string Join(const Cells &row, const std::string &sep)
{
    std::string s;
    for (size_t k = 0; k < row.size(); k++)
        s += (k ? sep : "") + row[k].value_or("NULL");
    return s;
}

// talvek-registry, run in the station.
Result Tool(const Station &s, std::vector<std::string> args)
{
    Launch l;
    l.program = TALVEK_REGISTRY_BIN;
    l.args = std::move(args);
    return ::Run(s, l);
}

// A station's ./kovripmi that runs command on every Fast Set MAC first.
std::function<void(Station &)> AtEachWrite(const std::string &command)
{
    return [=](Station &s) {
        s.script_tool("case \"$*\" in \"" + kSetPrefix + "\"*) " + command + " >/dev/null ;; esac");
    };
}

// A fresh, empty registry of one back end, for one test.
class Registry {
public:
    explicit Registry(Backend b)
    {
        static std::atomic<int> serial{0};
        std::string name = "t" + std::to_string(getpid()) + "_" + std::to_string(serial++);
        const char *server = getenv("TALVEK_TEST_PG");
        char tmpl[] = "/tmp/talvek-registry-XXXXXX";
        if (b == Backend::kSqlite) {
            dir_ = mkdtemp(tmpl);
            target_ = "sqlite:" + dir_ + "/" + name + ".db";
        } else if (!server) {
            skip_ =
                "no PostgreSQL server: these cases run under tests/registry/pg_cluster.sh (ctest -L registry)";
        } else {
            target_ = server;
            Exec("CREATE DATABASE " + name);
            target_ += " dbname=" + name;
        }
    }
    ~Registry()
    {
        if (!dir_.empty())
            std::filesystem::remove_all(dir_);
    }

    const std::string &skip() const { return skip_; }
    const std::string &target() const { return target_; }
    // A station's TALVEK.conf for this registry; the board identity files
    // are read from the station's "dmi", never from the test machine's own.
    std::string conf(const std::string &station = "st1") const
    {
        return "registry = " + target_ + "\nstation = " + station + "\ndmi_dir = dmi\n";
    }

    // Runs sql; a query gives its rows.
    std::vector<Cells> Rows(const std::string &sql, const Params &params = {},
                            bool query = true) const
    {
        std::vector<Cells> rows;
        REG_DB *db = Open();
        std::vector<const char *> p;
        for (const auto &v : params)
            p.push_back(v.c_str());
        char err[kDbErrorSize] = "";
        int n = static_cast<int>(p.size());
        if (db) {
            EXPECT_EQ(
                query ? RegDbQuery(db, sql.c_str(), n, p.data(), Collect, &rows, err, sizeof err)
                      : RegDbExec(db, sql.c_str(), n, p.data(), nullptr, err, sizeof err),
                0)
                << sql << ": " << err;
        }
        RegDbClose(db);
        return rows;
    }
    void Exec(const std::string &sql, const Params &params = {}) const { Rows(sql, params, false); }
    // A query's rows, a line each, cells apart by one space.
    std::string Table(const std::string &sql, const Params &params = {}) const
    {
        std::string t;
        for (const auto &row : Rows(sql, params))
            t += Join(row, " ") + "\n";
        return t;
    }
    std::string Held(const std::string &mac) const  // "state board_key\n"
    {
        return Table("SELECT state, board_key FROM macs WHERE mac_text = ?1", {mac});
    }
    void Schema() const
    {
        REG_DB *db = Open();
        char err[kDbErrorSize] = "";
        EXPECT_EQ(RegistryEnsureSchema(db, nullptr, err, sizeof err), 0) << err;
        RegDbClose(db);
    }
    // The registry gives mac to the board key (nullopt: a board without one).
    void Hold(const std::string &mac, const std::optional<std::string> &key,
              const std::string &state) const
    {
        Schema();
        Exec("INSERT INTO macs (mac, mac_text, board_key, state, station, run_id, reserved_utc, "
             "updated_utc) VALUES (?1, ?2, NULLIF(?5, ''), ?3, 'old', 'run-0', ?4, ?4)",
             {std::to_string(std::stoull(mac, nullptr, 16)), mac, state, kWhen, key.value_or("")});
    }
    Result Tool(const Station &s, std::vector<std::string> args) const
    {
        args.insert(args.begin(), {"--registry", target_});
        return ::Tool(s, args);
    }
    REG_DB *Open() const
    {
        REGISTRY_CONF conf;
        DefaultRegistryConf(&conf);
        char err[kDbErrorSize] = "";
        REG_DB *db = nullptr;
        if (ParseRegistryTarget(target_.c_str(), &conf, err, sizeof err) != 0 ||
            RegDbOpen(&conf, &db, err, sizeof err) != 0)
            ADD_FAILURE() << target_ << ": " << err;
        return db;
    }

private:
    static int Collect(void *ctx, int ncols, const char *const *cols)
    {
        auto &row = static_cast<std::vector<Cells> *>(ctx)->emplace_back();
        for (int k = 0; k < ncols; k++)
            row.push_back(cols[k] ? std::optional<std::string>(cols[k]) : std::nullopt);
        return 0;
    }
    std::string dir_, target_, skip_;
};

// The requests of a station's run that write a MAC.
long Writes(const Station &s)
{
    auto r = s.requests();
    return std::count_if(r.begin(), r.end(), [](auto &q) { return q.rfind(kSetPrefix, 0) == 0; });
}

std::string Refusal(const std::string &mac, const std::string &key)
{
    std::string dashed;
    for (size_t k = 0; k < 12; k += 2)
        dashed += (k ? "-" : "") + mac.substr(k, 2);
    return "Error! Mac " + dashed + " is already registered to board " + key + " (station old, " +
           kWhen + ").\n";
}

class RegistryTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override
    {
        reg_.emplace(GetParam());
        if (!reg_->skip().empty())
            GTEST_SKIP() << reg_->skip();
    }
    const Registry &reg() const { return *reg_; }
    // A one-port run of kMac1 on a board that shows kGuid, registry on.
    Row Base(const std::string &name, const std::string &station = "st1") const
    {
        return Row(name)
            .Args({kArg1})
            .File("TALVEK.conf", reg().conf(station))
            .Scenario("guid " + kGuid + "\n");
    }
    std::optional<Registry> reg_;
};

// Item by item, the decision table: who the registry says holds M, what the
// board shows, and what the run does.
TEST_P(RegistryTest, ReservationRules)
{
    const std::string kMacX = "02AB3C5601B0";  // on the board now, about to be replaced
    // clang-format off
    // held: the MAC the registry already has ("" none); key: its holder's (nullopt: keyless);
    // board_key: the board shows kGuid (else nothing at all); eth0: what the board's eth0 holds
    // before the run; refused: the refused MAC ("" the run passes); after: passing, M's holder.
    struct { const char *name; std::string held; std::optional<std::string> key; const char *state;
             bool board_key; std::string eth0, refused; std::optional<std::string> after; } rows[] = {
        {"free", "", kOther, "", true, "000000000000", "", kGuid},
        {"released by another board", kMac1, kOther, "released", true, "000000000000", "", kGuid},
        {"held for this board", kMac1, kGuid, "reserved", true, "000000000000", "", kGuid},
        {"keyless holder, board holds it: key recorded", kMac1, std::nullopt, "verified", true, kMac1, "", kGuid},
        {"keyless holder and board, board holds it", kMac1, std::nullopt, "verified", false, kMac1, "", std::nullopt},
        {"keyless holder, board lacks it", kMac1, std::nullopt, "verified", true, "000000000000", kMac1, {}},
        {"another board", kMac1, kOther, "verified", true, "000000000000", kMac1, {}},
        {"another board, reserved only", kMac1, kOther, "reserved", true, "000000000000", kMac1, {}},
        {"a keyed holder, a keyless board", kMac1, kOther, "reserved", false, "000000000000", kMac1, {}},
        {"another board's, already on this board", kMac1, kOther, "verified", true, kMac1, kMac1, {}},
        {"duplicate in the wild, about to be replaced", kMacX, kOther, "verified", true, kMacX, kMacX, {}},
    };
    // clang-format on
    for (const auto &row : rows) {
        reg_.emplace(GetParam());
        if (!row.held.empty())
            reg().Hold(row.held, row.key, row.state);
        Row r = Base(row.name).Scenario((row.board_key ? "guid " + kGuid + "\n" : "") +
                                        "mac eth0 " + row.eth0 + "\n");
        if (row.refused.empty())
            r.Passes(kPass1).Has("Registry: ").Then([&](const Station &, const Result &) {
                EXPECT_EQ(reg().Held(kMac1), "verified " + row.after.value_or("NULL") + "\n");
            });
        else
            r.FailsWithBanner()
                .Has(Refusal(row.refused, row.key.value_or("unknown")))
                .Then([&](const Station &s, const Result &) {
                    EXPECT_EQ(Writes(s), 0);
                    EXPECT_EQ(reg().Held(row.held),
                              row.state + (" " + row.key.value_or("NULL") + "\n"))
                        << "the holder changed";
                });
        Check(r);
    }
}

// Placeholders never name a board: the key falls through to the next real
// value, or there is none.
TEST_P(RegistryTest, PlaceholdersNameNoBoard)
{
    // clang-format off
    struct { const char *name; std::string guid, uuid, serial; std::optional<std::string> key; } rows[] = {
        {"all placeholders", "00000000000000000000000000000000", "03000200-0400-0500-0006-000700080009", "To be filled by O.E.M.", std::nullopt},
        {"GUID all FF, UUID placeholder, real serial", "ffffffffffffffffffffffffffffffff", "Not Specified", "SN-1187", "SN-1187"},
    };
    // clang-format on
    for (const auto &row : rows) {
        reg_.emplace(GetParam());
        Check(Base(row.name)
                  .Scenario("guid " + row.guid + "\n")
                  .File("dmi/product_uuid", row.uuid + "\n")
                  .File("dmi/board_serial", row.serial + "\n")
                  .Passes(kPass1)
                  .Then([&](const Station &, const Result &) {
                      EXPECT_EQ(reg().Table("SELECT board_key, system_guid_placeholder, "
                                            "product_uuid, board_serial_placeholder FROM runs"),
                                row.key.value_or("NULL") + " 1 " + row.uuid + " " +
                                    (row.key ? "0\n" : "1\n"));
                  }));
    }
}

// A released MAC goes to the next board that asks; the release is on record.
TEST_P(RegistryTest, ReleaseFreesForRework)
{
    reg().Hold(kMac1, kOther, "verified");
    Station s;
    Result r = reg().Tool(s, {"release", kMac1, "--reason", "board scrapped, RMA 5521"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "Released 02-AB-3C-56-01-A1: it was verified for board " + kOther +
                         " (station old, run run-0).\n");
    r = reg().Tool(s, {"release", kMac1, "--reason", "again"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err,
              "talvek-registry: MAC 02-AB-3C-56-01-A1 is already released; nothing released\n");
    Check(Base("after the release").Passes(kPass1));
    r = reg().Tool(s, {"who", kMac1});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    Result board = reg().Tool(s, {"board", kGuid});
    EXPECT_EQ(board.exit_code, 0) << board.err;
    // clang-format off
    for (const auto &[out, line] : std::vector<std::pair<std::string, std::string>>{
             {r.out, "  state     verified"}, {r.out, "  board     " + kGuid},
             {r.out, "took it from board " + kOther + " (verified, station old)  reason: board scrapped, RMA 5521"},
             {r.out, "    eth0  before 000000000000  requested " + kMac1 + "  read back " + kMac1 + "  PASS"},
             {board.out, "MACs:\n  " + kMac1 + "  verified  station st1"}, {board.out, "Runs:\n"}})
        EXPECT_NE(out.find(line), std::string::npos) << line << "\nin:\n" << out;
    // clang-format on
}

// A registry that cannot be used stops the run before anything is written.
TEST_P(RegistryTest, FailsClosed)
{
    const bool lite = GetParam() == Backend::kSqlite;
    // clang-format off
    // target "": this test's registry; schema: a version to put in first ("" none)
    struct { const char *name; std::string target, schema, reason; } rows[] = {
        {"unreachable", lite ? "sqlite:/nonexistent/dir/x.db" : "host=/nonexistent dbname=x", "", lite ? "/nonexistent/dir/x.db" : "/nonexistent"},
        {"schema newer than the tool", "", "99", "schema version 99 is newer than this program's 1"},
    };
    // clang-format on
    for (const auto &row : rows) {
        reg_.emplace(GetParam());
        if (!row.schema.empty()) {
            reg().Schema();
            reg().Exec(
                "INSERT INTO talvek_schema (version, applied_utc, tool_version) VALUES (?1, ?2, 'x')",
                {row.schema, kWhen});
        }
        std::string target = row.target.empty() ? reg().target() : row.target;
        Check(Base(row.name)
                  .File("TALVEK.conf", "registry = " + target + "\ndmi_dir = dmi\n")
                  .FailsWithBanner()
                  .Has("Error! MAC registry unavailable: ")
                  .Has(row.reason)
                  .Requests({}));
    }
}

// PostgreSQL lost between the write and the verdict: the run fails and says
// so, and the reservation made before the write stands.
TEST_P(RegistryTest, LostAfterTheWriteFailsKeepingTheReservation)
{
    if (GetParam() != Backend::kPostgres)
        GTEST_SKIP() << "a SQLite file cannot go away under an open connection";
    std::string db = reg().target().substr(reg().target().rfind('=') + 1);
    Check(Base("server gone after the write")
              .Setup(AtEachWrite("psql -qAt -d postgres -c \"SELECT pg_terminate_backend(pid) FROM "
                                 "pg_stat_activity WHERE datname = '" +
                                 db + "' AND pid <> pg_backend_pid()\""))
              .FailsWithBanner()
              .Has("Error! MAC registry unavailable: ")
              .Then([&](const Station &s, const Result &) {
                  EXPECT_EQ(Writes(s), 1);
                  EXPECT_EQ(reg().Held(kMac1), "reserved " + kGuid + "\n");
              }));
}

// A MAC released (for rework) between the write and the verdict is no
// longer this board's: no PASS.
TEST_P(RegistryTest, ReleasedDuringTheRunIsNoPass)
{
    Check(Base("released at the write")
              .Setup(AtEachWrite("'" TALVEK_REGISTRY_BIN "' --registry '" + reg().target() +
                                 "' release " + kMac1 + " --reason rework"))
              .FailsWithBanner()
              .Has("Error! MAC registry unavailable: MAC " + kMac1 +
                   " is no longer reserved for this board.\n"));
}

// Minimal readers of the two export formats: one map per record, by the header's names.
using Records = std::vector<std::map<std::string, std::string>>;

Records ParseCsv(const std::string &text)
{
    std::vector<std::vector<std::string>> lines(1, std::vector<std::string>(1));
    bool quoted = false;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c == '"' && !(quoted && text.compare(i, 2, "\"\"") == 0))
            quoted = !quoted;
        else if (!quoted && c == ',')
            lines.back().emplace_back();
        else if (!quoted && text.compare(i, 2, "\r\n") == 0 && ++i)
            lines.emplace_back(1);
        else
            lines.back().back() += text[i += quoted && c == '"'];  // a doubled quote is one
    }
    lines.pop_back();  // after the last CR LF
    Records out;
    for (size_t l = 1; l < lines.size(); l++) {
        EXPECT_EQ(lines[l].size(), lines[0].size()) << "line " << l;
        auto &row = out.emplace_back();
        for (size_t k = 0; k < lines[l].size() && k < lines[0].size(); k++)
            row[lines[0][k]] = lines[l][k];
    }
    return out;
}

// Flat JSON objects of strings, numbers, booleans and null; null reads as "".
Records ParseJsonLines(const std::string &text)
{
    Records out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        EXPECT_EQ(line.front(), '{');
        size_t i = 1;
        auto str = [&] {  // from the opening quote to past the closing one
            std::string s;
            for (i++; line[i] != '"'; i++) {
                char e = line[i] == '\\' ? line[++i] : 0;
                if (e == 'u')
                    s += static_cast<char>(std::stoi(line.substr(i + 1, 4), nullptr, 16));
                else
                    s += e == 'n' ? '\n' : line[i];
                i += e == 'u' ? 4 : 0;
            }
            i++;
            return s;
        };
        auto &row = out.emplace_back();
        while (i < line.size() && line[i] != '}') {
            std::string key = str(), value;
            if (line[++i] == '"') {
                value = str();
            } else {
                value = line.substr(i, line.find_first_of(",}", i) - i);
                i += value.size();
                static const std::map<std::string, std::string> words = {
                    {"null", ""}, {"true", "1"}, {"false", "0"}};
                value = words.count(value) ? words.at(value) : value;
            }
            row[key] = value;
            i += line[i] == ',';
        }
    }
    return out;
}

// Every run leaves its row, failures before programming included, and the
// export gives back exactly those rows, one per run and port.
TEST_P(RegistryTest, RunsOnRecordAndExported)
{
    const std::string station = "L3, \"west\"";  // a comma and quotes: the CSV must quote them
    Check(Base("PASS, both ports", station).Args({kArg1, kArg2}).Passes(kPassBoth));
    Check(Base("refused by the allow-list", station).Args({"1=112233445566"}).FailsWithBanner());
    Check(Base("no data file", station).Args({"1", "T"}).FailsWithBanner());
    const std::string where =
        " " + station + " 1\n";  // the third run stopped before the board was seen
    EXPECT_EQ(
        reg().Table(
            "SELECT verdict, exit_status, eth0_requested, eth0_readback, eth0_result, "
            "eth1_requested, eth1_result, CASE WHEN message IS NULL THEN 1 ELSE 0 END, board_key, station, "
            "CASE WHEN ended_utc >= started_utc THEN 1 ELSE 0 END "
            "FROM runs ORDER BY started_utc, run_id"),
        "PASS 0 " + kMac1 + " " + kMac1 + " PASS " + kMac2 + " PASS 1 " + kGuid + where +
            "FAIL 1 112233445566 NULL FAIL NULL NULL 0 " + kGuid + where +
            "FAIL 1 NULL NULL NULL NULL NULL 0 NULL" + where);

    // One row per run and port: 2 + 1, and one for the run that knew no port.
    auto per_port = reg().Rows(
        "SELECT run_id, station, 'eth0', COALESCE(eth0_requested, ''), COALESCE(eth0_result, ''), "
        "verdict, COALESCE(message, '') FROM runs "
        "WHERE eth0_requested IS NOT NULL OR eth0_result IS NOT NULL OR eth0_before IS NOT NULL "
        "UNION ALL SELECT run_id, station, 'eth1', COALESCE(eth1_requested, ''), COALESCE(eth1_result, ''), "
        "verdict, COALESCE(message, '') FROM runs "
        "WHERE eth1_requested IS NOT NULL OR eth1_result IS NOT NULL OR eth1_before IS NOT NULL "
        "UNION ALL SELECT run_id, station, '', '', '', verdict, COALESCE(message, '') FROM runs WHERE "
        "COALESCE(eth0_requested, eth0_result, eth0_before, eth1_requested, eth1_result, eth1_before) IS NULL");
    std::multiset<std::string> want;
    for (const auto &r : per_port)
        want.insert(Join(r, "|"));
    ASSERT_EQ(want.size(), 4u);
    Station s;
    for (const char *format : {"csv", "json"}) {
        SCOPED_TRACE(format);
        Result r = reg().Tool(s, {"export", "--format", format});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        std::multiset<std::string> have;
        for (auto &m : std::string(format) == "csv" ? ParseCsv(r.out) : ParseJsonLines(r.out))
            have.insert(m["run_id"] + "|" + m["station"] + "|" + m["port"] + "|" +
                        m["mac_requested"] + "|" + m["port_result"] + "|" + m["verdict"] + "|" +
                        m["message"]);
        EXPECT_EQ(have, want);
    }
    Result r = reg().Tool(s, {"export", "--format", "csv", "--since", "2999-01-01"});
    EXPECT_EQ(r.out.find("\r\n"), r.out.size() - 2) << "only the header row:\n" << r.out;
    r = reg().Tool(s, {"stats"});
    EXPECT_NE(r.out.find(" " + station + "  "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("3         1         2\n"), std::string::npos) << r.out;
}

// A database left by the first schema version is taken over by init and by TALVEK.
TEST_P(RegistryTest, SchemaUpgradeFromTheFirstVersion)
{
    REG_DB *db = reg().Open();
    char err[kDbErrorSize] = "";
    ASSERT_NE(db, nullptr);
    ASSERT_EQ(RegistryCreateSchemaAt(db, 1, err, sizeof err), 0) << err;
    RegDbClose(db);
    Station s;
    const char *done = kRegistrySchemaVersion == 1 ? "up to date" : "upgraded from version 1";
    for (int pass = 0; pass < 2; pass++) {
        Result r = reg().Tool(s, {"init"});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.out.find(done), std::string::npos) << r.out;
    }
    EXPECT_EQ(reg().Rows("SELECT max(version) FROM talvek_schema")[0][0],
              std::to_string(kRegistrySchemaVersion));
    Check(Base("on the upgraded schema").Passes(kPass1));
}

// talvek-registry check, the line items of a station check, in the station:
// the registry read back up to its latest run, the key the board is recorded
// under, and a registry whose schema this program does not know.
TEST_P(RegistryTest, StationCheck)
{
    Station s;
    Check(Base("a first run").Passes(kPass1), s);
    const std::string identity =
        "ok: board identity: System GUID " + kGuid + " (the key this board is recorded under)\n";
    const std::string started = reg().Rows("SELECT started_utc FROM runs")[0][0].value_or("");
    Result r = Tool(s, {"check"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find(", station st1: schema version " + std::to_string(kRegistrySchemaVersion) +
                         ", last run " + started + " at st1\n" + identity),
              std::string::npos)
        << r.out;

    reg().Exec(
        "INSERT INTO talvek_schema (version, applied_utc, tool_version) VALUES (?1, ?2, 'later')",
        {std::to_string(kRegistrySchemaVersion + 1), kWhen});
    r = Tool(s, {"check"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.out.find("FAIL: install the TALVEK the line uses: the registry "),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(" has schema version " + std::to_string(kRegistrySchemaVersion + 1) +
                         ", this one knows " + std::to_string(kRegistrySchemaVersion) + "\n" +
                         identity),
              std::string::npos)
        << r.out;
}

// The race the registry exists for: 16 boards, 16 stations, one MAC, all at
// once on an empty database. Each station's tool holds its run at its first
// MAC read, the last request before the reservation, until all 16 are
// there, then lets them go together.
TEST_P(RegistryTest, SixteenStationsOneMac)
{
    const int kStations = 16;
    char tmpl[] = "/tmp/talvek-gate-XXXXXX";
    const std::string gate_dir = mkdtemp(tmpl), gate = gate_dir + "/gate";
    int lock = open(gate.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    auto guid = [](int k) {
        char g[33];
        snprintf(g, sizeof g, "%032x", k + 1);
        return std::string(g);
    };
    std::vector<std::unique_ptr<Station>> stations;
    std::vector<Result> results(kStations);
    std::vector<std::thread> threads;
    for (int k = 0; k < kStations; k++) {
        Station *s = stations.emplace_back(std::make_unique<Station>()).get();
        s->write("TALVEK.conf", reg().conf("st" + std::to_string(k)));
        s->scenario("guid " + guid(k) + "\n");
        s->script_tool(
            "if [ \"$*\" = 'raw 0x3a 0xa1 0' ] && [ ! -e gated ]; then : > gated; : > '" +
            gate_dir + "/at.'$$; flock -s '" + gate + "' true; fi");
    }
    // Only once every station is made: a run forked meanwhile would hold the
    // script being written open, and its exec would fail.
    for (int k = 0; k < kStations; k++)
        threads.emplace_back([&, k] {
            Launch l;
            l.args = {kArg1};
            results[k] = ::Run(*stations[k], l);
        });
    auto arrived = [&] {
        int n = 0;
        for (const auto &e : std::filesystem::directory_iterator(gate_dir))
            n += e.path().filename().string().rfind("at.", 0) == 0;
        return n;
    };
    for (int spins = 0; arrived() < kStations && spins < 20000; spins++)
        usleep(1000);  // synchronisation with the 16 runs, not a timed wait
    EXPECT_EQ(arrived(), kStations) << "not every run reached the gate";
    flock(lock, LOCK_UN);
    for (auto &t : threads)
        t.join();
    close(lock);
    std::filesystem::remove_all(gate_dir);

    int passed = -1, pass_count = 0, refused = 0;
    for (int k = 0; k < kStations; k++) {
        const Result &r = results[k];
        bool refusal =
            r.exit_code == 1 && r.out.find("is already registered to board") != std::string::npos;
        EXPECT_TRUE(r.exit_code == 0 || refusal)
            << "station " << k << ": exit " << r.status() << "\n"
            << r.out << r.err;
        passed = r.exit_code == 0 ? k : passed;
        pass_count += r.exit_code == 0;
        refused += refusal;
        EXPECT_EQ(Writes(*stations[k]), r.exit_code == 0 ? 1 : 0) << "station " << k;
    }
    EXPECT_EQ(pass_count, 1);
    EXPECT_EQ(refused, kStations - 1);
    ASSERT_GE(passed, 0);
    EXPECT_EQ(reg().Held(kMac1), "verified " + guid(passed) + "\n");
    EXPECT_EQ(reg().Rows("SELECT run_id FROM runs").size(), static_cast<size_t>(kStations));
    std::cout << "race: station " << passed << " of " << kStations << " passed, " << refused
              << " refused\n";
}

INSTANTIATE_TEST_SUITE_P(On, RegistryTest, ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         [](const ::testing::TestParamInfo<Backend> &i) {
                             return i.param == Backend::kSqlite ? "Sqlite" : "Postgres";
                         });

// talvek-registry's exit statuses where no database answers.
TEST(RegistryTool, ExitStatus)
{
    // clang-format off
    struct { std::vector<std::string> args; int exit; std::string err; } rows[] = {
        {{"who", kMac1}, 1, "talvek-registry: no registry: there is no TALVEK.conf with a registry line"},
        {{"--registry", "sqlite:missing.db", "who", kMac1}, 1, "talvek-registry: no registry at missing.db"},
        {{"who"}, 2, "talvek-registry: the command needs a MAC\nTry \"talvek-registry --help\".\n"},
    };
    // clang-format on
    for (const auto &row : rows) {
        Station s;
        Result r = Tool(s, row.args);
        EXPECT_EQ(r.exit_code, row.exit) << r.err;
        EXPECT_EQ(r.err.rfind(row.err, 0), 0u) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_FALSE(s.exists("missing.db")) << "a mistyped registry was created";
    }
}

}  // namespace
