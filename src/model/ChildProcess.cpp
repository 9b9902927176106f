#include "model/ChildProcess.h"

#include <chrono>
#include <thread>

#include "model/Error.h"
#include "model/platform/SystemError.h"

namespace halyard {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
    try {
        process_ = std::make_unique<platform::Process>(program, arguments);
    } catch (const platform::SystemError& error) {
        throw Error("Cannot start \"" + program + "\". " + error.what());
    }
}

ChildProcess::~ChildProcess() {
    if (!ended_) {
        terminate();
        wait();
    }
}

ChildProcess::Read ChildProcess::readLine(std::string& line, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t lineEnd = pending_.find('\n');
        if (lineEnd != std::string::npos) {
            line.assign(pending_, 0, lineEnd);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            pending_.erase(0, lineEnd + 1);
            return Read::Line;
        }
        if (outputEnded_) {
            if (pending_.empty())
                return Read::End;
            line = std::move(pending_); // a last line without a line break
            pending_.clear();
            return Read::Line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        switch (process_->readOutput(pending_, int(std::max<int64_t>(0, left.count())))) {
        case platform::Process::Output::Timeout: return Read::Timeout;
        case platform::Process::Output::End: outputEnded_ = true; break;
        case platform::Process::Output::Data: break;
        }
    }
}

void ChildProcess::terminate() {
    if (ended_)
        return;
    process_->requestStop();
    for (int waited = 0; waited < 100; ++waited) {
        if (process_->ended(exit_, false)) {
            ended_ = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    process_->kill();
}

ChildProcess::Exit ChildProcess::wait() {
    if (ended_)
        return exit_;
    std::string line;
    while (readLine(line, 1000) != Read::End) {
    }
    process_->ended(exit_, true);
    ended_ = true;
    return exit_;
}

} // namespace halyard
