#include "settings/DialogBuilder.h"

#include "monitor/Fonts.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

namespace kelvora {

namespace {

// A text line taller than its template rectangle (our fonts have more
// leading than the ones the templates were drawn for) grows evenly up and
// down, so its glyphs are not clipped and its middle stays in place. The
// width stays the template's.
QRect fitHeight(const QRect& rect, int height) {
    if (rect.height() >= height) {
        return rect;
    }
    const int grow = height - rect.height();
    return rect.adjusted(0, -grow / 2, 0, grow - grow / 2);
}

// Every role set explicitly, so none is inherited from the dialog.
void keepApplicationPalette(QWidget& widget) {
    QPalette palette = QApplication::palette(&widget);
    palette.setResolveMask(~QPalette::ResolveMask{0});
    widget.setPalette(palette);
}

} // namespace

DialogWidgets::DialogWidgets(QDialog& dialog, const DialogTemplate& t, int languageIndex)
    : font_(languageFont(t.fontFamily, t.fontPointSize, languageIndex)) {
    dialog.setFont(font_);
    dialog.setWindowTitle(t.title);
    dialog.setFixedSize(t.pixelSize());
    const QFontMetrics metrics(font_);
    // The radio buttons from one "group" control to the next exclude each other.
    QButtonGroup* radios = nullptr;
    for (const DialogControl& c : t.controls) {
        const QRect rect = t.pixelRect(c);
        if (c.hasStyle(QStringLiteral("group"))) {
            radios = nullptr;
        }
        QWidget* widget = nullptr;
        if (c.kind == QLatin1String("groupbox")) {
            auto* box = new QGroupBox(&dialog);
            // The frame's top line runs through the middle of the first text
            // line, where the group's title covers it.
            box->setGeometry(rect.adjusted(0, metrics.height() / 2, 0, 0));
            box->setAttribute(Qt::WA_TransparentForMouseEvents);
            box->lower();
            groupBoxes_.push_back(box);
            widget = box;
        } else if (c.kind == QLatin1String("static")) {
            auto* label = new QLabel(c.caption, &dialog);
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
            label->setGeometry(fitHeight(rect, label->sizeHint().height()));
            // A title paints its whole rectangle, hiding the box's line there.
            label->setAutoFillBackground(c.hasStyle(QStringLiteral("grouptitle")));
            statics_.push_back(label);
            if (c.labelFor != 0) {
                labels_[c.labelFor] = label;
            }
            widget = label;
        } else if (c.kind == QLatin1String("edit")) {
            auto* edit = new QLineEdit(&dialog);
            edit->setGeometry(rect);
            edit->setFrame(!c.hasStyle(QStringLiteral("noborder")));
            if (c.hasStyle(QStringLiteral("right"))) {
                edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            }
            edit->setReadOnly(c.hasStyle(QStringLiteral("readonly")));
            keepApplicationPalette(*edit);
            widget = edit;
        } else if (c.kind == QLatin1String("combobox")) {
            auto* list = new QComboBox(&dialog);
            list->setEditable(!c.hasStyle(QStringLiteral("dropdownlist")));
            list->setGeometry(rect.x(), rect.y(), rect.width(),
                              std::min(rect.height(), list->sizeHint().height()));
            keepApplicationPalette(*list);
            widget = list;
        } else if (c.kind == QLatin1String("checkbox")) {
            auto* box = new QCheckBox(&dialog);
            box->setGeometry(rect);
            widget = box;
        } else if (c.kind == QLatin1String("radio")) {
            auto* radio = new QRadioButton(&dialog);
            radio->setGeometry(rect);
            if (radios == nullptr) {
                radios = new QButtonGroup(&dialog);
            }
            radios->addButton(radio);
            widget = radio;
        } else if (c.kind == QLatin1String("button")) {
            auto* button = new QPushButton(c.caption, &dialog);
            button->setGeometry(rect);
            button->setDefault(c.hasStyle(QStringLiteral("default")));
            keepApplicationPalette(*button);
            widget = button;
        }
        if (widget == nullptr) {
            continue;
        }
        widget->setEnabled(!c.hasStyle(QStringLiteral("disabled")));
        if (c.id != -1) {
            controls_[c.id] = widget;
        }
    }
}

QWidget* DialogWidgets::control(int id) const {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

QLabel* DialogWidgets::labelOf(int id) const {
    const auto found = labels_.find(id);
    return found == labels_.end() ? nullptr : found->second;
}

QColor colourFromSetting(std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    return QColor(static_cast<int>(bits & 0xFFu), static_cast<int>((bits >> 8) & 0xFFu),
                  static_cast<int>((bits >> 16) & 0xFFu));
}

void setDialogColours(QDialog& dialog, const QColor& background, const QColor& text) {
    QPalette palette = dialog.palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    dialog.setPalette(palette);
    dialog.setAutoFillBackground(true);
}

} // namespace kelvora
