// Small factories for the window's controls. Every control carries its control name as its Qt
// objectName, so that tests and the settings code find it by the same name the rest of the
// system uses. Element i of a control array X is named "X_i" (for example "comDownload_0",
// "Option9_1", "LabLock_3").
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QString>
#include <QStringList>

namespace qmx::gui {

// The objectName of element `index` of the control array `name`.
QString arrayName(const QString& name, int index);

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& text);
QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text);
QRadioButton* makeRadio(QWidget* parent, const QString& name, const QString& text);
QCheckBox* makeCheck(QWidget* parent, const QString& name, const QString& text);
QGroupBox* makeGroup(QWidget* parent, const QString& name, const QString& title);
// A pick list: the user chooses one of its rows and never types.
QComboBox* makeList(QWidget* parent, const QString& name, const QStringList& rows);
QLineEdit* makeEdit(QWidget* parent, const QString& name, const QString& text = {});

// Lengths of the window's layout are thought in twips (1/1440 inch); 15 twips are one pixel
// at the usual 96 dots per inch.
constexpr int twips(int t) {
    return t / 15;
}

// The list rows shared by the port-setting pages.
QStringList baudRows();     // "115200", "57600", "38400", ...
QStringList parityRows();   // "Even", "Odd", "None"
QStringList dataBitRows();  // "8", "7", ...
QStringList stopBitRows();  // "1", "1.5", "2"
QStringList comPortRows();  // "COM1" ... "COM8"

// The program's icon (a chip with a download arrow entering it), drawn at the usual sizes;
// the same picture as the installed qmx-isp.svg, without needing an SVG renderer.
QIcon programIcon();

}  // namespace qmx::gui
