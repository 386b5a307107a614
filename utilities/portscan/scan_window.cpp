#include "utilities/portscan/scan_window.h"

#include "gui/widgets.h"
#include "platform/common/log.h"
#include "utilities/portscan/scanner.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <exception>

namespace kvr::portscan {

namespace {

constexpr const char* kTitle = "Scan serial port for touch controller";

// The report keeps CR LF line ends; the text control shows plain lines.
QString shownText(const QString& report) {
    QString text = report;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

} // namespace

ScanWindow::ScanWindow(const std::string& initialReport) {
    setObjectName(QStringLiteral("SCAN232"));
    setWindowTitle(QString::fromLatin1(kTitle));
    setAccessibleName(QString::fromLatin1(kTitle));
    setFixedSize(kWindowWidthPx, kWindowHeightPx);
    text_ = gui::named(new QPlainTextEdit(this), "Report", QStringLiteral("Scan report"));
    text_->setReadOnly(true);
    text_->setGeometry(5, 10, 240, 180);
    setReport(QString::fromStdString(initialReport));
    // Centred on the screen, inside its work area.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(area.center());
        move(frame.topLeft());
    }
}

QString ScanWindow::reportText() const {
    QString text = text_->toPlainText();
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return text;
}

void ScanWindow::setReport(const QString& text) {
    text_->setPlainText(shownText(text));
}

ScanThread::ScanThread(std::vector<ListedPort> ports)
    : ports_(std::move(ports)), stop_(ipc::Event::create()) {}

ScanThread::~ScanThread() {
    stop();
}

void ScanThread::start() {
    if (thread_.joinable() || !stop_) return;
    thread_ = std::thread([this] { run(); });
}

void ScanThread::stop() {
    if (stop_) stop_->set();
    if (thread_.joinable()) thread_.join();
}

std::string ScanThread::finalReport() const {
    std::lock_guard lock(mutex_);
    return final_;
}

void ScanThread::run() {
    try {
        Scanner scanner(ports_, *stop_, [this](const std::string& text) {
            emit reportChanged(QString::fromStdString(text));
        });
        if (scanner.run()) {
            {
                std::lock_guard lock(mutex_);
                final_ = scanner.finalReport();
            }
            emit finished();
        }
    } catch (const std::exception& e) {
        KVR_LOG_ERROR("portscan: the scan failed: %s", e.what());
    }
}

} // namespace kvr::portscan
