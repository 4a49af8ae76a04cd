// The simulated BMC: checks a raw request and answers it from the state,
// unless a scenario rule takes over.
#include <cstdio>
#include <cstring>

#include "sim.h"

static int Refuse(char *err, size_t errCap, const char *what)
{
    snprintf(err, errCap, "kovripmi: %s", what);
    return 1;
}

// argv: program, "raw", NetFn, command, data bytes. Fills *request and
// returns 0, or returns 1 with a message in err for anything malformed.
int ParseRequest(int argc, char **argv, SimRequest *request, char *err, size_t errCap)
{
    memset(request, 0, sizeof *request);
    if (argc < 2 || strcmp(argv[1], "raw") != 0)
        return Refuse(err, errCap, "usage: kovripmi raw <netfn> <cmd> [data...]");
    if (argc < 4)
        return Refuse(err, errCap, "raw: NetFn and command are required");
    if (argc - 2 > SIM_MAX_REQUEST_BYTES)
        return Refuse(err, errCap, "raw: too many bytes");
    request->ByteCount = argc - 2;
    for (int i = 0; i < request->ByteCount; i++) {
        if (ParseRequestByte(argv[i + 2], &request->Bytes[i]) != 0) {
            char what[96];
            snprintf(what, sizeof what, "raw: \"%.40s\" is not a byte (0x00..0xff or 0..255)",
                     argv[i + 2]);
            return Refuse(err, errCap, what);
        }
    }
    int netFn = request->Bytes[0];
    int cmd = request->Bytes[1];
    const int *data = request->Bytes + 2;
    int dataLen = request->ByteCount - 2;

    if (netFn == 0x06 && (cmd == 0x01 || cmd == 0x02 || cmd == 0x37)) {
        request->Kind = cmd == 0x01 ? KIND_GETID : cmd == 0x02 ? KIND_RESET : KIND_GUID;
        if (dataLen != 0)
            return Refuse(err, errCap, "request data length invalid");
        return 0;
    }
    if (netFn == 0x3a && cmd == 0xa1) {
        request->Kind = KIND_GETMAC;
        if (dataLen != 1)
            return Refuse(err, errCap, "Fast Get MAC: request data length invalid");
        if (data[0] > 1)
            return Refuse(err, errCap, "Fast Get MAC: position must be 0 or 1");
        request->Position = data[0];
        return 0;
    }
    if (netFn == 0x3a && cmd == 0xa0) {
        request->Kind = KIND_SETMAC;
        if (dataLen < 1)
            return Refuse(err, errCap, "Fast Set MAC: request data length invalid");
        request->Position = data[0];
        if (data[0] > 2)
            return Refuse(err, errCap, "Fast Set MAC: position must be 0, 1 or 2");
        int ports = data[0] == 2 ? 2 : 1;
        if (dataLen != 1 + 6 * ports)
            return Refuse(err, errCap, "Fast Set MAC: request data length invalid");
        for (int i = 0; i < 6 * ports; i++) {
            int port = data[0] == 2 ? i / 6 : data[0];
            request->Mac[port][i % 6] = (unsigned char)data[1 + i];
        }
        return 0;
    }
    char what[96];
    snprintf(what, sizeof what, "invalid command (netfn=0x%02x cmd=0x%02x)", netFn, cmd);
    return Refuse(err, errCap, what);
}

static void ReplyBytes(SimReply *reply, const unsigned char *bytes, size_t count)
{
    reply->OutLen = FormatReplyBytes(bytes, count, reply->Out, sizeof reply->Out);
    reply->Status = 0;
}

static void ReplyFailure(SimReply *reply, int status, const char *what)
{
    reply->OutLen = 0;
    reply->Status = status;
    snprintf(reply->Err, sizeof reply->Err, "kovripmi: %s", what);
}

