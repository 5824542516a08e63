// The shared style-sheet texts, made once at start-up.
#include "ui/UiStyle.h"

#include <QLabel>
#include <QPushButton>

namespace {
constexpr int ACTION_BUTTON_WIDTH = 130;
constexpr int ACTION_BUTTON_HEIGHT = 38;
constexpr const char* FOCUS_RING = "QPushButton:focus{border: 2px solid rgb(255, 196, 0);}";
} // namespace

// Hover is a lighter shade of the button's own colour (grey is the disabled look), and keyboard
// focus draws a bright ring so the focused button can be found.
const QString button_style =
    QString(
        "QPushButton{background-color:rgb(30, 144, 255);color: white; border-radius: 10px; border: "
        "2px groove white; border-style: outset;}QPushButton:hover{background-color:rgb(70, 165, "
        "255); color: white;}QPushButton:pressed{background-color:rgb(30, 144, 255); color: "
        "white;border: 2px groove white;border-style: inset; }") +
    FOCUS_RING;
const QString main_button_style_ =
    QString("QPushButton{background-color:rgb(16, 78, 159);\t\t\t\t\t\t\t  color: white; "
            "border-radius: "
            "10px; border: 2px groove white;\t\t\t\t\t\t\t  border-style: "
            "outset;}QPushButton:hover{background-color:rgb(48, 112, 196); "
            "}QPushButton:pressed{background-color:rgb(12, 60, 124);border: 2px groove "
            "white;\t\t\t\t\t\t\t  border-style: inset; }") +
    FOCUS_RING;
const QString main_button_style_no_file =
    "QPushButton{background-color:rgb(191, 191, 191);color: gray;\t\t\t\t\t\t\t\t   "
    "border-radius: 10px; border: 2px groove white;\t\t\t\t\t\t\t\t   border-style: "
    "outset;}";
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
