#include "monitor/MonitorFace.h"

#include <QPainter>

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
    painter.drawText(rect(), Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, text_);
}

IntensityImageFrame::IntensityImageFrame(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
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

void IntensityImageFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (noData_) {
        // Unlike any class image: a grey field with the caption over the time.
        painter.fillRect(rect(), kNoDataGrey);
        painter.setPen(Qt::white);
        painter.setFont(font());
        const QRect inner = rect().adjusted(3, 3, -3, -3);
        const int timeHeight = since_.isEmpty() ? 0 : painter.fontMetrics().height() + 2;
        painter.drawText(inner.adjusted(0, 0, 0, -timeHeight), Qt::AlignCenter | Qt::TextWordWrap,
                         caption_);
        if (!since_.isEmpty()) {
            painter.drawText(inner, Qt::AlignHCenter | Qt::AlignBottom | Qt::TextSingleLine,
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

QRect MonitorFace::imageRect() {
    return fromUnits(16, 27, 55, 53);
}

QRect MonitorFace::fieldRect(int index) {
    // Four read-outs are moved to fixed pixel rectangles when the window opens.
    static const std::array<QRect, kFieldCount> rects{
        fromUnits(172, 29, 48, 12), fromUnits(172, 41, 48, 12), QRect(302, 80, 83, 12),
        QRect(152, 39, 68, 12),     fromUnits(110, 77, 19, 12), fromUnits(110, 89, 19, 12),
        fromUnits(180, 77, 27, 12), fromUnits(180, 89, 27, 12), QRect(152, 85, 68, 12),
        QRect(81, 125, 50, 28)};
    return rects[static_cast<std::size_t>(index)];
}

QRect MonitorFace::startButtonRect() {
    return fromUnits(56, 118, 45, 14);
}

QRect MonitorFace::stopButtonRect() {
    return fromUnits(135, 118, 45, 14);
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
    for (int i = 0; i + 1 < kFieldCount; ++i) {
        fields_[static_cast<std::size_t>(i)]->setFont(font);
    }
    start_->setFont(font);
    stop_->setFont(font);
    image_->setFont(font);
}

void MonitorFace::setIntensityFont(const QFont& font) {
    fields_[kFieldCount - 1]->setFont(font);
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
            painter.drawImage(r.topLeft(), background_, r);
        }
    }
    imageRedrawRequested_ = true;
}

} // namespace kelvora
