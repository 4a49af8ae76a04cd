#include "registry/outbox.h"

#include <cstdio>
#include <cstring>

#include "mac.h"
#include "registry/cfx_envelope.h"
#include "registry/mac48.h"

static const char *const kNames[kOutboxParts] = {
    "CFX.Production.WorkStarted",
    "CFX.Production.Assembly.UnitsPersonalized",
    "CFX.Production.TestAndInspection.UnitsTested",
    "CFX.Production.WorkCompleted",
};

static const char kTestName[] = "MAC read-back";

// What one run's messages share.
struct RUN_FACTS {
    const REGISTRY_RUN *Run;
    CfxJson Unit;            // the board's identifier, or null
    const char *Result;      // TestResult: Passed | Failed | Aborted
    const char *WorkResult;  // Completed | Failed | Aborted
    char Started[kCfxTimeSize];
    char Now[kCfxTimeSize];
};

static CfxJson Dashed(const uint8_t mac[6])
{
    char text[kMacDashedSize];
    MacDashedText(mac, text);
    return text;
}

// The MAC a port was to end with: the requested one, or in the offset mode
// eth0's, which the run read and kept. nullptr when the run knew none.
static const uint8_t *ExpectedMac(const REGISTRY_RUN *run, int port)
{
    int flags = run->PortFlags[port];
    if (flags & REG_HAVE_REQUESTED)
        return run->Requested[port];
    if (flags & REG_HAVE_BEFORE)
        return run->Before[port];
    return nullptr;
}

static CfxJson BoardIdentifier(const BOARD_IDENTITY *id)
{
    if (id->Key[0] != '\0')
        return id->Key;
    if (id->Present[ID_PRODUCT_SERIAL] && !id->Placeholder[ID_PRODUCT_SERIAL])
        return id->Value[ID_PRODUCT_SERIAL];
    return nullptr;
}

static CfxJson WorkStarted(const RUN_FACTS *f)
{
    CfxJson body = CfxBody(kNames[0]);
    body["PrimaryIdentifier"] = f->Unit;
    body["HermesIdentifier"] = nullptr;
    body["TransactionID"] = f->Run->RunId;
    body["Lane"] = nullptr;
    CfxJson units = CfxJson::array();
    if (!f->Unit.is_null())
        units.push_back({{"UnitIdentifier", f->Unit},
                         {"PositionNumber", 1},
                         {"PositionName", nullptr},
                         {"X", 0.0},
                         {"Y", 0.0},
                         {"Rotation", 0.0},
                         {"FlipX", false},
                         {"FlipY", false}});
    body["UnitCount"] = units.size();
    body["Units"] = units;
    return body;
}

// Only ports that passed hold the MAC the run meant them to: programmed and
// read back, or kept as the board had it. None: no message.
static int UnitsPersonalized(const RUN_FACTS *f, CfxJson *body)
{
    CfxJson characteristics = CfxJson::array();
    for (int port = 0; port < 2; port++) {
        int flags = f->Run->PortFlags[port];
        const uint8_t *mac = ExpectedMac(f->Run, port);
        if (!(flags & REG_SELECTED) || !(flags & REG_PASSED) || mac == nullptr)
            continue;
        characteristics.push_back(
            {{"Name", port == 0 ? "MAC Address eth0" : "MAC Address eth1"}, {"Value", Dashed(mac)}});
    }
    if (characteristics.empty())
        return 0;
    *body = CfxBody(kNames[1]);
    (*body)["TransactionId"] = f->Run->RunId;
    (*body)["PersonalizedUnits"] = CfxJson::array(
        {{{"UnitIdentifier", f->Unit}, {"UnitPositionNumber", 1}, {"Characteristics", characteristics}}});
    return 1;
}

static int UnitsTested(const RUN_FACTS *f, CfxJson *body, char *err, size_t err_size)
{
    const REGISTRY_RUN *run = f->Run;
    CfxJson measurements = CfxJson::array();
    for (int port = 0; port < 2; port++) {
        int flags = run->PortFlags[port];
        if (!(flags & REG_SELECTED))
            continue;
        char id[kUuidSize];
        if (NewUuid(id) != 0) {
            snprintf(err, err_size, "no message id: /dev/urandom cannot be read");
            return 1;
        }
        const uint8_t *expected = ExpectedMac(run, port);
        const char *result = (flags & REG_PASSED) ? "Passed"
                             : strcmp(f->Result, "Aborted") == 0 ? "Aborted"
                                                                  : "Failed";
        CfxJson m = CfxBody("CFX.Structures.TextMeasurement");
        m["Value"] = (flags & REG_HAVE_READBACK) ? Dashed(run->Readback[port]) : CfxJson();
        m["ExpectedValue"] = expected != nullptr ? Dashed(expected) : CfxJson();
        m["UniqueIdentifier"] = id;
        m["MeasurementName"] = port == 0 ? "MAC Address eth0" : "MAC Address eth1";
        m["TimeRecorded"] = f->Now;
        m["Sequence"] = measurements.size() + 1;
        m["Result"] = result;
        m["Components"] = nullptr;
        measurements.push_back(m);
    }
    char test_id[kUuidSize];
    if (NewUuid(test_id) != 0) {
        snprintf(err, err_size, "no message id: /dev/urandom cannot be read");
        return 1;
    }
    CfxJson test = {{"UniqueIdentifier", test_id},
                    {"TestName", kTestName},
                    {"TestStartTime", f->Started},
                    {"TestEndTime", f->Now},
                    {"TestConditions", CfxJson::array()},
                    {"TestProcedure", nullptr},
                    {"Comments", run->Message[0] != '\0' ? CfxJson(run->Message) : CfxJson()},
                    {"Result", f->Result},
                    {"Error", nullptr},
                    {"SymptomsFound", CfxJson::array()},
                    {"DefectsFound", CfxJson::array()},
                    {"Measurements", measurements}};
    *body = CfxBody(kNames[2]);
    (*body)["TransactionId"] = run->RunId;
    (*body)["TestMethod"] = "Automated";
    (*body)["Tester"] = nullptr;
    (*body)["SamplingInformation"] = nullptr;
    (*body)["TestedUnits"] = CfxJson::array({{{"UnitIdentifier", f->Unit},
                                              {"UnitPositionNumber", 1},
                                              {"OverallResult", f->Result},
                                              {"Tests", CfxJson::array({test})}}});
    return 0;
}

