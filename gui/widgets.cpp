#include "gui/widgets.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace kvr::gui {

QFont cellFont(int cellPx) {
    QFont font = QApplication::font();
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setWeight(QFont::Bold);
    font.setPixelSize(cellPx > 0 ? cellPx : 1);
    return font;
}

QFont cellFont(int cellPx, int widthPx) {
    QFont font = cellFont(cellPx);
    const int average = QFontMetrics(font).averageCharWidth();
    if (widthPx > 0 && average > 0) font.setStretch(std::clamp(100 * widthPx / average, 1, 4000));
    return font;
}

namespace {

constexpr const char* kDesignSize = "kvrDesignSize";

// Keeps a fitted window as large as its contents need when they grow after it was fitted (a
// page filled, a control shown): what a window's own layout does without the scroll area.
class KeepFitted : public QObject {
public:
    KeepFitted(QWidget* window, QWidget* content)
        : QObject(content), window_(window), content_(content) {
        content->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == content_ && event->type() == QEvent::LayoutRequest && !pending_) {
            pending_ = true;
            QTimer::singleShot(0, this, [this] { refit(); });
        }
        return false;
    }

private:
    void refit() {
        pending_ = false;
        const QVariant design = window_->property(kDesignSize);
        if (!design.isValid()) return; // not fitted yet
        const QSize wanted = design.toSize().expandedTo(content_->minimumSizeHint());
        if (wanted != design.toSize()) fitToScreen(window_, wanted, false);
    }

    QWidget* window_;
    QWidget* content_;
    bool pending_ = false;
};

} // namespace

QWidget* scrollingContent(QWidget* window) {
    auto* scroll = new QScrollArea(window);
    scroll->setObjectName(QStringLiteral("contentScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("content"));
    scroll->setWidget(content);
    new KeepFitted(window, content);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    return content;
}

void fitToScreen(QWidget* window, QSize designSize, bool centre) {
    window->setProperty(kDesignSize, designSize);
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        window->resize(designSize);
        return;
    }
    const QRect available = screen->availableGeometry();
    // The window manager's frame is known once the window is shown; before that, room for a
    // usual title bar and border.
    QMargins frame(window->geometry().left() - window->frameGeometry().left(),
                   window->geometry().top() - window->frameGeometry().top(),
                   window->frameGeometry().right() - window->geometry().right(),
                   window->frameGeometry().bottom() - window->geometry().bottom());
    if (frame.isNull()) frame = QMargins(4, 30, 4, 4);
    const QSize room = available.size().shrunkBy(frame).expandedTo(QSize(1, 1));
    const int bar = window->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, window);
    QSize size = designSize.boundedTo(room);
    // A scroll bar takes room from the other direction.
    if (size.width() < designSize.width()) size.setHeight(std::min(room.height(), size.height() + bar));
    if (size.height() < designSize.height()) size.setWidth(std::min(room.width(), size.width() + bar));
    window->setMinimumSize(QSize(std::min(size.width(), 120), std::min(size.height(), 80)));
    window->setMaximumSize(size.expandedTo(designSize));
    window->resize(size);
    // A window nobody placed is left to the window manager, which keeps one that fits on
    // the screen.
    if (!centre && !window->testAttribute(Qt::WA_Moved)) return;
    QRect placed(window->pos(), size.grownBy(frame));
    if (centre) placed.moveCenter(available.center());
    // Never above or left of the available area: the title bar and the first controls stay
    // reachable.
    placed.moveRight(std::min(placed.right(), available.right()));
    placed.moveBottom(std::min(placed.bottom(), available.bottom()));
    placed.moveLeft(std::max(placed.left(), available.left()));
    placed.moveTop(std::max(placed.top(), available.top()));
    window->move(placed.topLeft());
}

} // namespace kvr::gui
