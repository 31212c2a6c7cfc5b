#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>

namespace cv {

// One running copy of the application per user session: the first process owns a
// well-known name on the session bus; a later plain launch asks that owner to reopen
// (it brings its main window back) and ends. Without a session bus every process runs
// on its own.
//
// An owner that is quitting keeps the name until its process ends (its service may
// still be stopping), and answers a reopen with an error saying so; the later launch
// then waits for it to end and takes the name itself.
class SingleInstance final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.corvane.Corvane.Application")
public:
    enum class Claim {
        owner,       // this process owns the name and answers reopen requests
        reopened,    // another process owns it and was asked to reopen
        standalone,  // no session bus: this process runs on its own
        unanswered,  // another process owns the name but did not answer in time
        quitting,    // another process owns the name and is quitting, but did not end in time
    };

    // The error a quitting owner answers a reopen with.
    static constexpr const char *quittingError = "app.corvane.Corvane.Error.Quitting";
    // How long a later launch waits for an owner that is quitting to end: the longest
    // a quit waits for an action or a start-up under way (20 s), plus the 5 s it gives
    // the service to answer on a signal. An owner whose quit is refused meanwhile
    // answers the next reopen.
    static constexpr int quittingWaitMs = 25000;
    // How often a later launch looks again at an owner that is quitting.
    static constexpr int quittingStepMs = 100;

    // The bus name for a bundle identifier ("app.corvane.Corvane" stays as it is):
    // characters a bus name cannot hold become "_", and an element that would start
    // with a digit gets a leading "_".
    static QString busName(const QString &bundleIdentifier);

    explicit SingleInstance(QString busName, QDBusConnection connection = QDBusConnection::sessionBus(),
                            QObject *parent = nullptr);
    ~SingleInstance() override;

    // Takes the name, or asks its owner to reopen, waiting at most `timeoutMs` for
    // its answer; an owner that is quitting is waited for, asked again every step,
    // until it ends (the name is taken) or answers, for `quittingWaitMs` at most.
    // Blocks the calling thread meanwhile.
    Claim claim(int timeoutMs = 3000, int quittingWaitMs = SingleInstance::quittingWaitMs);

    // While quitting, a reopen is answered with quittingError and not followed.
    void setQuitting(bool quitting) { quitting_ = quitting; }
    bool quitting() const { return quitting_; }

    QString name() const { return name_; }
    QString objectPath() const;

public slots:
    // Called over the bus by a second launch.
    Q_SCRIPTABLE void Reopen();

signals:
    void reopenRequested();

private:
    enum class Answer { reopened, quitting, gone, unanswered };

    bool registerName();
    // Asks the name's present owner to reopen: `gone` when there is none or it ended
    // before answering.
    Answer askToReopen(int timeoutMs);

    QString name_;
    QDBusConnection connection_;
    bool exported_ = false;
    bool quitting_ = false;
};

} // namespace cv
