#pragma once
// RClick's window: one button that stays above the other windows; pressing it arms a right
// click for the next touch (on the program's library worker), and the button says so until
// the drivers report the right click used up.

#include "utilities/rclick/right_click.h"

#include <QWidget>

class QPushButton;
class QSocketNotifier;

namespace kvr::rclick {

inline constexpr const char* kWindowClass = "RClick";

class RClickWindow : public QWidget {
    Q_OBJECT
public:
    explicit RClickWindow(RightClickArming& arming);

private:
    void armClicked();
    void usedUp();

    RightClickArming& arming_;
    QPushButton* arm_ = nullptr;
    QSocketNotifier* usedUpNotifier_ = nullptr;
};

} // namespace kvr::rclick
