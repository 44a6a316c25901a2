// A plain view with the layer styling of the design: background colour, corner radius (content
// clipped to the rounded bounds) and border.
#pragma once

#include <QColor>
#include <QWidget>

namespace tamberlo {

class StyledView : public QWidget {
    Q_OBJECT
public:
    explicit StyledView(QWidget* parent = nullptr);

    // Background colour; transparent by default.
    QColor backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(const QColor& color);
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius);
    double borderWidth() const { return borderWidth_; }
    void setBorderWidth(double width);
    // Border colour; transparent when none.
    QColor borderColor() const { return borderColor_; }
    void setBorderColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateMask();
    QColor backgroundColor_ = Qt::transparent;
    double cornerRadius_ = 0;
    double borderWidth_ = 0;
    QColor borderColor_ = Qt::transparent;
};

}  // namespace tamberlo
