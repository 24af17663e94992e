#pragma once

#include <QImage>
#include <QPushButton>
#include <QRect>
#include <QString>
#include <QWidget>

#include <array>

namespace kelvora {

// A read-only, right-aligned, borderless read-out: a static text on the
// window's background colour. Setting the text it already shows repaints
// nothing, so the window does not flicker at 100 ticks a second.
class ReadoutField : public QWidget {
public:
    explicit ReadoutField(QWidget* parent);
    void setText(const QString& text);
    const QString& text() const { return text_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};

// The class image's frame: shows the image it was last given, or, while the
// line has no data, a grey tile with a caption and the time of the last frame.
class IntensityImageFrame : public QWidget {
public:
    static const QColor kNoDataGrey;

    explicit IntensityImageFrame(QWidget* parent);
    void setImage(const QImage& image);
    const QImage& image() const { return image_; }
    // caption: what is wrong; since: when frames were last seen (may be empty).
    void showNoData(const QString& caption, const QString& since);
    void clearNoData();
    bool showsNoData() const { return noData_; }
    const QString& noDataCaption() const { return caption_; }
    const QString& noDataSince() const { return since_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
    bool noData_ = false;
    QString caption_;
    QString since_;
};

// The instrument face: the 410 x 206 client area of the main window. The
// background picture is copied in sixteen rectangles that leave out the class
// image and the ten read-outs; these, and the two reception buttons, are
// child widgets placed where the window's template puts them.
class MonitorFace : public QWidget {
public:
    static constexpr int kWidth = 410;
    static constexpr int kHeight = 206;
    static constexpr int kFieldCount = 10; // read-outs 1001 to 1010
    static constexpr int kFirstField = 1001;

    explicit MonitorFace(QWidget* parent);

    // Where each control sits, in client pixels.
    static QRect imageRect();
    static QRect fieldRect(int index);
    static QRect startButtonRect();
    static QRect stopButtonRect();
    // The sixteen background rectangles copied on every paint.
    static const std::array<QRect, 16>& backgroundRectangles();

    void setBackground(const QImage& background);
    // Background of the face and of every read-out, and the read-outs' text.
    void setColours(const QColor& background, const QColor& text);
    void setDialogFont(const QFont& font);
    void setIntensityFont(const QFont& font);

    ReadoutField& field(int index) { return *fields_[static_cast<std::size_t>(index)]; }
    IntensityImageFrame& imageFrame() { return *image_; }
    QPushButton& startButton() { return *start_; }
    QPushButton& stopButton() { return *stop_; }

    // Set by every paint: the frame may have been painted over, so the next
    // tick draws the image again.
    bool takeImageRedrawRequest();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage background_;
    std::array<ReadoutField*, kFieldCount> fields_{};
    IntensityImageFrame* image_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;
    bool imageRedrawRequested_ = false;
};

} // namespace kelvora
