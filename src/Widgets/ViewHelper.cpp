#include "Widgets/ViewHelper.h"

#include <QAbstractButton>
#include <QFontMetricsF>
#include <QPalette>
#include <QWidget>

namespace tamberlo {

namespace {
constexpr const char* viewIDKey = "viewID";
}

int viewID(const QWidget* view) { return view->property(viewIDKey).toInt(); }
void setViewID(QWidget* view, int id) { view->setProperty(viewIDKey, id); }

int left(const QWidget* view) { return view->x(); }
int right(const QWidget* view) { return view->x() + view->width(); }
int top(const QWidget* view) { return view->y(); }
int bottom(const QWidget* view) { return view->y() + view->height(); }
void setLeft(QWidget* view, int x) { view->move(x, view->y()); }
void setRight(QWidget* view, int x) { view->move(x - view->width(), view->y()); }
void setTop(QWidget* view, int y) { view->move(view->x(), y); }
void setBottom(QWidget* view, int y) { view->move(view->x(), y - view->height()); }

double widthWithFont(const QString& text, const QFont& font) {
    return QFontMetricsF(font).boundingRect(QRectF(0, 0, 9999, 30), Qt::AlignLeft | Qt::TextSingleLine, text).width();
}

static QFont interfaceFont(double pixelSize, QFont::Weight weight) {
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPixelSize(qMax(1, qRound(pixelSize)));
    font.setWeight(weight);
    return font;
}

QFont pingfangSC(double pixelSize) { return interfaceFont(pixelSize, QFont::Normal); }
QFont pingfangSC_Medium(double pixelSize) { return interfaceFont(pixelSize, QFont::Medium); }

void setTitleColor(QAbstractButton* button, const QColor& color) {
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, color);
    palette.setColor(QPalette::WindowText, color);
    button->setPalette(palette);
}

void setSwitched(QAbstractButton* button, bool on, int cornerRadius) {
    const QString shape = QString("border: none; border-radius: %1px;").arg(cornerRadius);
    button->setStyleSheet(on ? QString("QAbstractButton { background: black; %1 }").arg(shape)
                             : QString("QAbstractButton { background: transparent; %1 }"
                                       "QAbstractButton:hover { background: #33353B; }")
                                   .arg(shape));
    button->setProperty("switchedOn", on);
}

}  // namespace tamberlo
