#include "app/widgets.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

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

namespace {

// One size of the icon, drawn on the 64 x 64 grid of the SVG.
QPixmap iconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x8a, 0x8f, 0x98));  // the pins
    for (int y : {14, 24, 34, 44}) {
        p.drawRoundedRect(QRectF(6, y, 6, 4), 1, 1);
        p.drawRoundedRect(QRectF(52, y, 6, 4), 1, 1);
    }
    p.setBrush(QColor(0x23, 0x30, 0x3f));  // the body
    p.drawRoundedRect(QRectF(12, 8, 40, 48), 4, 4);
    p.setBrush(QColor(0x4a, 0x5a, 0x6c));  // pin 1
    p.drawEllipse(QPointF(19, 15), 2.5, 2.5);
    const QColor green(0x3c, 0xc4, 0x6a);  // the download arrow
    p.setPen(QPen(green, 6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(32, 16), QPointF(32, 34));
    p.setPen(Qt::NoPen);
    p.setBrush(green);
    QPainterPath head;
    head.moveTo(22, 30);
    head.lineTo(32, 42);
    head.lineTo(42, 30);
    head.closeSubpath();
    p.drawPath(head);
    if (size >= 48) {  // too small to read below that
        QFont font(QStringLiteral("sans-serif"));
        font.setPixelSize(8);
        font.setBold(true);
        p.setFont(font);
        p.setPen(QColor(0xd8, 0xde, 0xe6));
        p.drawText(QRectF(12, 45, 40, 10), Qt::AlignCenter, QStringLiteral("QMX"));
    }
    return pixmap;
}

}  // namespace

QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(iconPixmap(size));
    return icon;
}

}  // namespace qmx::gui
