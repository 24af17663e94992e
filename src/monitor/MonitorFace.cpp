#include "monitor/MonitorFace.h"

#include "monitor/BackgroundImage.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

#include <cmath>

namespace kelvora {

namespace {

// The window's template in dialog units of its font (7 x 12 base units):
// x * 7 / 4 and y * 12 / 8, rounded half up as the dialog manager does.
int unitsX(int x) {
    return (x * 7 * 2 + 4) / 8;
}
int unitsY(int y) {
    return (y * 12 * 2 + 8) / 16;
}
QRect fromUnits(int x, int y, int w, int h) {
    return {unitsX(x), unitsY(y), unitsX(w), unitsY(h)};
}

int scaledLength(int pixels, int percent) {
    return (pixels * percent + 50) / 100;
}

QFont scaledFont(QFont font, int percent) {
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * percent / 100.0);
    } else if (font.pixelSize() > 0) {
        font.setPixelSize(scaledLength(font.pixelSize(), percent));
    }
    return font;
}

} // namespace

ReadoutField::ReadoutField(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
}

void ReadoutField::setText(const QString& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    update();
}

void ReadoutField::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setFont(font());
    painter.drawText(textOrigin(), text_);
}

QPointF ReadoutField::textOrigin() const {
    if (!ink_) {
        ink_ = readoutInk(font()); // measured once per font, not per text
    }
    return {width() - QFontMetricsF(font()).horizontalAdvance(text_),
            readoutBaseline(QRectF(rect()), *ink_, hasDescenders(text_))};
}

void ReadoutField::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        ink_.reset();
    }
    QWidget::changeEvent(event);
}

IntensityImageFrame::IntensityImageFrame(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void IntensityImageFrame::setScale(int percent) {
    scale_ = percent;
    update();
}

void IntensityImageFrame::setImage(const QImage& image) {
    image_ = image;
    update();
}

const QColor IntensityImageFrame::kNoDataGrey{0x80, 0x80, 0x80};

void IntensityImageFrame::showNoData(const QString& caption, const QString& since) {
    if (noData_ && caption == caption_ && since == since_) {
        return;
    }
    noData_ = true;
    caption_ = caption;
    since_ = since;
    update();
}

void IntensityImageFrame::clearNoData() {
    if (!noData_) {
        return;
    }
    noData_ = false;
    update();
}

QRect IntensityImageFrame::captionRect() const {
    const int margin = scaledLength(3, scale_);
    const QRect inner = rect().adjusted(margin, margin, -margin, -margin);
    const int timeHeight = since_.isEmpty() ? 0 : fontMetrics().height() + scaledLength(2, scale_);
    return inner.adjusted(0, 0, 0, -timeHeight);
}

QRect IntensityImageFrame::timeRect() const {
    const int margin = scaledLength(3, scale_);
    const QRect inner = rect().adjusted(margin, margin, -margin, -margin);
    const int lineHeight = fontMetrics().height();
    return {inner.left(), inner.bottom() + 1 - lineHeight, inner.width(), lineHeight};
}

void IntensityImageFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (noData_) {
        // Unlike any class image: a grey field with the caption over the time.
        painter.fillRect(rect(), kNoDataGrey);
        painter.setPen(Qt::white);
        painter.setFont(font());
        painter.drawText(captionRect(), Qt::AlignCenter | Qt::TextWordWrap, caption_);
        if (!since_.isEmpty()) {
            painter.drawText(timeRect(), Qt::AlignHCenter | Qt::AlignBottom | Qt::TextSingleLine,
                             since_);
        }
        return;
    }
    painter.fillRect(rect(), palette().color(QPalette::Window));
    if (!image_.isNull()) {
        // The image's own pixels at (0, 0), as large as the frame.
        painter.drawImage(QPoint(0, 0), image_, QRect(QPoint(0, 0), size()));
    }
}

MonitorFace::MonitorFace(QWidget* parent) : QWidget(parent) {
    setFixedSize(kWidth, kHeight);
    setAutoFillBackground(true);
    image_ = new IntensityImageFrame(this);
    image_->setGeometry(imageRect());
    for (int i = 0; i < kFieldCount; ++i) {
        fields_[static_cast<std::size_t>(i)] = new ReadoutField(this);
        fields_[static_cast<std::size_t>(i)]->setGeometry(fieldRect(i));
    }
    start_ = new QPushButton(this);
    start_->setGeometry(startButtonRect());
    stop_ = new QPushButton(this);
    stop_->setGeometry(stopButtonRect());
    stop_->setEnabled(false);
    // Neither button is the dialog's default: Enter must not start or stop.
    start_->setAutoDefault(false);
    stop_->setAutoDefault(false);
}

QRect MonitorFace::scaled(const QRect& rect, int percent) {
    return scaledFaceRect(rect, percent);
}

