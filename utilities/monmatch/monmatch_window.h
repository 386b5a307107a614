#pragma once
// The monitor matching screen: covers the display being offered, shows its number and asks
// for a touch; polls the library every 300 ms and moves on to the next display after a touch
// or Esc. Closes itself after the last display. The matcher is used on the program's library
// worker only; the window keeps its own copy of the number it shows.

#include "utilities/monmatch/matcher.h"

#include <QTimer>
#include <QWidget>

namespace kvr::monmatch {

inline constexpr int kPollIntervalMs = 300;

class MonmatchWindow : public QWidget {
    Q_OBJECT
public:
    explicit MonmatchWindow(MonitorMatcher& matcher);

    // Places the window on the display being offered and starts polling.
    void showOnCurrentDisplay();

public Q_SLOTS:
    // A touch was bound, or Esc: the next display, or the end.
    void advance();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void poll();
    void pollAnswered(std::uint8_t display, bool touched);

    MonitorMatcher& matcher_;
    QTimer pollTimer_;
    std::uint8_t shownDisplay_ = 1; // the display offered, as painted
    bool polling_ = false;          // a poll is on its way to the library
};

} // namespace kvr::monmatch
