#include "unitprobe/CmdProcessor.h"

#include "platform/ProcessRunner.h"

namespace tolvarin {

namespace {
// The buffer a fresh runner holds before its first command.
constexpr size_t kInitialBufferSize = 131072;
} // namespace

CmdProcessor::CmdProcessor() : returnData_(kInitialBufferSize, '\0') {}

void CmdProcessor::setCommand(const std::string& command) {
    command_ = command;
}

const std::string& CmdProcessor::command() const {
    return command_;
}

void CmdProcessor::setArgs(const std::vector<std::string>& args) {
    args_ = args;
}

const std::vector<std::string>& CmdProcessor::args() const {
    return args_;
}

void CmdProcessor::setLimits(const ProcessLimits& limits) {
    limits_ = limits;
}

void CmdProcessor::processCommand(const std::string& /*command*/,
                                  const std::vector<std::string>& /*options*/) {
    returnData_.clear();
    error_.clear();
    ProcessResult result = ProcessRunner::run(command_, args_, limits_);
    started_ = result.started;
    exitStatus_ = result.exitStatus;
    if (!result.started) {
        error_ = result.error.empty() ? command_ + ": cannot be started" : result.error;
        return;
    }
    if (!result.finished()) {
        error_ = result.error;
        return;
    }
    returnData_ = std::move(result.output);
}

const std::string& CmdProcessor::returnData() const {
    return returnData_;
}

void CmdProcessor::setReturnData(const std::string& data) {
    returnData_ = data;
}

bool CmdProcessor::started() const {
    return started_;
}

int CmdProcessor::exitStatus() const {
    return exitStatus_;
}

const std::string& CmdProcessor::error() const {
    return error_;
}

} // namespace tolvarin
