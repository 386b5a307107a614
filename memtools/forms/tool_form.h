#pragma once
// What the memory tools' windows share: the progress frame that grows by one 35th per word,
// message boxes with the program's name as caption, and the way a tool ends.

#include "memtools/settings_image.h"

#include <QFrame>
#include <cstdint>
#include <string_view>

class QLabel;

namespace kvr::memtools::forms {

// A sunken frame holding a filled label whose width starts at 0 and grows by one progress
// unit (a 35th of the frame's inner width) per word moved.
class ProgressFrame : public QFrame {
    Q_OBJECT
public:
    explicit ProgressFrame(QWidget* parent = nullptr);

    // Takes the progress unit from the frame's present inner width and empties the bar.
    void takeUnit();
    // The bar's width: `words` progress units.
    void setWords(int words);

    [[nodiscard]] int unit() const { return unit_; }
    [[nodiscard]] int barWidth() const;

private:
    QLabel* bar_;
    int unit_ = 0;
};

// A message box of the tool (caption: the program's name); the ID* result.
int toolMessage(std::string_view text, std::uint32_t type = 0);

// A Yes/No question of the tool; true for Yes.
bool toolQuestion(std::string_view text);

} // namespace kvr::memtools::forms
