#pragma once

// A window's view over a model connected to the stand-in service: put a status in
// (StandinModel), click a control by its text, and read the exact command lines the
// stand-in recorded. Header only; a test links cv_views.

#include "model_fixture.h"

#include <QAbstractButton>
#include <QTest>

namespace cv::test {

// The first button inside `root` that `root` shows with the text `text`, or null.
inline QAbstractButton *buttonNamed(QWidget &root, const QString &text)
{
    for (QAbstractButton *button : root.findChildren<QAbstractButton *>()) {
        if (button->isVisibleTo(&root) && (button->text() == text || button->accessibleName() == text))
            return button;
    }
    return nullptr;
}

// Clicks that button as the user would (a disabled one takes no click), lets the
// command end, and returns every command line the stand-in recorded (see
// StandinModel::sent); "no button <text>" when there is none.
inline QStringList clickAndRead(StandinModel &service, QWidget &root, const QString &text)
{
    QAbstractButton *button = buttonNamed(root, text);
    if (!button)
        return {QStringLiteral("no button ") + text};
    QTest::mouseClick(button, Qt::LeftButton);
    service.settle();
    return service.sent();
}

} // namespace cv::test
