#include "utilities/rclick/rclick_window.h"

#include "gui/controller_trouble.h"
#include "gui/library_worker.h"
#include "gui/widgets.h"

#include <QPushButton>
#include <QSocketNotifier>
#include <QVBoxLayout>
#include <cstdio>

namespace kvr::rclick {

RClickWindow::RClickWindow(RightClickArming& arming)
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint), arming_(arming) {
    gui::named(this, kWindowClass, QString::fromLatin1(kWindowClass));
    setWindowTitle(QString::fromLatin1(kWindowClass));
    auto* layout = new QVBoxLayout(this);
    arm_ = gui::named(new QPushButton(kIdleText, this), "arm", kIdleText);
    layout->addWidget(arm_);
    connect(arm_, &QPushButton::clicked, this, &RClickWindow::armClicked);
    if (arming_.usedUpFd() >= 0) {
        usedUpNotifier_ = new QSocketNotifier(arming_.usedUpFd(), QSocketNotifier::Read, this);
        connect(usedUpNotifier_, &QSocketNotifier::activated, this, &RClickWindow::usedUp);
    }
    resize(160, 60);
}

void RClickWindow::armClicked() {
    if (!gui::libraryCall([this] { return arming_.arm(); })) {
        std::fprintf(stderr, "RClick: no touch controller to arm: %s\n",
                     gui::controllerTroubleCause().c_str());
        return;
    }
    arm_->setText(kArmedText);
}

void RClickWindow::usedUp() {
    arming_.takeUsedUp();
    arm_->setText(kIdleText);
}

} // namespace kvr::rclick
