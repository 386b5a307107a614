#include "gui/accessibility.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTabBar>
#include <cmath>
#include <vector>

namespace kvr::gui {
namespace {

constexpr const char* kValueLabel = "kvrValueLabel";
constexpr const char* kValueFactor = "kvrValueFactor";
constexpr const char* kValueUnit = "kvrValueUnit";
constexpr const char* kProgressMax = "kvrProgressMax";
constexpr const char* kProgressValue = "kvrProgressValue";

// A caption without its mnemonic marks: "&Save" is "Save", "&&" is "&".
QString withoutMnemonic(const QString& caption) {
    QString text;
    text.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && i + 1 < caption.size()) ++i;
        text += caption[i];
    }
    return text;
}

// One tab of a tab bar. Qt's own reports every tab as enabled; this one says what the
// screen draws: a disabled tab is disabled and cannot be chosen through the bus either.
class TabAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    TabAccessible(QTabBar* bar, int index) : bar_(bar), index_(index) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }
    bool isValid() const override { return bar_ && index_ < bar_->count(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override {
        return bar_ ? bar_->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(bar_.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override {
        if (!isValid()) return {};
        if (t == QAccessible::Name) return withoutMnemonic(bar_->tabText(index_));
        if (t == QAccessible::Description) return bar_->tabToolTip(index_);
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid()) return {};
        const QRect r = bar_->tabRect(index_);
        return {bar_->mapToGlobal(r.topLeft()), r.size()};
    }
    QAccessible::Role role() const override { return QAccessible::PageTab; }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        const bool current = bar_->currentIndex() == index_;
        s.disabled = !bar_->isTabEnabled(index_) || !bar_->isEnabled();
        s.invisible = !bar_->isTabVisible(index_) || !bar_->isVisible();
        s.selectable = !s.disabled;
        s.selected = current;
        s.focusable = !s.disabled;
        s.focused = current && bar_->hasFocus();
        return s;
    }

    QStringList actionNames() const override {
        if (!isValid() || !bar_->isTabEnabled(index_)) return {};
        return {pressAction()};
    }
    void doAction(const QString& name) override {
        if (name == pressAction() && isValid() && bar_->isTabEnabled(index_))
            bar_->setCurrentIndex(index_);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<QTabBar> bar_;
    int index_;
};

// The tab bar: its children are its tabs (the scroll arrows are left out; the keyboard moves
// between tabs without them).
class TabBarAccessible : public QAccessibleWidget {
public:
    explicit TabBarAccessible(QTabBar* bar) : QAccessibleWidget(bar, QAccessible::PageTabList) {}
    ~TabBarAccessible() override {
        for (QAccessible::Id id : tabs_)
            if (id != 0) QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return bar()->count(); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= bar()->count()) return nullptr;
        if (tabs_.size() <= static_cast<std::size_t>(index)) tabs_.resize(index + 1, 0);
        QAccessible::Id& id = tabs_[static_cast<std::size_t>(index)];
        if (id == 0) id = QAccessible::registerAccessibleInterface(new TabAccessible(bar(), index));
        return QAccessible::accessibleInterface(id);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (std::size_t i = 0; i < tabs_.size(); ++i)
            if (tabs_[i] != 0 && QAccessible::accessibleInterface(tabs_[i]) == child)
                return static_cast<int>(i);
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        for (int i = 0; i < childCount(); ++i)
            if (QAccessibleInterface* tab = child(i); tab && tab->rect().contains(x, y))
                return tab;
        return nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        return bar()->hasFocus() ? child(bar()->currentIndex()) : nullptr;
    }

private:
    QTabBar* bar() const { return static_cast<QTabBar*>(object()); }
    mutable std::vector<QAccessible::Id> tabs_;
};

// A slider whose window shows its value scaled (steps of 8 ms, of 100 Hz): the value spoken
// and set through the bus is the one on the screen.
class ScaledSliderAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ScaledSliderAccessible(QAbstractSlider* slider)
        : QAccessibleWidget(slider, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) {
            const QString unit = slider()->property(kValueUnit).toString();
            const QString number = QString::number(currentValue().toDouble());
            return unit.isEmpty() ? number : number + QLatin1Char(' ') + unit;
        }
        return QAccessibleWidget::text(t);
    }

    QVariant currentValue() const override {
        if (const auto* label = qobject_cast<QLabel*>(slider()->property(kValueLabel).value<QObject*>())) {
            bool ok = false;
            const double shown = label->text().trimmed().toDouble(&ok);
            if (ok) return shown;
        }
        return slider()->value() * factor();
    }
    void setCurrentValue(const QVariant& value) override {
        slider()->setValue(static_cast<int>(std::lround(value.toDouble() / factor())));
    }
    QVariant maximumValue() const override { return slider()->maximum() * factor(); }
    QVariant minimumValue() const override { return slider()->minimum() * factor(); }
    QVariant minimumStepSize() const override { return slider()->singleStep() * factor(); }

