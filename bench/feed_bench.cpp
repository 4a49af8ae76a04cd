// The MES feed's cost: the outbox insert a run pays for (in this process,
// the run's final transaction with and without cfx_handle, many times), and
// how fast talvek-registry relay empties the outbox into a local broker.
#include "feed_bench.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "registry/runs.h"
#include "registry/schema.h"

namespace {

const int kTransactions = 400;
const int kRelayRuns = 1250;  // 5,000 messages

double NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A two-port PASS as the final transaction writes it.
bool OpenRun(const std::string &target, REGISTRY_RUN *run)
{
    *run = REGISTRY_RUN{};
    DefaultRegistryConf(&run->Conf);
    char err[kDbErrorSize];
    if (ParseRegistryTarget(target.c_str(), &run->Conf, err, sizeof err) != 0 ||
        RegDbOpen(&run->Conf, &run->Db, err, sizeof err) != 0 ||
        RegistryEnsureSchema(run->Db, nullptr, err, sizeof err) != 0) {
        fprintf(stderr, "feed_bench: %s: %s\n", target.c_str(), err);
        return false;
    }
    snprintf(run->Identity.Key, sizeof run->Identity.Key, "BENCH-0001");
    UtcStamp(run->Started);
    const uint8_t mac[2][6] = {{2, 0xAB, 0x3C, 0x56, 1, 0xA1}, {2, 0xAB, 0x3C, 0x56, 1, 0xA2}};
    for (int p = 0; p < 2; p++) {
        run->PortFlags[p] = REG_SELECTED | REG_PASSED | REG_HAVE_REQUESTED | REG_HAVE_READBACK;
        std::copy(mac[p], mac[p] + 6, run->Requested[p]);
        std::copy(mac[p], mac[p] + 6, run->Readback[p]);
    }
    return true;
}

// Median milliseconds of the final transaction (runs row, and the outbox
// with a handle), alternating without and with, so both meet the same load.
void TransactionCost(const char *label, const std::string &target, std::vector<FEED_FIGURE> *out)
{
    REGISTRY_RUN run;
    if (!OpenRun(target, &run))
        return;
    std::vector<double> plain, feed;
    char err[kDbErrorSize];
    for (int i = 0; i < 2 * kTransactions; i++) {
        bool with = i % 2 == 1;
        snprintf(run.Conf.CfxHandle, sizeof run.Conf.CfxHandle, "%s", with ? "Bench.Mac.SN1" : "");
        NewUuid(run.RunId);
        double t0 = NowMs();
        if (RegistryAppendRun(&run, "PASS", 0, err, sizeof err) != 0) {
            fprintf(stderr, "feed_bench: %s\n", err);
            break;
        }
        (with ? feed : plain).push_back(NowMs() - t0);
    }
    RegDbClose(run.Db);
    if (plain.empty() || feed.empty())
        return;
    double cost = Median(feed) - Median(plain);
    char measured[160];
    snprintf(measured, sizeof measured, "%.2f ms (final transaction: median %.2f ms with, %.2f ms without)",
             cost, Median(feed), Median(plain));
    out->push_back({std::string("MES feed cost of a run, ") + label +
                        " (cfx_handle set minus unset, median of " + std::to_string(kTransactions) + " each)",
                    measured, "1 ms", cost > 1.0});
}

void RelayRate(const std::string &dir, const char *amqp_url, std::vector<FEED_FIGURE> *out)
{
    const std::string figure = "talvek-registry relay --once to a local RabbitMQ, 5,000 messages";
    if (amqp_url == nullptr) {
        out->push_back({figure, "not measured: no broker (scripts/bench starts one with "
                                "tests/feed/rabbitmq_broker.sh)", "-", false});
        return;
    }
    std::string db = dir + "/relay.db";
    REGISTRY_RUN run;
    if (!OpenRun("sqlite:" + db, &run))
        return;
    snprintf(run.Conf.CfxHandle, sizeof run.Conf.CfxHandle, "Bench.Mac.SN1");
    char err[kDbErrorSize];
    for (int i = 0; i < kRelayRuns; i++) {
        NewUuid(run.RunId);
        if (RegistryAppendRun(&run, "PASS", 0, err, sizeof err) != 0) {
            fprintf(stderr, "feed_bench: %s\n", err);
            break;
        }
    }
    RegDbClose(run.Db);
    std::string command = "'" REGISTRY_BIN "' --registry 'sqlite:" + db + "' relay --once --amqp '" +
                          amqp_url + "' >/dev/null 2>&1";
    double t0 = NowMs();
    int status = system(command.c_str());
    double s = (NowMs() - t0) / 1e3;
    double rate = kRelayRuns * 4 / s;
    char measured[160];
    snprintf(measured, sizeof measured, "%.0f messages/s (%.2f s, the whole command)", rate, s);
    out->push_back({figure + (status == 0 ? "" : " (the relay FAILED)"), measured, "500 messages/s",
                    status != 0 || rate < 500});
}

}  // namespace

std::vector<FEED_FIGURE> FeedFigures(const std::string &dir, const char *pg_server,
                                     const char *amqp_url)
{
    std::vector<FEED_FIGURE> out;
    TransactionCost("SQLite", "sqlite:" + dir + "/feed.db", &out);
    if (pg_server)
        TransactionCost("PostgreSQL on a local socket", pg_server, &out);
    RelayRate(dir, amqp_url, &out);
    return out;
}
