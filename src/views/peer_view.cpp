#include "views/peer_view.h"

#include "views/window_height.h"

#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

namespace cv {

PeerView::PeerView(AppModel &model, QString id, QString initialName, WindowHeight *height, QWidget *parent)
    : QWidget(parent), model_(model), id_(std::move(id))
{
    auto *content = new QWidget;
    auto *contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(24, 24, 24, 24);
    auto *name = new QLabel(initialName, content);
    name->setTextFormat(Qt::PlainText);
    contentLayout->addWidget(name);
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
