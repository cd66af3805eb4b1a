#include "app/widgets.h"

namespace qmx::gui {

QString arrayName(const QString& name, int index) {
    return name + QLatin1Char('_') + QString::number(index);
}

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& text) {
    auto* w = new QPushButton(text, parent);
    w->setObjectName(name);
    return w;
}

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text) {
    auto* w = new QLabel(text, parent);
    w->setObjectName(name);
    return w;
}

QRadioButton* makeRadio(QWidget* parent, const QString& name, const QString& text) {
    auto* w = new QRadioButton(text, parent);
    w->setObjectName(name);
    return w;
}

QCheckBox* makeCheck(QWidget* parent, const QString& name, const QString& text) {
    auto* w = new QCheckBox(text, parent);
    w->setObjectName(name);
    return w;
}

QGroupBox* makeGroup(QWidget* parent, const QString& name, const QString& title) {
    auto* w = new QGroupBox(title, parent);
    w->setObjectName(name);
    return w;
}

QComboBox* makeList(QWidget* parent, const QString& name, const QStringList& rows) {
    auto* w = new QComboBox(parent);
    w->setObjectName(name);
    w->setEditable(false);
    w->addItems(rows);
    return w;
}

QLineEdit* makeEdit(QWidget* parent, const QString& name, const QString& text) {
    auto* w = new QLineEdit(text, parent);
    w->setObjectName(name);
    return w;
}

QStringList baudRows() {
    return {"115200", "57600", "38400", "19200", "14400", "9600", "4800", "2400", "1200"};
}
QStringList parityRows() {
    return {"Even", "Odd", "None"};
}
QStringList dataBitRows() {
    return {"8", "7", "6", "5"};
}
QStringList stopBitRows() {
    return {"1", "1.5", "2"};
}
QStringList comPortRows() {
    QStringList rows;
    for (int i = 1; i <= 8; ++i)
        rows << QStringLiteral("COM%1").arg(i);
    return rows;
}

}  // namespace qmx::gui
