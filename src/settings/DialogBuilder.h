#pragma once

#include "settings/Resources.h"

#include <QColor>
#include <QFont>

#include <cstdint>
#include <map>
#include <vector>

class QDialog;
class QGroupBox;
class QLabel;
class QWidget;

namespace kelvora {

// The widgets of a dialog template, made on a dialog at the template's pixel
// rectangles, in the template's font for a language; the dialog gets the
// template's title and client size.
//
// Kinds: static (QLabel; a "grouptitle" sits on its box's top edge, in front
// of it), groupbox (a titleless QGroupBox), edit (QLineEdit), combobox
// (a QComboBox; "dropdownlist" has no edit part, and the template's height
// is that of the dropped list, so the closed box keeps its natural height),
// checkbox and radio (without text: their captions are statics; each radio
// "group" starts a pair whose buttons exclude each other) and button.
//
// Statics and group boxes let the mouse through to the dialog, as the
// desktop's own statics do, so the dialog can act on clicks over captions.
// Edits, lists and push buttons keep the application's palette, so that
// dialog colours given by setDialogColours reach only the texts drawn on the
// dialog's background.
class DialogWidgets {
public:
    DialogWidgets(QDialog& dialog, const DialogTemplate& dialogTemplate, int languageIndex);

    // The control with this number, or nullptr.
    QWidget* control(int id) const;
    template <typename T> T* as(int id) const { return qobject_cast<T*>(control(id)); }
    // The static text that labels control `id` (its caption), or nullptr.
    QLabel* labelOf(int id) const;
    // Every static text, group titles included, in template order.
    const std::vector<QLabel*>& statics() const { return statics_; }
    const std::vector<QGroupBox*>& groupBoxes() const { return groupBoxes_; }
    const QFont& font() const { return font_; }

private:
    QFont font_;
    std::map<int, QWidget*> controls_;
    std::map<int, QLabel*> labels_;
    std::vector<QLabel*> statics_;
    std::vector<QGroupBox*> groupBoxes_;
};

// A colour setting (0x00BBGGRR) as a colour.
QColor colourFromSetting(std::int32_t value);

// The dialog's background and the colour of every text drawn on it.
void setDialogColours(QDialog& dialog, const QColor& background, const QColor& text);

} // namespace kelvora