static void ApplyRule(const SimRule *rule, SimReply *reply)
{
    char what[80];
    snprintf(what, sizeof what, "scripted exit status %d (" SIM_SCENARIO_FILE " line %d)",
             rule->Status, rule->Line);
    switch (rule->Action) {
    case ACT_FAIL:
    case ACT_EXIT:
        ReplyFailure(reply, rule->Status, what);
        break;
    case ACT_ERROR: {
        static const char text[] = "Error: the BMC refused the request\n";
        memcpy(reply->Out, text, sizeof text - 1);
        reply->OutLen = sizeof text - 1;
        reply->Status = rule->Status;
        break;
    }
    case ACT_BYTES:
        ReplyBytes(reply, rule->Data, rule->Len);
        reply->Status = rule->Status;
        break;
    case ACT_TEXT:
        memcpy(reply->Out, rule->Data, rule->Len);
        reply->OutLen = rule->Len;
        reply->Status = rule->Status;
        break;
    default:  // ACT_NOSTORE is handled by the caller
        break;
    }
}

static void StoreMac(const SimScenario *scenario, SimState *state, int port,
                     const unsigned char mac[6])
{
    if (scenario->SettleReads[port] > 0) {
        state->Pending[port] = 1;
        memcpy(state->PendingMac[port], mac, 6);
        state->PendingReads[port] = scenario->SettleReads[port];
    } else {
        state->Pending[port] = 0;
        memcpy(state->Mac[port], mac, 6);
    }
}

static void ReadMac(SimState *state, int port, SimReply *reply)
{
    if (state->Pending[port]) {
        if (state->PendingReads[port] > 0) {
            state->PendingReads[port]--;
        } else {
            memcpy(state->Mac[port], state->PendingMac[port], 6);
            state->Pending[port] = 0;
        }
    }
    ReplyBytes(reply, state->Mac[port], 6);
}

static void DeviceId(const SimScenario *scenario, SimReply *reply)
{
    const unsigned char *rev = scenario->Revision;
    const unsigned char bytes[15] = {
        0x20,                           // device ID
        0x01,                           // device revision
        rev[0],                         // firmware revision 1: device available flag, major
        rev[1],                         // firmware revision 2: minor, BCD
        0x02,                           // IPMI version 2.0
        0xbf,                           // additional device support
        0x00,   0x00,   0x00,           // manufacturer ID 0 (none)
        0x01,   0x00,                   // product ID
        rev[2], rev[3], rev[4], rev[5]  // auxiliary firmware revision
    };
    ReplyBytes(reply, bytes, sizeof bytes);
}

// Answers one well-formed request, updating *state. The order is:
// count the request; a Get Device ID during the unavailable period uses up
// one refusal; a matching scenario rule decides the answer; otherwise an
// unavailable BMC fails every request; otherwise the BMC answers normally.
void HandleRequest(const SimRequest *request, const SimScenario *scenario, SimState *state,
                   SimReply *reply)
{
    memset(reply, 0, sizeof *reply);
    int kind = request->Kind;
    if (state->Count[kind] < SIM_MAX_COUNT)
        state->Count[kind]++;
    if (kind == KIND_GETMAC && state->Count[KIND_GETMAC0 + request->Position] < SIM_MAX_COUNT)
        state->Count[KIND_GETMAC0 + request->Position]++;

    int down = state->Unavailable > 0;
    if (down && kind == KIND_GETID)
        state->Unavailable--;

    const SimRule *rule = FindRule(scenario, request, state);
    if (rule != nullptr && rule->Action != ACT_NOSTORE) {
        ApplyRule(rule, reply);
        return;
    }
    if (down) {
        ReplyFailure(reply, 1, "the BMC does not respond (cold reset in progress)");
        return;
    }
    switch (kind) {
    case KIND_GETID:
        DeviceId(scenario, reply);
        break;
    case KIND_RESET:
        state->Unavailable = scenario->ResetUnavailable;
        ReplyBytes(reply, nullptr, 0);
        break;
    case KIND_GETMAC:
        ReadMac(state, request->Position, reply);
        break;
    case KIND_SETMAC:
        if (rule == nullptr) {
            for (int port = 0; port < 2; port++)
                if (request->Position == 2 || request->Position == port)
                    StoreMac(scenario, state, port, request->Mac[port]);
        }
        ReplyBytes(reply, nullptr, 0);
        break;
    case KIND_GUID:
        if (scenario->HasGuid)
            ReplyBytes(reply, scenario->Guid, 16);
        else
            ReplyFailure(reply, 1, "Get System GUID: not supported (no guid line in the scenario)");
        break;
    default:
        break;
    }
}
