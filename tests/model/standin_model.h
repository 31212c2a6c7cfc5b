#pragma once

// The model against the stand-in service: commands travel over a real control socket
// and the stand-in records every request line, so a test can compare the exact JSON
// the model sent. The status the stand-in reports is installed in the model at once,
// so a command can be tried without waiting for a poll.

#include "fake_open_panels.h"
#include "model_fixture.h"
#include "standin.h"

#include "service/reply.h"
#include "service/service_client.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

#include <memory>

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
            const QString op = QJsonDocument::fromJson(line).object().value(QStringLiteral("op")).toString();
            if (op != QLatin1String("status") && op != QLatin1String("events"))
                lines << line;
        }
        return lines;
    }

    // The ops of every request line, in order.
    QStringList ops() const
    {
        QStringList list;
        for (const QByteArray &line : standin.recorded())
            list << QJsonDocument::fromJson(line).object().value(QStringLiteral("op")).toString();
        return list;
    }

    // Lets queued work run for a moment, then reports the commands sent by then.
    QList<QByteArray> commandsAfterAWhile(int milliseconds = 150)
    {
        QTest::qWait(milliseconds);
        return commands();
    }

    Standin standin;
    ModelFixture fixture;
    std::shared_ptr<FakeOpenPanels> panels = fixture.openPanels;
    bool started = false;
};

// The transfer id of a "send_files" or "copy" line, replaced by "ID" so the rest of
// the line can be compared exactly; none when the id is not 32 lowercase hex digits.
inline std::optional<QByteArray> withoutTransferId(const QByteArray &line, QString *id = nullptr)
{
    static const QRegularExpression pattern(QStringLiteral("\"id\":\"([^\"]*)\""));
    const QString text = QString::fromUtf8(line);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    static const QRegularExpression digits(QStringLiteral("^[0-9a-f]{32}$"));
    if (!digits.match(match.captured(1)).hasMatch())
        return std::nullopt;
    if (id)
        *id = match.captured(1);
    QString replaced = text;
    replaced.replace(match.capturedStart(1), match.capturedLength(1), QStringLiteral("ID"));
    return replaced.toUtf8();
}

} // namespace cv::test
