// talvek-registry relay: publishes the outbox to an AMQP 1.0 broker with
// Qpid Proton C++. Proton reports through exceptions and handler classes;
// both stay in this file, behind RegToolRelay's plain int status.
//
// One batch at a time: the oldest pending rows are sent (in order, as far
// as the broker's credit goes), and the next batch is read only once every
// message of this one is settled. A row becomes 'sent' only on the broker's
// "accepted"; a refusal counts against it (relay_store.h); a release, a
// lost connection or a refused link leave it pending for the next attempt
// after a pause that doubles up to kMaxBackoffMs. A message may so arrive
// twice, never not at all; its UniqueID tells the copies apart.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include <proton/connection.hpp>
#include <proton/connection_options.hpp>
#include <proton/container.hpp>
#include <proton/error_condition.hpp>
#include <proton/message.hpp>
#include <proton/message_id.hpp>
#include <proton/messaging_handler.hpp>
#include <proton/sender.hpp>
#include <proton/sender_options.hpp>
#include <proton/target_options.hpp>
#include <proton/tracker.hpp>
#include <proton/transport.hpp>
#include <proton/work_queue.hpp>

#include "registry/cfx_envelope.h"
#include "registry/stamp.h"
#include "registry_tool/commands.h"
#include "registry_tool/relay_store.h"