private:
    QAbstractSlider* slider() const { return static_cast<QAbstractSlider*>(object()); }
    double factor() const {
        const double f = slider()->property(kValueFactor).toDouble();
        return f > 0 ? f : 1.0;
    }
};

// A painted progress display as a progress bar.
class ProgressAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ProgressAccessible(QWidget* widget)
        : QAccessibleWidget(widget, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Value) return QAccessibleWidget::text(t);
        const int maximum = widget()->property(kProgressMax).toInt();
        const int value = widget()->property(kProgressValue).toInt();
        return maximum > 0 ? QString::number(100 * value / maximum) + QStringLiteral(" %")
                           : QString();
    }
    QVariant currentValue() const override { return widget()->property(kProgressValue).toInt(); }
    void setCurrentValue(const QVariant&) override {} // the transfer moves it, no one else
    QVariant maximumValue() const override { return widget()->property(kProgressMax).toInt(); }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }
};

QAccessibleInterface* suiteAccessible(const QString&, QObject* object) {
    if (object == nullptr || !object->isWidgetType()) return nullptr;
    if (auto* bar = qobject_cast<QTabBar*>(object)) return new TabBarAccessible(bar);
    if (auto* slider = qobject_cast<QAbstractSlider*>(object);
        slider && slider->property(kValueFactor).isValid())
        return new ScaledSliderAccessible(slider);
    if (object->property(kProgressMax).isValid())
        return new ProgressAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

// Enter on a focused push button presses it, as Space does. (Dialogs keep their own rule:
// Enter there presses the default button.)
class EnterPressesButton : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
        if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
        auto* button = qobject_cast<QPushButton*>(watched);
        if (button == nullptr || !button->hasFocus() || !button->isEnabled()) return false;
        if (qobject_cast<QDialog*>(button->window()) != nullptr) return false;
        button->animateClick();
        return true;
    }
};

// Qt makes a widget's accessible interface as soon as anything about it changes (its name
// set while it is built); one made before the widget was marked is dropped, so the next
// question gets the suite's.
void forgetAccessible(QObject* object) {
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(object))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

} // namespace

void installAccessibility() {
    static bool installed = false;
    if (installed || qApp == nullptr) return;
    installed = true;
    QAccessible::installFactory(suiteAccessible);
    qApp->installEventFilter(new EnterPressesButton(qApp));
}

void onChecked(QAbstractButton* option, QObject* context, std::function<void()> chosen) {
    QObject::connect(option, &QAbstractButton::toggled, context,
                     [chosen = std::move(chosen)](bool on) {
                         if (on) chosen();
                     });
}

void selectInCode(QAbstractButton* option) {
    if (option->isChecked())
        Q_EMIT option->toggled(true);
    else
        option->setChecked(true);
}

void tieValueLabel(QAbstractSlider* slider, QLabel* valueLabel, double stepFactor,
                   const QString& unit) {
    const bool tiedBefore = slider->property(kValueFactor).isValid();
    slider->setProperty(kValueLabel, QVariant::fromValue<QObject*>(valueLabel));
    slider->setProperty(kValueFactor, stepFactor);
    slider->setProperty(kValueUnit, unit);
    valueLabel->setBuddy(slider);
    if (tiedBefore) return;
    forgetAccessible(slider);
    // Announced after the window's own handlers have written the label.
    QObject::connect(slider, &QAbstractSlider::valueChanged, slider, [slider] {
        if (!QAccessible::isActive()) return;
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(slider);
        if (QAccessibleValueInterface* value = iface ? iface->valueInterface() : nullptr) {
            QAccessibleValueChangeEvent event(slider, value->currentValue());
            QAccessible::updateAccessibility(&event);
        }
    }, Qt::QueuedConnection);
}

void makeProgressIndicator(QWidget* widget, int maximum) {
    widget->setProperty(kProgressMax, maximum);
    widget->setProperty(kProgressValue, 0);
    forgetAccessible(widget);
}

void setProgressValue(QWidget* widget, int value) {
    if (widget->property(kProgressValue).toInt() == value) return;
    widget->setProperty(kProgressValue, value);
    if (!QAccessible::isActive()) return;
    QAccessibleValueChangeEvent event(widget, value);
    QAccessible::updateAccessibility(&event);
}

} // namespace kvr::gui
