#include "platform/alerts.h"

#include "platform/dialog_result.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>
#include <QMessageBox>

namespace cv {

QString literalButtonTitle(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void showAsPlainText(QMessageBox &box)
{
    box.setTextFormat(Qt::PlainText);
    // The informative label guesses its format on its own.
    if (auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
}

QCoro::Task<int> MessageBoxAlerts::run(Alert alert)
{
    // Owned here, never by the window or menu it was opened from, which may go away
    // while the alert is shown.
    const LaterOwned<QMessageBox> owned(new QMessageBox);
    QMessageBox &box = *owned;
    switch (alert.style) {
    case Alert::Style::informational:
        box.setIcon(QMessageBox::Information);
        break;
    case Alert::Style::warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case Alert::Style::critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    box.setText(alert.message);
    box.setInformativeText(alert.informative);
    // Texts from elsewhere are never markup.
    showAsPlainText(box);
    QList<QAbstractButton *> buttons;
    for (const QString &title : alert.buttons) {
        const bool cancels = alert.cancelButton == buttons.size();
        QPushButton *button =
            box.addButton(literalButtonTitle(title), cancels ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
        if (buttons.isEmpty())
            box.setDefaultButton(button);
        if (cancels)
            box.setEscapeButton(button);
        buttons << button;
    }
    box.setWindowModality(Qt::ApplicationModal);
    box.show();
    if (!co_await finished(&box))
        co_return noChoice;
    const int index = int(buttons.indexOf(box.clickedButton()));
    co_return index < 0 ? noChoice : index;
}

Alerts &Alerts::system()
{
    static MessageBoxAlerts alerts;
    return alerts;
}

} // namespace cv
