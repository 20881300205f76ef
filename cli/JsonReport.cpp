#include "cli/JsonReport.h"

#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "firmware/Crc16.h"
#include "outcome/RunRecord.h"
#include "outcome/CheckSummary.h"

std::string JsonReport(const RunRecord& result)
{
    nlohmann::ordered_json json;
    json["command"] = result.command;
    if (result.portOpened)
        json["port"] = {{"name", result.portName}, {"device", result.portDevice}};
    else
        json["port"] = nullptr;

    if (result.fileGiven) {
        nlohmann::ordered_json file;
        file["path"] = result.filePath;
        file["size"] = result.fileSize;
        if (result.fileCrc16) {
            file["crc16"] = Crc16Text(*result.fileCrc16);
        } else {
            file["crc16"] = nullptr;
        }
        file["model"] = result.fileModel;
        file["version"] = result.fileVersion;
        file["valid"] = result.fileValid;
        json["file"] = file;
    } else {
        json["file"] = nullptr;
    }

    if (result.switchRead)
        json["switch"] = {{"model", result.switchModel}, {"date", result.switchDate}};
    else
        json["switch"] = nullptr;

    json["comparison"] = ComparisonName(result.comparison);
    json["outcome"] = OutcomeName(result.outcome);
    json["exit_code"] = result.ExitStatus();
    if (result.cause.empty())
        json["cause"] = nullptr;
    else
        json["cause"] = result.cause;
    json["blocks_sent"] = result.blocksSent;
    json["bytes_sent"] = result.bytesSent;
    json["resends"] = result.resends;
    json["rejections"] = result.rejections;
    if (result.verified)
        json["verified"] = *result.verified;
    else
        json["verified"] = nullptr;
    if (result.switchAfterRead)
        json["switch_after"] = {{"model", result.switchAfterModel}, {"date", result.switchAfterDate}};
    else
        json["switch_after"] = nullptr;
    if (result.logPath.empty())
        json["log"] = nullptr;
    else
        json["log"] = {{"path", result.logPath},
                       {"complete", result.logFailure.empty()},
                       {"error", result.logFailure.empty() ? nlohmann::ordered_json()
                                                            : nlohmann::ordered_json(result.logFailure)}};
    json["seconds"] = std::round(result.Seconds() * 1000.0) / 1000.0;
    // A file name or the switch's model may hold bytes that are no UTF-8:
    // they are replaced rather than ending the run with an exception.
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
