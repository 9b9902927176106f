#include "app/QtMkvmerge.h"

#include <QProcess>
#include <QStringList>

#include "app/ModelText.h"
#include "model/Error.h"

namespace halyard {

namespace {

class QtMkvmerge : public MkvmergeProcess {
public:
    QtMkvmerge(const std::string& program, const std::vector<std::string>& arguments) {
        QStringList list;
        for (const std::string& argument : arguments)
            list << fromModelPath(argument);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.setStandardInputFile(QProcess::nullDevice());
        process_.start(fromModelPath(program), list, QIODevice::ReadOnly);
        if (!process_.waitForStarted())
            throw Error("Cannot start \"" + program + "\". " + process_.errorString().toStdString());
    }
    ~QtMkvmerge() override {
        if (process_.state() != QProcess::NotRunning) {
            terminate();
            process_.waitForFinished(-1);
        }
    }

    Read readLine(std::string& line, int timeoutMs) override {
        if (!process_.canReadLine() && process_.state() != QProcess::NotRunning)
            process_.waitForReadyRead(timeoutMs);
        if (process_.canReadLine() || (process_.state() == QProcess::NotRunning && process_.bytesAvailable() > 0)) {
            line = process_.readLine().toStdString();
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
                line.pop_back();
            return Read::Line;
        }
        return process_.state() == QProcess::NotRunning ? Read::End : Read::Timeout;
    }

    void terminate() override {
        process_.terminate();
        if (!process_.waitForFinished(1000))
            process_.kill();
    }

    Exit wait() override {
        process_.waitForFinished(-1);
        if (process_.exitStatus() == QProcess::CrashExit)
            return {true, 0};
        return {false, process_.exitCode()};
    }

private:
    QProcess process_;
};

} // namespace

std::unique_ptr<MkvmergeProcess> StartMkvmergeWithQProcess(const std::string& program,
                                                           const std::vector<std::string>& arguments) {
    return std::make_unique<QtMkvmerge>(program, arguments);
}

} // namespace halyard
