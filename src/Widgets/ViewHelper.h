// Small helpers on widgets shared by the editor and the services' windows: an integer tag, frame
// edges, text width, the interface fonts and button title colours. Qt is y-down: top is the
// frame's y and bottom is y + height.
#pragma once

#include <QFont>
#include <QString>

class QAbstractButton;
class QWidget;

namespace tamberlo {

// An integer tag carried by the widget (0 when never set).
int viewID(const QWidget* view);
void setViewID(QWidget* view, int id);

// Frame edges in the parent; the setters move the widget and never change its size.
int left(const QWidget* view);
int right(const QWidget* view);
int top(const QWidget* view);
int bottom(const QWidget* view);
void setLeft(QWidget* view, int x);
void setRight(QWidget* view, int x);
void setTop(QWidget* view, int y);
void setBottom(QWidget* view, int y);

// Width of the text's bounding rectangle drawn with the font on one line.
double widthWithFont(const QString& text, const QFont& font);

// The interface fonts (Noto Sans CJK SC regular and medium) at a pixel size.
QFont pingfangSC(double pixelSize);
QFont pingfangSC_Medium(double pixelSize);

// Sets the colour of a button's title text.
void setTitleColor(QAbstractButton* button, const QColor& color);

// A flat button whose background shows a switch: black when on, clear (a dark hover) when off.
void setSwitched(QAbstractButton* button, bool on, int cornerRadius = 4);

}  // namespace tamberlo
