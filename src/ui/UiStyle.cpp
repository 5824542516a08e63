// The shared style-sheet texts, made once at start-up.
#include "ui/UiStyle.h"

#include <QLabel>
#include <QPushButton>

namespace {
constexpr int ACTION_BUTTON_WIDTH = 130;
constexpr int ACTION_BUTTON_HEIGHT = 38;
} // namespace

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
const QString Version_label = "Version " ORVANNE_VERSION;

QFont UiFont(int nPointSize, int nWeight) {
    QFont font(UI_FONT_FAMILY, nPointSize);
    font.setWeight(static_cast<QFont::Weight>(nWeight));
    return font;
}

QPushButton* MakeActionButton(const QString& strText, QWidget* pParent) {
    auto* pButton = new QPushButton(strText, pParent);
    pButton->setFixedSize(ACTION_BUTTON_WIDTH, ACTION_BUTTON_HEIGHT);
    pButton->setFont(UiFont(13, QFont::Bold));
    pButton->setCursor(Qt::PointingHandCursor);
    pButton->setStyleSheet(main_button_style_);
    return pButton;
}

QLabel* MakeVersionLabel(QWidget* pParent) {
    auto* pLabel = new QLabel(Version_label, pParent);
    pLabel->setFont(UiFont(10));
    pLabel->setStyleSheet("color: rgb(120, 130, 145);");
    return pLabel;
}
