#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace cv {

// One running copy of the application per user session: the first process owns a
// well-known name on the session bus; a later plain launch asks that owner to reopen
// (it brings its main window back) and ends. Without a session bus every process runs
// on its own.
class SingleInstance final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.corvane.Corvane.Application")
public:
    enum class Claim {
        owner,       // this process owns the name and answers reopen requests
        reopened,    // another process owns it and was asked to reopen
        standalone,  // no session bus: this process runs on its own
        unanswered,  // another process owns the name but did not answer in time
    };

    // The bus name for a bundle identifier ("app.corvane.Corvane" stays as it is):
    // characters a bus name cannot hold become "_", and an element that would start
    // with a digit gets a leading "_".
    static QString busName(const QString &bundleIdentifier);

    explicit SingleInstance(QString busName, QDBusConnection connection = QDBusConnection::sessionBus(),
                            QObject *parent = nullptr);
    ~SingleInstance() override;

    // Takes the name, or asks its owner to reopen, waiting at most `timeoutMs` for
    // its answer. Blocks the calling thread for that long at most.
    Claim claim(int timeoutMs = 3000);

    QString name() const { return name_; }
    QString objectPath() const;

public slots:
    // Called over the bus by a second launch.
    Q_SCRIPTABLE void Reopen();

signals:
    void reopenRequested();

private:
    bool registerName();

    QString name_;
    QDBusConnection connection_;
    bool exported_ = false;
};

} // namespace cv
