// The error sheet on the main window, and the answers to clicks on notices.

#include "app/app_delegate.h"

#include "localization/localization.h"
#include "platform/alerts.h"
#include "platform/development_log.h"
#include "platform/workspace.h"
#include "service/diagnostics.h"
#include "views/widgets.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace cv {

namespace {

const QString showInFolder = QStringLiteral("SHOW_IN_FOLDER");
const QString openFilesAction = QStringLiteral("OPEN_FILES");

// A string array of a notice's user info; empty when it is missing or holds
// anything but strings.
QStringList stringList(const QVariant &value)
{
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList();
    if (value.typeId() != QMetaType::QVariantList)
        return {};
    QStringList list;
    for (const QVariant &item : value.toList()) {
        if (item.typeId() != QMetaType::QString)
            return {};
        list << item.toString();
    }
    return list;
}

} // namespace

void AppDelegate::presentError(const QString &text)
{
    // The text as composed: a search of the log for a name or path finds it.
    Diagnostics::log(QStringLiteral("error shown: ") + Localization::withoutIsolation(text));
    pendingError = text;
    showPendingError();
}

void AppDelegate::showPendingError()
{
    if (terminationInFlight || !pendingError)
        return;
    if (errorAlert) {
        // One sheet at a time: the error waits for this one, which another window
        // may cover. The main window and its sheet come to the front, so the user
        // sees what there is to answer before the next one can show.
        if (mainWindow)
            runtime_->makeKeyAndOrderFront(mainWindow);
        runtime_->makeKeyAndOrderFront(errorAlert);
        runtime_->activateIgnoringOtherApps();
        return;
    }
    showMain();
    if (!mainWindow)
        return;
    // The sheet needs its window on screen now, not once the height is fitted.
    if (!mainWindow->isVisible())
        runtime_->makeKeyAndOrderFront(mainWindow);
    const QString error = *std::exchange(pendingError, std::nullopt);

    const bool privacy = AppModel::isPrivacyRefusal(error);
    QString informative = Localization::service(error);
    auto *box = new QMessageBox(mainWindow);
    box->setIcon(QMessageBox::Warning);
    box->setText(L(QStringLiteral("Corvane needs attention")));
    QPushButton *privacyButton = nullptr;
    if (privacy) {
        informative += QStringLiteral("\n\n")
            + L(QStringLiteral("Corvane isn’t allowed to read this folder. Make the folder readable to your user (in "
                               "the file manager’s permissions or with chmod), then try again."));
        if (model->canOpenPrivacySettings())
            privacyButton = box->addButton(literalButtonTitle(L(QStringLiteral("Open Privacy Settings"))),
                                           QMessageBox::AcceptRole);
    }
    QPushButton *ok = box->addButton(literalButtonTitle(L(QStringLiteral("OK"))), QMessageBox::AcceptRole);
    box->setDefaultButton(privacyButton ? privacyButton : ok);
    box->setEscapeButton(ok);
    // The text comes from the service or the other computer: never markup.
    box->setInformativeText(informative);
    showAsPlainText(*box);
    copyAsComposed(*box);
    box->setWindowModality(Qt::WindowModal);
    errorAlert = box;

    developmentLog(QStringLiteral("presenting asynchronous error sheet after terminationInFlight=")
                   + (terminationInFlight ? QStringLiteral("true") : QStringLiteral("false")));
    const QPointer<AppDelegate> self(this);
    connect(box, &QMessageBox::finished, box, [self, box, error, privacy, privacyButton] {
        if (self)
            self->errorSheetDone(box, error, privacy, privacyButton && box->clickedButton() == privacyButton);
        box->deleteLater();
    });
    box->open();
}

void AppDelegate::errorSheetDone(QMessageBox *box, const QString &error, bool privacy, bool openSettings)
{
    if (privacy && openSettings)
        model->openPrivacySettings();
    if (errorAlert == box)
        errorAlert = nullptr;
    // A newer error is left alone: it is already on its way to the next sheet.
    if (model->error() == error)
        model->setError(std::nullopt);
    QTimer::singleShot(0, this, &AppDelegate::showPendingError);
}

void AppDelegate::subscribeToErrors()
{
    AppModel *m = model.get();
    subscriptions << connect(m, &AppModel::errorChanged, this, [this, m] {
        // The value as set now: read later, two errors set in one turn would show one
        // of them twice and lose the other.
        const std::optional<QString> error = m->error();
        if (!error)
            return;
        QTimer::singleShot(0, this, [this, text = *error] { presentError(text); });
    });
}

void AppDelegate::didReceiveNotificationResponse(const NotificationResponse &response, std::function<void()> completion)
{
    const QVariant peerValue = response.userInfo.value(QStringLiteral("peer"));
    std::optional<QString> peer;
    if (peerValue.typeId() == QMetaType::QString)
        peer = peerValue.toString();
    const QStringList paths = stringList(response.userInfo.value(QStringLiteral("paths")));
    const QString action = response.actionIdentifier;

    const QPointer<AppDelegate> self(this);
    QTimer::singleShot(0, this, [self, peer, paths, action, completion = std::move(completion)] {
        if (!self)
            return;
        if (action == showInFolder && !paths.isEmpty()) {
            self->model->workspace().reveal(paths);
        } else if (!peer) {
            self->showMain();
        } else if (const auto connected = self->model->peer(*peer); action == openFilesAction && connected
                   && connected->mount) {
            self->model->openFiles(*peer);
        } else {
            self->showPeer(*peer);
        }
        if (completion)
            completion();
    });
}

} // namespace cv
