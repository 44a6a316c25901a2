// A one-line label for names of any length: what does not fit its width ends in "…", and the
// whole name is its tooltip.
//
//   auto* name = new ElidedLabel(row);
//   name->setFullText("a very long file name.wav");   // text() may read "a very lo…"
#pragma once

#include <QLabel>
#include <QString>

namespace tamberlo {

class ElidedLabel : public QLabel {
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // The name shown (elided to the width) and given as the tooltip; an empty one clears both.
    void setFullText(const QString& text);
    const QString& fullText() const { return fullText_; }

    // The whole text's size; a layout may still make the label as narrow as it needs.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void elide();

    QString fullText_;
};

}  // namespace tamberlo