static CfxJson WorkCompleted(const RUN_FACTS *f)
{
    CfxJson body = CfxBody(kNames[3]);
    body["TransactionID"] = f->Run->RunId;
    body["Result"] = f->WorkResult;
    return body;
}

static int Seal(const RUN_FACTS *f, int part, const char *time_stamp, const CfxJson &body,
                std::vector<OUTBOX_MESSAGE> *messages, char *err, size_t err_size)
{
    OUTBOX_MESSAGE &m = messages->emplace_back();
    m.Part = part;
    m.Name = kNames[part - 1];
    if (NewUuid(m.UniqueId) != 0) {
        snprintf(err, err_size, "no message id: /dev/urandom cannot be read");
        return 1;
    }
    m.Envelope = CfxEnvelopeText(m.Name, f->Run->Conf.CfxHandle, m.UniqueId, time_stamp, body);
    return 0;
}

int OutboxBuildRun(const REGISTRY_RUN *run, const char *verdict,
                   std::vector<OUTBOX_MESSAGE> *messages, char *err, size_t err_size)
{
    RUN_FACTS f;
    f.Run = run;
    f.Unit = BoardIdentifier(&run->Identity);
    int pass = strcmp(verdict, "PASS") == 0;
    int aborted = strcmp(verdict, "ABORTED") == 0;
    f.Result = pass ? "Passed" : aborted ? "Aborted" : "Failed";
    f.WorkResult = pass ? "Completed" : aborted ? "Aborted" : "Failed";
    char now[kStampSize];
    UtcStamp(now);
    CfxTime(run->Started, f.Started);
    CfxTime(now, f.Now);
    messages->clear();
    // WorkStarted tells of the start, so it carries the start's time.
    if (Seal(&f, 1, f.Started, WorkStarted(&f), messages, err, err_size) != 0)
        return 1;
    CfxJson body;
    if (UnitsPersonalized(&f, &body) && Seal(&f, 2, f.Now, body, messages, err, err_size) != 0)
        return 1;
    if (UnitsTested(&f, &body, err, err_size) != 0 ||
        Seal(&f, 3, f.Now, body, messages, err, err_size) != 0)
        return 1;
    return Seal(&f, 4, f.Now, WorkCompleted(&f), messages, err, err_size);
}

int OutboxAddRun(REG_DB *db, const REGISTRY_RUN *run, const char *verdict, char *err,
                 size_t err_size)
{
    if (run->Conf.CfxHandle[0] == '\0')
        return 0;
    std::vector<OUTBOX_MESSAGE> messages;
    if (OutboxBuildRun(run, verdict, &messages, err, err_size) != 0)
        return 1;
    char enqueued[kStampSize];
    UtcStamp(enqueued);
    static const char kParts[kOutboxParts][2] = {"1", "2", "3", "4"};
    // One statement for all of them: one round trip inside a transaction
    // the run already pays for.
    std::string sql = "INSERT INTO outbox (unique_id, run_id, part, enqueued_utc, message_name,"
                      " handle, envelope, state, rejections) VALUES ";
    std::vector<const char *> params;
    for (const OUTBOX_MESSAGE &m : messages) {
        int n = static_cast<int>(params.size());
        char row[160];
        snprintf(row, sizeof(row), "%s(?%d, ?%d, ?%d, ?%d, ?%d, ?%d, ?%d, 'pending', 0)",
                 n == 0 ? "" : ", ", n + 1, n + 2, n + 3, n + 4, n + 5, n + 6, n + 7);
        sql += row;
        for (const char *p : {static_cast<const char *>(m.UniqueId), run->RunId, kParts[m.Part - 1],
                              static_cast<const char *>(enqueued), m.Name, run->Conf.CfxHandle,
                              m.Envelope.c_str()})
            params.push_back(p);
    }
    return RegDbExec(db, sql.c_str(), static_cast<int>(params.size()), params.data(), nullptr, err,
                     err_size);
}
