#pragma once

#include "monitor/BackgroundImage.h"

#include <QImage>
#include <QPushButton>
#include <QRect>
#include <QString>
#include <QWidget>

#include <array>
#include <optional>

namespace kelvora {

// A read-only, right-aligned, borderless read-out: a static text on the
// window's background colour. Setting the text it already shows repaints
// nothing, so the window does not flicker at 100 ticks a second.
class ReadoutField : public QWidget {
public:
    explicit ReadoutField(QWidget* parent);
    void setText(const QString& text);
    const QString& text() const { return text_; }
    // Where the text is drawn: its right end at the right edge, on
    // readoutBaseline.
    QPointF textOrigin() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString text_;
    mutable std::optional<ReadoutInk> ink_;
};

// The class image's frame: shows the image it was last given, or, while the
// line has no data, a grey tile with a caption and the time of the last frame.
class IntensityImageFrame : public QWidget {
public:
    static const QColor kNoDataGrey;

    explicit IntensityImageFrame(QWidget* parent);
    // The face's size in percent: the no-data tile's margins follow it.
    void setScale(int percent);
    void setImage(const QImage& image);
    const QImage& image() const { return image_; }
    // caption: what is wrong; since: when frames were last seen (may be empty).
    void showNoData(const QString& caption, const QString& since);
    void clearNoData();
    bool showsNoData() const { return noData_; }
    const QString& noDataCaption() const { return caption_; }
    const QString& noDataSince() const { return since_; }
    // Where the tile's caption (wrapped, centred) and time (one line, at the
    // bottom) are drawn.
    QRect captionRect() const;
    QRect timeRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
    int scale_ = 100;
    bool noData_ = false;
    QString caption_;
    QString since_;
};

// The instrument face: the 410 x 206 client area of the main window, or that
// times its scale. The background picture is copied in sixteen rectangles
// that leave out the class image and the ten read-outs; these, and the two
// reception buttons, are child widgets placed where the window's template
// puts them. At a larger scale every rectangle and font grows with it; the
// background and the class images are drawn for that size by their makers.
class MonitorFace : public QWidget {
public:
    static constexpr int kWidth = 410;
    static constexpr int kHeight = 206;
    static constexpr int kFieldCount = 10; // read-outs 1001 to 1010
    static constexpr int kFirstField = 1001;

    explicit MonitorFace(QWidget* parent);

    // A rectangle of the 100 % face at `percent`: its edges scaled and
    // rounded half up, so rectangles that touch at 100 % touch at every size.
    static QRect scaled(const QRect& rect, int percent);

    // Where each control sits, in client pixels, at `percent`.
    static QRect imageRect(int percent = 100);
    static QRect fieldRect(int index, int percent = 100);
    static QRect startButtonRect(int percent = 100);
    static QRect stopButtonRect(int percent = 100);
    // The sixteen background rectangles copied on every paint, at 100 %.
    static const std::array<QRect, 16>& backgroundRectangles();

    // 100, 150, 200 or 300: the face, its controls and fonts at that size.
    void setScale(int percent);
    int scale() const { return scale_; }

    // Drawn for the face's size: 410 x 172 times the scale.
    void setBackground(const QImage& background);
    // Background of the face and of every read-out, and the read-outs' text.
    void setColours(const QColor& background, const QColor& text);
    // A caption wider than its button's inside gets a smaller font, not a cut.
    void setButtonCaptions(const QString& start, const QString& stop);
    // Fonts as at 100 %: the face scales them.
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
    void applyFonts();
    void fitButtonCaption(QPushButton& button);

    QImage background_;
    std::optional<QFont> dialogFont_; // as at 100 %, once set
    std::optional<QFont> intensityFont_;
    int scale_ = 100;
    std::array<ReadoutField*, kFieldCount> fields_{};
    IntensityImageFrame* image_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;
    bool imageRedrawRequested_ = false;
};

} // namespace kelvora
