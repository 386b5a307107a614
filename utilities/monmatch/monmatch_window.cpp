#include "utilities/monmatch/monmatch_window.h"

#include "gui/display_window.h"
#include "gui/library_worker.h"
#include "gui/widgets.h"

#include <QKeyEvent>
#include <QPainter>

namespace kvr::monmatch {

using gui::LibraryWorker;

namespace {

const QColor kGray(128, 128, 128); // the stock gray brush
const QColor kBlue(0, 0, 255);
const QColor kWhite(255, 255, 255);
const QColor kRed(255, 0, 0);

constexpr int kNumberCellPx = 120;
constexpr int kTextCellPx = 30;
const QString kTouchText = QStringLiteral("Touch me to match.");
const QString kAbortText = QStringLiteral("Press [ESC] to abort.");

// One line centred on x with its top at y, on a transparent background.
void drawCentred(QPainter& p, const QString& text, const QFont& font, const QColor& colour, int x,
                 int top) {
    p.setFont(font);
    p.setPen(colour);
    const QFontMetrics metrics(font);
    p.drawText(x - metrics.horizontalAdvance(text) / 2, top + metrics.ascent(), text);
}

} // namespace

MonmatchWindow::MonmatchWindow(MonitorMatcher& matcher)
    : matcher_(matcher), shownDisplay_(matcher.current()) {
    setObjectName(QStringLiteral("MONMATCH"));
    setAccessibleName(QStringLiteral("MONMATCH"));
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kGray);
    setPalette(palette);
    pollTimer_.setInterval(kPollIntervalMs);
    connect(&pollTimer_, &QTimer::timeout, this, &MonmatchWindow::poll);
}

void MonmatchWindow::showOnCurrentDisplay() {
    const auto [display, area] = gui::libraryCall([this] {
        return std::pair{matcher_.current(), matcher_.area(matcher_.current())};
    });
    shownDisplay_ = display;
    // What the window paints, for screen readers.
    setAccessibleDescription(QString::number(display) + QLatin1Char('\n') + kTouchText +
                             QLatin1Char('\n') + kAbortText);
    if (area)
        gui::showOnDisplayNotOnTop(
            this, gui::displayRect(area->left, area->top, area->right, area->bottom));
    else if (!isVisible())
        show();
    update();
    pollTimer_.start();
}

void MonmatchWindow::poll() {
    // One question at a time; the answer belongs to the display it was asked for.
    if (polling_) return;
    LibraryWorker* worker = LibraryWorker::current();
    const std::uint8_t display = shownDisplay_;
    if (worker == nullptr) return pollAnswered(display, matcher_.touched());
    polling_ = true;
    // The work holds the matcher, which outlives the window, never the window: a window
    // closed while the question is queued is gone by the time the worker gets to it.
    worker->request(
        this, [matcher = &matcher_] { return matcher->touched(); },
        [this, display](bool touched) { pollAnswered(display, touched); });
}

void MonmatchWindow::pollAnswered(std::uint8_t display, bool touched) {
    polling_ = false;
    if (touched && display == shownDisplay_ && pollTimer_.isActive()) advance();
}

void MonmatchWindow::advance() {
    pollTimer_.stop();
    if (gui::libraryCall([this] { return matcher_.advance(); }) ==
        MonitorMatcher::Advance::Finished) {
        close();
        return;
    }
    showOnCurrentDisplay();
}

void MonmatchWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape)
        advance();
    else
        QWidget::keyPressEvent(event);
}

void MonmatchWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int w = width(), h = height();
    drawCentred(p, QString::number(shownDisplay_), gui::cellFont(kNumberCellPx, kNumberCellPx),
                kBlue, w / 2, h / 2 - 250);
    const QFont textFont = gui::cellFont(kTextCellPx, kTextCellPx);
    drawCentred(p, kTouchText, textFont, kWhite, w / 2, h / 2 - 30);
    drawCentred(p, kAbortText, textFont, kRed, w / 2, h / 2 + 30);
}

} // namespace kvr::monmatch
