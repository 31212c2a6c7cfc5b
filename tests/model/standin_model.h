#pragma once

// The model against the stand-in service: commands travel over a real control socket
// and the stand-in records every request line, so a test can compare the exact JSON
// the model sent. The status the stand-in reports is installed in the model at once,
// so a command can be tried without waiting for a poll.

#include "model_fixture.h"
#include "standin.h"

#include "service/reply.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

namespace cv::test {

// A connected computer with what it offers this one.
inline QJsonObject offeringPeer(const QString &id, const QString &name, bool remoteReceive,
                                const std::optional<QString> &mount = std::nullopt,
                                std::optional<bool> remoteReadOnly = std::nullopt)
{
    QJsonObject peer = wire::peer(id, name);
    peer[QStringLiteral("remote_receive")] = remoteReceive;
    if (mount)
        peer[QStringLiteral("mount")] = *mount;
    if (remoteReadOnly) {
        peer[QStringLiteral("remote_share")] =
            QJsonObject{{QStringLiteral("label"), name}, {QStringLiteral("read_only"), *remoteReadOnly}};
    }
    return peer;
}

// Puts `status` into the model as a good status reply would.
inline void installStatus(AppModel &model, const QJsonObject &status)
{
    const QByteArray line = wire::ok(status);
    Reply<ServiceStatus> reply = decodeReply<ServiceStatus>(std::string_view(line.constData(), size_t(line.size() - 1)));
    model.setStatus(std::move(reply.result));
    model.setConnected(true);
}

// The op of a request line.
inline QString opOf(const QByteArray &line)
{
    return QJsonDocument::fromJson(line).object().value(QStringLiteral("op")).toString();
}

class StandinModel {
public:
    // `status` is what the stand-in reports and what the model starts from; `script`
    // holds any further keys of the stand-in's script.
    explicit StandinModel(const QJsonObject &status, QJsonObject script = {})
    {
        script[QStringLiteral("status")] = status;
        script[QStringLiteral("lifetime")] = 60;
        standin.setScript(script);
        started = standin.start();
        fixture.serviceClient = std::make_shared<ServiceClient>(standin.runtimeDir());
        installStatus(fixture.model(), status);
    }

    // A command still in flight would resume its refresh on a model that is gone
    // (and whose memory the next test's model may well reuse): let it end first.
    ~StandinModel()
    {
        if (!commands().isEmpty())
            settle();
    }

    AppModel &model() { return fixture.model(); }

    void install(const QJsonObject &status) { installStatus(model(), status); }

    // Waits until no command is in flight.
    bool settle(int milliseconds = 10000)
    {
        return QTest::qWaitFor([this] { return !model().mutating(); }, milliseconds);
    }

    // The request lines other than the ones a refresh sends ("events", "status").
    QList<QByteArray> commands() const
    {
        QList<QByteArray> lines;
        for (const QByteArray &line : standin.recorded()) {
            if (opOf(line) != QLatin1String("status") && opOf(line) != QLatin1String("events"))
                lines << line;
        }
        return lines;
    }

    // commands(), with each transfer id of 32 lowercase hexadecimal digits written
    // as "ID"; any other id stays as it was sent.
    QStringList sent() const
    {
        static const QRegularExpression transfer(QStringLiteral("\"id\":\"[0-9a-f]{32}\""));
        QStringList lines;
        for (const QByteArray &line : commands())
            lines << QString::fromUtf8(line).replace(transfer, QStringLiteral("\"id\":\"ID\""));
        return lines;
    }

    // Lets queued work run for a moment, then reports the commands sent by then.
    QList<QByteArray> commandsAfterAWhile(int milliseconds = 150)
    {
        QTest::qWait(milliseconds);
        return commands();
    }

    Standin standin;
    ModelFixture fixture;
    bool started = false;
};

} // namespace cv::test
