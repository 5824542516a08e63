// The shared style-sheet texts, made once at start-up.
#include "ui/UiStyle.h"

const QString button_style =
    "QPushButton{background-color:rgb(30, 144, 255);color: white; border-radius: 10px; border: "
    "2px groove white; border-style: outset;}QPushButton:hover{background-color:rgb(220, 220, "
    "220); color: white;}QPushButton:pressed{background-color:rgb(30, 144, 255); color: "
    "white;border: 2px groove white;border-style: inset; }";
const QString main_button_style_ =
    "QPushButton{background-color:rgb(16, 78, 159);\t\t\t\t\t\t\t  color: white; border-radius: "
    "10px; border: 2px groove white;\t\t\t\t\t\t\t  border-style: "
    "outset;}QPushButton:hover{background-color:rgb(156, 156, 156); "
    "}QPushButton:pressed{background-color:rgb(156, 156, 156);border: 2px groove "
    "white;\t\t\t\t\t\t\t  border-style: inset; }";
const QString main_button_style_no_file =
    "QPushButton{background-color:rgb(191, 191, 191);color: gray;\t\t\t\t\t\t\t\t   "
    "border-radius: 10px; border: 2px groove white;\t\t\t\t\t\t\t\t   border-style: "
    "outset;}QPushButton:hover{background-color:rgb(156, 156, 156); "
    "}QPushButton:pressed{background-color:rgb(156, 156, 156);border: 2px groove "
    "white;\t\t\t\t\t\t\t\t   border-style: inset; }";
const QString backGroud_style_ = "background-color: rgb(16, 78, 139);";
const QString Layout1BackGroud_style = "background-color: rgb(54, 100, 139);";
const QString Start_label_style = "background-color: rgb(236, 246, 255);";
const QString Version_label = "Version 8.8.8.9";

QFont UiFont(int nPointSize, int nWeight) {
    QFont font(UI_FONT_FAMILY, nPointSize);
    font.setWeight(static_cast<QFont::Weight>(nWeight));
    return font;
}
