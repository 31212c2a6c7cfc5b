#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QObject>

namespace cv::test {

// The desktop's settings portal (org.freedesktop.portal.Desktop) on the session bus
// (start the test under a private bus, cv_add_test(... DBUS)), through a connection
// of its own, so code of the same process or a child process reaches it as it
// would reach the real one. It knows one setting, "color-scheme" of
// "org.freedesktop.appearance"; like the real portal it answers Read with the value
// wrapped in a second variant, refuses any other setting with NotFound and any
// other signature or method with the bus's own error.
class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    uint scheme = 0;
    // Holds the answer to Read until answerRead(): a slow portal.
    bool holdRead = false;

    // Takes the portal's name; false when there is no session bus or the name is taken.
    bool start()
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connection);
        return bus.isConnected()
            && bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), this,
                                  QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)
            && bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }
    ~FakePortal() override { QDBusConnection::disconnectFromBus(connection); }

    // The desktop switches its colour scheme to `value` and says so.
    void change(uint value)
    {
        scheme = value;
        emit SettingChanged(appearance, colorScheme, QDBusVariant(value));
    }

    // Another namespace's setting of the same key changes and is signalled.
    void changeElsewhere(uint value)
    {
        emit SettingChanged(QStringLiteral("org.example.other"), colorScheme, QDBusVariant(value));
    }

    // Whether a held Read is waiting; answers it with the value it asked for.
    bool readWaiting() const { return held_.type() == QDBusMessage::MethodCallMessage; }
    void answerRead()
    {
        QDBusConnection(connection).send(held_.createReply(QVariant::fromValue(doubled(heldScheme_))));
        held_ = {};
    }

public slots:
    QDBusVariant Read(const QString &nameSpace, const QString &key)
    {
        if (nameSpace != appearance || key != colorScheme) {
            sendErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"),
                           QStringLiteral("Requested setting not found"));
            return {};
        }
        if (holdRead) {
            setDelayedReply(true);
            held_ = message();
            heldScheme_ = scheme;
            return {};
        }
        return doubled(scheme);
    }

signals:
    void SettingChanged(const QString &nameSpace, const QString &key, const QDBusVariant &value);

private:
    static QDBusVariant doubled(uint value) { return QDBusVariant(QVariant::fromValue(QDBusVariant(value))); }

    QDBusMessage held_;
    uint heldScheme_ = 0;
    const QString connection = QStringLiteral("fake-portal");
    const QString appearance = QStringLiteral("org.freedesktop.appearance");
    const QString colorScheme = QStringLiteral("color-scheme");
};

} // namespace cv::test
