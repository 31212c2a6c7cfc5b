#include "views/main_view.h"

#include "views/window_height.h"

#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

namespace cv {

MainView::MainView(AppModel &model, ServiceHost &host, std::function<void(const QString &)> openPeer,
                   WindowHeight *height, QWidget *parent)
    : QWidget(parent), model_(model), host_(host), openPeer_(std::move(openPeer))
{
    auto *content = new QWidget;
    auto *contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(24, 24, 24, 24);
    auto *title = new QLabel(QStringLiteral("Corvane"), content);
    title->setTextFormat(Qt::PlainText);
    contentLayout->addWidget(title);
    contentLayout->addStretch();

    auto *area = new QScrollArea(this);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setWidget(content);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The window's own background shows through.
    area->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(area);
    fitsWindowHeight(area, height);
}

} // namespace cv
