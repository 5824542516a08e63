// Style sheets, colours and the version text shared by every window of the application.
#pragma once

#include <QFont>
#include <QString>

class QLabel;
class QPushButton;
class QWidget;

extern const QString button_style;
extern const QString main_button_style_;        // enabled action button
extern const QString main_button_style_no_file; // disabled action button
extern const QString backGroud_style_;
extern const QString Layout1BackGroud_style;
extern const QString Start_label_style;
extern const QString Version_label;

constexpr const char* UI_FONT_FAMILY = "Arial";

// The interface font at a point size and weight.
QFont UiFont(int nPointSize, int nWeight = QFont::Normal);
// A page's action button (Start, Scan, Back, Recover) in the enabled look.
QPushButton* MakeActionButton(const QString& strText, QWidget* pParent);
// The version text shown at the bottom of every page.
QLabel* MakeVersionLabel(QWidget* pParent);
