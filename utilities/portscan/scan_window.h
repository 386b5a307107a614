#pragma once
// The scanner's window and the thread the scan runs on. The scan never touches a widget: it
// hands its texts to the window through queued signals. Stopping the scan (the window was
// closed, or the program is told to end) ends its waits at once and joins the thread, so no
// port or driver handle outlives the window.

#include "platform/ipc/event.h"
#include "utilities/portscan/port_list.h"

#include <QString>
#include <QWidget>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class QPlainTextEdit;

namespace kvr::portscan {

inline constexpr int kWindowWidthPx = 250;
inline constexpr int kWindowHeightPx = 200;

class ScanWindow : public QWidget {
    Q_OBJECT
public:
    explicit ScanWindow(const std::string& initialReport);
    // The report text as the scan gives it (CR LF line ends).
    [[nodiscard]] QString reportText() const;

public slots:
    void setReport(const QString& text);

private:
    QPlainTextEdit* text_ = nullptr;
};

class ScanThread : public QObject {
    Q_OBJECT
public:
    explicit ScanThread(std::vector<ListedPort> ports);
    ~ScanThread() override; // stops and joins

    void start();
    // Ends the scan's waits, then waits for the thread. Safe to call more than once.
    void stop();
    // The final report, once the scan has ended by itself (empty otherwise).
    [[nodiscard]] std::string finalReport() const;

signals:
    void reportChanged(const QString& text);
    void finished();

private:
    void run();

    std::vector<ListedPort> ports_;
    std::optional<ipc::Event> stop_;
    std::thread thread_;
    mutable std::mutex mutex_; // guards final_
    std::string final_;
};

} // namespace kvr::portscan