QRect MonitorFace::imageRect(int percent) {
    return scaled(fromUnits(16, 27, 55, 53), percent);
}

QRect MonitorFace::fieldRect(int index, int percent) {
    // Four read-outs are moved to fixed pixel rectangles when the window opens.
    // The pressures are two pixels wider than the template's 47: a reading
    // of 1000 hPa or more ("1013.25") is wider than 47 pixels.
    static const std::array<QRect, kFieldCount> rects{
        fromUnits(172, 29, 48, 12), fromUnits(172, 41, 48, 12), QRect(302, 80, 83, 12),
        QRect(152, 39, 68, 12),     fromUnits(110, 77, 19, 12), fromUnits(110, 89, 19, 12),
        QRect(315, 116, 49, 18),    QRect(315, 134, 49, 18),    QRect(152, 85, 68, 12),
        QRect(81, 125, 50, 28)};
    return scaled(rects[static_cast<std::size_t>(index)], percent);
}

QRect MonitorFace::startButtonRect(int percent) {
    return scaled(fromUnits(56, 118, 45, 14), percent);
}

QRect MonitorFace::stopButtonRect(int percent) {
    return scaled(fromUnits(135, 118, 45, 14), percent);
}

void MonitorFace::setScale(int percent) {
    scale_ = percent;
    setFixedSize(scaledFaceSize(QSize(kWidth, kHeight), percent));
    image_->setGeometry(imageRect(percent));
    image_->setScale(percent);
    for (int i = 0; i < kFieldCount; ++i) {
        fields_[static_cast<std::size_t>(i)]->setGeometry(fieldRect(i, percent));
    }
    start_->setGeometry(startButtonRect(percent));
    stop_->setGeometry(stopButtonRect(percent));
    applyFonts();
    update();
}

const std::array<QRect, 16>& MonitorFace::backgroundRectangles() {
    static const std::array<QRect, 16> rects{
        QRect(0, 0, 25, 172),    QRect(25, 0, 103, 39),   QRect(25, 118, 56, 54),
        QRect(81, 152, 47, 20),  QRect(152, 55, 70, 28),  QRect(222, 35, 78, 63),
        QRect(128, 0, 24, 98),   QRect(128, 98, 62, 74),  QRect(152, 0, 148, 35),
        QRect(190, 98, 110, 12), QRect(300, 0, 110, 38),  QRect(300, 98, 110, 12),
        QRect(388, 38, 22, 60),  QRect(227, 110, 87, 44), QRect(363, 110, 47, 44),
        QRect(190, 154, 220, 18)};
    return rects;
}

void MonitorFace::setBackground(const QImage& background) {
    background_ = background;
    update();
}

void MonitorFace::setColours(const QColor& background, const QColor& text) {
    QPalette colours = palette();
    colours.setColor(QPalette::Window, background);
    colours.setColor(QPalette::WindowText, text);
    setPalette(colours);
    for (ReadoutField* field : fields_) {
        field->setPalette(colours);
    }
    image_->setPalette(colours);
    update();
}

void MonitorFace::setDialogFont(const QFont& font) {
    dialogFont_ = font;
    applyFonts();
}

void MonitorFace::setIntensityFont(const QFont& font) {
    intensityFont_ = font;
    applyFonts();
}

void MonitorFace::setButtonCaptions(const QString& start, const QString& stop) {
    start_->setText(start);
    stop_->setText(stop);
    fitButtonCaption(*start_);
    fitButtonCaption(*stop_);
}

void MonitorFace::fitButtonCaption(QPushButton& button) {
    if (!dialogFont_) {
        return;
    }
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    const int room =
        button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button).width();
    QFont font = scaledFont(*dialogFont_, scale_);
    while (QFontMetrics(font).horizontalAdvance(button.text()) > room && font.pointSizeF() > 6) {
        font.setPointSizeF(font.pointSizeF() - 0.25);
    }
    button.setFont(font);
}

void MonitorFace::applyFonts() {
    if (dialogFont_) {
        const QFont dialog = scaledFont(*dialogFont_, scale_);
        for (int i = 0; i + 1 < kFieldCount; ++i) {
            fields_[static_cast<std::size_t>(i)]->setFont(dialog);
        }
        image_->setFont(dialog);
        fitButtonCaption(*start_);
        fitButtonCaption(*stop_);
    }
    if (intensityFont_) {
        fields_[kFieldCount - 1]->setFont(scaledFont(*intensityFont_, scale_));
    }
}

bool MonitorFace::takeImageRedrawRequest() {
    const bool requested = imageRedrawRequested_;
    imageRedrawRequested_ = false;
    return requested;
}

void MonitorFace::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!background_.isNull()) {
        for (const QRect& r : backgroundRectangles()) {
            const QRect at = scaled(r, scale_);
            painter.drawImage(at.topLeft(), background_, at);
        }
    }
    imageRedrawRequested_ = true;
}

} // namespace kelvora
