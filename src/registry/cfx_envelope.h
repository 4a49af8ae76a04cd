// CFX envelopes as the MES feed sends them: JSON built with nlohmann-json,
// shaped as the CFX SDK serialises them (2.1): MessageName, Version,
// TimeStamp with its time zone, UniqueID, Source, Target, RequestID and the
// MessageBody, whose first member "$type" names the SDK's class
// ("CFX.Production.WorkStarted, CFX"). No function here throws: text that is
// not UTF-8 is replaced, not refused.
#ifndef TALVEK_REGISTRY_CFX_ENVELOPE_H
#define TALVEK_REGISTRY_CFX_ENVELOPE_H

#include <string>

#include <nlohmann/json.hpp>

using CfxJson = nlohmann::ordered_json;  // members in the order they are set, as the SDK writes them

constexpr char kCfxVersion[] = "2.1";
constexpr int kCfxTimeSize = 30;  // "2026-12-07T11:05:00.123+00:00" and a terminator

// A message body that starts with its "$type" for the message name.
CfxJson CfxBody(const char *message_name);

// The envelope around body, as the text that goes on the wire.
std::string CfxEnvelopeText(const char *message_name, const char *handle, const char *unique_id,
                            const char *time_stamp, const CfxJson &body);

// A registry time ("2026-12-07T11:05:00.123Z", stamp.h) as CFX writes one,
// with its zone spelt out: "2026-12-07T11:05:00.123+00:00".
void CfxTime(const char *utc_stamp, char out[kCfxTimeSize]);

// The message's topic, its name without the last part: "CFX.Production" for
// "CFX.Production.WorkStarted" (the AMQP property cfx-topic).
std::string CfxTopic(const char *message_name);

#endif