namespace {

constexpr int kBatch = 500;
constexpr int kTickMs = 250;             // signals and idle polls are seen this often
constexpr int kPollMs = 1000;            // an idle relay looks for new rows this often
constexpr int kHeartbeatMs = 60000;      // CFX Heartbeat
constexpr int kPurgeMs = 3600000;        // sent rows past --keep-days are removed hourly
constexpr int kFirstBackoffMs = 1000;
constexpr int kMaxBackoffMs = 30000;
constexpr int kShutdownGraceMs = 2000;   // for EndpointShuttingDown to be settled
constexpr char kContentType[] = "application/json; charset=\"utf-8\"";

volatile sig_atomic_t gStop = 0;

void OnStopSignal(int)
{
    gStop = 1;
}

// The URL as it may be shown: without "user:password@".
std::string Shown(const std::string &url)
{
    size_t scheme = url.find("://");
    size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    size_t at = url.find('@', start);
    return at == std::string::npos ? url : url.substr(0, start) + url.substr(at + 1);
}

// The relay's own endpoint handle: TALVEK.conf's cfx_handle, else one made
// from the station name.
std::string RelayHandle(const REGISTRY_CONF *conf)
{
    if (conf->CfxHandle[0] != '\0')
        return conf->CfxHandle;
    std::string h = "TALVEK.talvek-registry.";
    for (const char *p = conf->Station; *p; p++) {
        bool ok = (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9') ||
                  *p == '-' || *p == '_';
        h += ok ? *p : '_';
    }
    return h;
}

class Relay : public proton::messaging_handler {
public:
    Relay(REG_DB *db, const REGTOOL_ARGS *args, std::string handle)
        : db_(db), args_(args), handle_(std::move(handle))
    {
    }
    int status() const { return status_; }
    long published() const { return published_; }
    long dead() const { return dead_; }

    void on_container_start(proton::container &c) override
    {
        container_ = &c;
        c.auto_stop(false);
        Purge();
        Connect();
        Schedule(kTickMs, &Relay::Tick);
    }

    void on_connection_open(proton::connection &conn) override
    {
        proton::sender_options so;
        so.target(proton::target_options().address(args_->Address));
        conn.open_sender(args_->Address, so);
    }

    void on_sender_open(proton::sender &s) override
    {
        sender_ = s;
        connected_ = true;
        generation_++;  // the ticks move into this connection's context
        Schedule(kTickMs, &Relay::Tick);
        backoff_ms_ = 0;
        printf("Relay: publishing to %s, address %s, as %s\n", Shown(args_->Amqp).c_str(),
               args_->Address, handle_.c_str());
        fflush(stdout);
        SendEndpoint("CFX.EndpointConnected");
        Pump();
    }

    void on_sendable(proton::sender &) override { Pump(); }

    void on_tracker_accept(proton::tracker &t) override
    {
        auto it = inflight_.find(Tag(t));
        if (it == inflight_.end())
            return;
        accepted_.push_back(it->second);
        published_++;
        inflight_.erase(it);
        Settled();
    }

    void on_tracker_reject(proton::tracker &t) override
    {
        auto it = inflight_.find(Tag(t));
        if (it == inflight_.end())
            return;
        // This Proton gives a tracker's outcome, not the broker's reason.
        std::string why = "rejected by the broker";
        int dead = 0;
        char err[kDbErrorSize];
        if (RelayMarkRejected(db_, it->second, why.c_str(), &dead, err, sizeof err) != 0) {
            Fatal(std::string("MAC registry unavailable: ") + err);
            return;
        }
        if (dead) {
            dead_++;
            RegToolError("relay: the broker refused message %s %d times, it is now dead: %s",
                         it->second.c_str(), kRelayMaxRejections, why.c_str());
        }
        // A drain (--once) tries again at once: a refusal is counted, so
        // the message is dead after kRelayMaxRejections tries.
        pause_ = !args_->Once;
        inflight_.erase(it);
        Settled();
    }

    void on_tracker_release(proton::tracker &t) override
    {
        auto it = inflight_.find(Tag(t));
        if (it == inflight_.end())
            return;
        // The broker could not take it now: it stays pending. A drain
        // (--once) ends here rather than waiting; the next one sends it.
        std::string id = it->second;
        inflight_.erase(it);
        if (args_->Once && !stopping_) {
            RegToolError("relay: the broker released message %s; it stays pending", id.c_str());
            status_ = 1;
            Stop();
        }
        pause_ = true;
        Settled();
    }

    void on_tracker_settle(proton::tracker &t) override
    {
        // Endpoint messages need no outcome; they only hold up the shutdown.
        if (Tag(t).rfind("e", 0) == 0 && --endpoint_inflight_ == 0 && stopping_)
            Finish();
    }

    void on_transport_error(proton::transport &t) override { Lost(t.error().what()); }
    void on_connection_error(proton::connection &c) override { Lost(c.error().what()); }
    void on_sender_error(proton::sender &s) override { Lost(s.error().what()); }
    void on_error(const proton::error_condition &e) override { Lost(e.what()); }

private:
    typedef void (Relay::*Step)();

    // Work that touches the link runs in the connection's own context, so
    // that what it sends is flushed; without a connection, in the
    // container's. A step scheduled on a connection that is then lost never
    // runs: the generation lets Lost() start the ticks afresh.
    void Schedule(int ms, Step step)
    {
        long gen = generation_;
        auto run = [this, step, gen] {
            if (gen == generation_)
                (this->*step)();
        };
        if (connected_)
            connection_.work_queue().schedule(proton::duration(ms), run);
        else
            container_->schedule(proton::duration(ms), run);
    }

    static std::string Tag(const proton::tracker &t)
    {
        proton::binary b = t.tag();
        return std::string(b.begin(), b.end());
    }

    void Connect()
    {
        proton::connection_options co;
        co.sasl_allow_insecure_mechs(true);
        const char *user = getenv("TALVEK_AMQP_USER");
        const char *password = getenv("TALVEK_AMQP_PASSWORD");
        if (user && *user)
            co.user(user);
        if (password && *password)
            co.password(password);
        connecting_ = true;
        try {
            connection_ = container_->connect(args_->Amqp, co);
        } catch (const std::exception &e) {
            Lost(e.what());
        }
    }

    // The connection or the link is gone: what is in flight stays pending.
    void Lost(const std::string &why)
    {
        if (done_)
            return;
        connecting_ = false;
        connected_ = false;
        generation_++;
        Schedule(kTickMs, &Relay::Tick);
        inflight_.clear();
        endpoint_inflight_ = 0;
        batch_.clear();
        next_ = 0;
        Commit();
        if (stopping_ || args_->Once) {
            if (!stopping_ || args_->Once)
                RegToolError("relay: broker %s: %s", Shown(args_->Amqp).c_str(), why.c_str());
            if (args_->Once && !stopping_)
                status_ = 1;
            Finish();
            return;
        }
        backoff_ms_ = backoff_ms_ == 0 ? kFirstBackoffMs : std::min(backoff_ms_ * 2, kMaxBackoffMs);
        RegToolError("relay: broker %s: %s; trying again in %d s", Shown(args_->Amqp).c_str(),
                     why.c_str(), backoff_ms_ / 1000);
        try {
            if (connection_ && connection_.active())
                connection_.close();
        } catch (const std::exception &) {
        }
        Schedule(backoff_ms_, &Relay::Reconnect);
    }

    void Reconnect()
    {
        if (!done_ && !stopping_)
            Connect();
    }

    void Fatal(const std::string &why)
    {
        RegToolError("relay: %s", why.c_str());
        status_ = 1;
        stopping_ = true;
        Finish();
    }

    proton::message Message(const std::string &id, const std::string &name,
                            const std::string &handle, const std::string &envelope)
    {
        proton::message m;
        m.id(proton::message_id(id));
        m.subject(handle + "." + name);
        m.reply_to(handle);
        m.content_type(kContentType);
        m.durable(true);
        m.body(proton::binary(envelope));
        m.inferred(true);  // a data section, as the CFX SDK sends it
        m.properties().put("cfx-topic", CfxTopic(name.c_str()));
        m.properties().put("cfx-message", name);
        m.properties().put("cfx-handle", handle);
        m.properties().put("cfx-target", nullptr);
        return m;
    }

    void SendEndpoint(const char *name)
    {
        char id[kUuidSize], stamp[kStampSize], when[kCfxTimeSize];
        if (NewUuid(id) != 0)
            return;
        UtcStamp(stamp);
        CfxTime(stamp, when);
        CfxJson body = CfxBody(name);
        body["CFXHandle"] = handle_;
        if (strcmp(name, "CFX.EndpointConnected") == 0) {
            body["RequestNetworkUri"] = nullptr;
            body["RequestTargetAddress"] = nullptr;
        } else if (strcmp(name, "CFX.Heartbeat") == 0) {
            body["HeartbeatFrequency"] = "00:01:00";
            body["ActiveFaults"] = nullptr;
            body["ActiveRecipes"] = nullptr;
        }
        std::string envelope = CfxEnvelopeText(name, handle_.c_str(), id, when, body);
        std::string tag = "e" + std::to_string(++serial_);
        sender_.send(Message(id, name, handle_, envelope), proton::binary(tag));
        endpoint_inflight_++;
    }

    // Sends what the broker has credit for; reads the next batch once the
    // last one is settled.
    void Pump()
    {
        if (!connected_ || stopping_ || pause_)
            return;
        if (next_ >= batch_.size() && inflight_.empty()) {
            Commit();
            if (!Fetch())
                return;
        }
        while (next_ < batch_.size() && sender_.credit() > 0) {
            const OUTBOX_ROW &r = batch_[next_++];
            std::string tag = "m" + std::to_string(++serial_);
            sender_.send(Message(r.UniqueId, r.Name, r.Handle, r.Envelope), proton::binary(tag));
            inflight_[tag] = r.UniqueId;
        }
    }

    // 1 when there is something to send.
    int Fetch()
    {
        char err[kDbErrorSize];
        batch_.clear();
        next_ = 0;
        if (RelayFetch(db_, kBatch, &batch_, err, sizeof err) != 0) {
            Fatal(std::string("MAC registry unavailable: ") + err);
            return 0;
        }
        if (batch_.empty() && args_->Once)
            Stop();
        return !batch_.empty();
    }

    void Commit()
    {
        char err[kDbErrorSize];
        if (RelayMarkSent(db_, accepted_, err, sizeof err) != 0)
            Fatal(std::string("MAC registry unavailable: ") + err);
        accepted_.clear();
    }

    void Settled()
    {
        if (next_ < batch_.size() || !inflight_.empty())
            return;
        Commit();
        if (pause_) {  // a refusal or a release: the next attempt after a pause
            backoff_ms_ = backoff_ms_ == 0 ? kFirstBackoffMs : std::min(backoff_ms_ * 2, kMaxBackoffMs);
            Schedule(backoff_ms_, &Relay::Resume);
            return;
        }
        backoff_ms_ = 0;
        Pump();
    }

    void Resume()
    {
        pause_ = false;
        Pump();
    }

    void Tick()
    {
        if (done_)
            return;
        if (gStop && !stopping_)
            Stop();
        if (!stopping_ && connected_) {
            elapsed_ms_ += kTickMs;
            if (elapsed_ms_ % kPollMs == 0 && next_ >= batch_.size() && inflight_.empty())
                Pump();
            if (elapsed_ms_ % kHeartbeatMs == 0)
                SendEndpoint("CFX.Heartbeat");
            if (elapsed_ms_ % kPurgeMs == 0)
                Purge();
        }
        Schedule(kTickMs, &Relay::Tick);
    }

    void Purge()
    {
        long removed = 0;
        char err[kDbErrorSize];
        if (RelayPurge(db_, args_->KeepDays, &removed, err, sizeof err) != 0)
            RegToolError("relay: sent messages not removed: %s", err);
    }

    // Stops taking rows: what is in flight is waited for, then
    // EndpointShuttingDown goes out, then the connection closes.
    void Stop()
    {
        if (stopping_)
            return;
        stopping_ = true;
        if (!connected_) {
            Finish();
            return;
        }
        if (!inflight_.empty() || next_ < batch_.size()) {
            batch_.resize(next_);  // nothing more of this batch is sent
        }
        SendEndpoint("CFX.EndpointShuttingDown");
        connection_.work_queue().schedule(proton::duration(kShutdownGraceMs), [this] { Finish(); });
    }

    void Finish()
    {
        if (done_)
            return;
        if (!inflight_.empty() && connected_)
            return;  // on_tracker_* call back here
        done_ = true;
        Commit();
        try {
            if (connected_ && connection_.active()) {
                connection_.close();  // on_transport_close stops the container
                return;
            }
        } catch (const std::exception &) {
        }
        container_->stop();
    }

    void on_transport_close(proton::transport &) override
    {
        if (done_)
            container_->stop();
    }

    REG_DB *db_;
    const REGTOOL_ARGS *args_;
    std::string handle_;
    proton::container *container_ = nullptr;
    proton::connection connection_;
    proton::sender sender_;
    std::vector<OUTBOX_ROW> batch_;
    size_t next_ = 0;
    std::map<std::string, std::string> inflight_;  // delivery tag -> unique_id
    std::vector<std::string> accepted_;            // not yet marked sent
    int endpoint_inflight_ = 0;
    long serial_ = 0;
    long elapsed_ms_ = 0;
    long generation_ = 0;
    int backoff_ms_ = 0;
    bool connecting_ = false, connected_ = false, pause_ = false, stopping_ = false,
         done_ = false;
    int status_ = 0;
    long published_ = 0, dead_ = 0;
};

}  // namespace

int RegToolRelay(REG_DB *db, const REGISTRY_CONF *conf, const REGTOOL_ARGS *args)
{
    char err[kDbErrorSize];
    int rc = RelayLock(db, err, sizeof err);
    if (rc == 2)
        return RegToolError("another relay is publishing from this registry; this one stops");
    if (rc != 0)
        return RegToolError("relay lock: %s", err);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnStopSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    Relay relay(db, args, RelayHandle(conf));
    int status = 0;
    try {
        proton::container container(relay, "talvek-registry-relay");
        container.run();
        status = relay.status();
    } catch (const std::exception &e) {
        status = RegToolError("relay: %s", e.what());
    }
    printf("Relay: %ld messages published, %ld moved to dead.\n", relay.published(), relay.dead());
    return status;
}
