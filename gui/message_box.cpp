#include "gui/message_box.h"

#include "platform/desktop/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

namespace kvr::gui {
namespace {

using namespace kvr::desktop;

std::mutex g_answersLock;
std::size_t g_answersUsed = 0;

// The next word of KVR_MESSAGE_ANSWERS; empty once the list is used up.
std::string nextAnswerWord(const char* list) {
    std::lock_guard lock(g_answersLock);
    std::string_view rest(list);
    for (std::size_t i = 0;; ++i) {
        const std::size_t comma = rest.find(',');
        const std::string_view word = rest.substr(0, comma);
        if (i == g_answersUsed) {
            ++g_answersUsed;
            std::string w(word);
            while (!w.empty() && w.front() == ' ')
                w.erase(w.begin());
            while (!w.empty() && w.back() == ' ')
                w.pop_back();
            return w;
        }
        if (comma == std::string_view::npos) return {};
        rest.remove_prefix(comma + 1);
    }
}

struct BoxButton {
    int result;
    QMessageBox::StandardButton button;
};

std::vector<BoxButton> buttonsOf(uint32_t type) {
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {{IDOK, QMessageBox::Ok}, {IDCANCEL, QMessageBox::Cancel}};
    case MB_ABORTRETRYIGNORE:
        return {{IDABORT, QMessageBox::Abort},
                {IDRETRY, QMessageBox::Retry},
                {IDIGNORE, QMessageBox::Ignore}};
    case MB_YESNOCANCEL:
        return {
            {IDYES, QMessageBox::Yes}, {IDNO, QMessageBox::No}, {IDCANCEL, QMessageBox::Cancel}};
    case MB_YESNO:
        return {{IDYES, QMessageBox::Yes}, {IDNO, QMessageBox::No}};
    case MB_RETRYCANCEL:
        return {{IDRETRY, QMessageBox::Retry}, {IDCANCEL, QMessageBox::Cancel}};
    case MB_CANCELTRYCONTINUE:
        return {{IDCANCEL, QMessageBox::Cancel},
                {IDTRYAGAIN, QMessageBox::Retry},
                {IDCONTINUE, QMessageBox::Ignore}};
    default:
        return {{IDOK, QMessageBox::Ok}};
    }
}

QMessageBox::Icon iconOf(uint32_t type) {
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
        return QMessageBox::Warning;
    case MB_ICONASTERISK:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

int showQtBox(std::string_view text, std::string_view caption, uint32_t type) {
    if (QApplication::instance() == nullptr) return defaultButtonResult(type);
    QMessageBox box(iconOf(type), QString::fromUtf8(caption.data(), qsizetype(caption.size())),
                    QString::fromUtf8(text.data(), qsizetype(text.size())));
    box.setObjectName(QStringLiteral("messageBox"));
    // A box stays above the suite's topmost full-screen windows.
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    const auto buttons = buttonsOf(type);
    const int defaultResult = defaultButtonResult(type);
    for (const BoxButton& choice : buttons) {
        QPushButton* b = box.addButton(choice.button);
        if (choice.result == defaultResult) box.setDefaultButton(b);
    }
    // Closing the box with its window button or Esc counts as Cancel where there is one,
    // else as the default button.
    box.exec();
    if (QAbstractButton* clicked = box.clickedButton()) {
        const auto chosen = box.standardButton(clicked);
        for (const BoxButton& choice : buttons)
            if (choice.button == chosen) return choice.result;
    }
    for (const BoxButton& choice : buttons)
        if (choice.result == IDCANCEL) return IDCANCEL;
    return defaultResult;
}

} // namespace

int answerForWord(std::string_view word) {
    static const std::pair<std::string_view, int> kWords[] = {
        {"ok", IDOK},       {"cancel", IDCANCEL},     {"abort", IDABORT},
        {"retry", IDRETRY}, {"ignore", IDIGNORE},     {"yes", IDYES},
        {"no", IDNO},       {"tryagain", IDTRYAGAIN}, {"continue", IDCONTINUE},
    };
    std::string lower(word);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const auto& [w, id] : kWords)
        if (lower == w) return id;
    return 0;
}

std::string automationLine(std::string_view caption, std::string_view text) {
    std::string line = "messagebox: ";
    auto append = [&line](std::string_view s) {
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
            if (s[i] == '\n' || s[i] == '\r')
                line += "\\n";
            else
                line += s[i];
        }
    };
    append(caption);
    line += ": ";
    append(text);
    return line;
}

void resetAutomatedAnswers() {
    std::lock_guard lock(g_answersLock);
    g_answersUsed = 0;
}

int showMessageBox(std::string_view text, std::string_view caption, uint32_t type) {
    const char* answers = std::getenv("KVR_MESSAGE_ANSWERS");
    if (answers == nullptr) return showQtBox(text, caption, type);
    const std::string line = automationLine(caption, text) + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    const std::string word = nextAnswerWord(answers);
    const int answer = answerForWord(word);
    for (const BoxButton& choice : buttonsOf(type))
        if (choice.result == answer) return answer;
    return defaultButtonResult(type);
}

} // namespace kvr::gui
