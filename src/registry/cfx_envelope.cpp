#include "registry/cfx_envelope.h"

#include <cstdio>
#include <cstring>

CfxJson CfxBody(const char *message_name)
{
    CfxJson body = CfxJson::object();
    body["$type"] = std::string(message_name) + ", CFX";
    return body;
}

std::string CfxEnvelopeText(const char *message_name, const char *handle, const char *unique_id,
                            const char *time_stamp, const CfxJson &body)
{
    CfxJson envelope = CfxJson::object();
    envelope["MessageName"] = message_name;
    envelope["Version"] = kCfxVersion;
    envelope["TimeStamp"] = time_stamp;
    envelope["UniqueID"] = unique_id;
    envelope["Source"] = handle;
    envelope["Target"] = nullptr;
    envelope["RequestID"] = nullptr;
    envelope["MessageBody"] = body;
    return envelope.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void CfxTime(const char *utc_stamp, char out[kCfxTimeSize])
{
    size_t n = strlen(utc_stamp);
    if (n > 0 && utc_stamp[n - 1] == 'Z')
        n--;
    snprintf(out, kCfxTimeSize, "%.*s+00:00", static_cast<int>(n < 23 ? n : 23), utc_stamp);
}

std::string CfxTopic(const char *message_name)
{
    const char *dot = strrchr(message_name, '.');
    return dot == nullptr ? std::string(message_name)
                          : std::string(message_name, static_cast<size_t>(dot - message_name));
}
