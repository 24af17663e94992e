#include "shell/AlertNotifier.h"

#include "monitor/IntensityImages.h"
#include "settings/Resources.h"
#include "settings/Settings.h"
#include "shell/DesktopNotifications.h"
#include "shell/MessageBox.h"
#include "shell/TrayIcon.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

namespace kelvora {

namespace {

int firstImage(int intensityScale) {
    return intensityScale == 0 ? kFirstJmaImage : kFirstMercalliImage;
}

QString trimmed(const FieldText& text) {
    const std::string_view view = text.view();
    return QString::fromLatin1(view.data(), static_cast<qsizetype>(view.size())).trimmed();
}

QPixmap classPixmap(const IntensityImageStyle& style, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(style.background);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // A thin edge keeps white "0" or "I" apart from a light panel.
    painter.setPen(QColor(0x60, 0x60, 0x60));
    painter.drawRect(QRectF(0.5, 0.5, size - 1.0, size - 1.0));
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans")});
    font.setBold(true);
    // As large as the widest label allows, filling the square's height.
    double pixels = size * 0.8;
    font.setPixelSize(std::max(1, static_cast<int>(pixels)));
    const double room = size - 2.0;
    const double wide = QFontMetricsF(font).horizontalAdvance(style.label);
    if (wide > room) {
        font.setPixelSize(std::max(1, static_cast<int>(pixels * room / wide)));
    }
    painter.setFont(font);
    painter.setPen(style.labelColour);
    painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, style.label);
    return pixmap;
}

} // namespace

QIcon classIcon(int bitmapId) {
    const IntensityImageStyle style = intensityImageStyle(bitmapId);
    if (style.label.isEmpty()) {
        return {};
    }
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        icon.addPixmap(classPixmap(style, size));
    }
    return icon;
}

AlertNotifier::AlertNotifier(const Settings& settings, TrayIcon& tray, AlertView& view)
    : settings_(settings), tray_(tray), view_(view) {}

QString AlertNotifier::readingText(int intensityScale, int intensityClass,
                                   const FieldText& reading) {
    const int cls = std::clamp(intensityClass, 0, 9);
    const QString label = intensityImageStyle(firstImage(intensityScale) + cls).label;
    return messageText(intensityScale == 0 ? Message::AlertReadingJma
                                           : Message::AlertReadingMercalli)
        .arg(label, trimmed(reading));
}

QString AlertNotifier::notificationText(int intensityScale, int intensityClass,
                                        const FieldText& reading, const LocalTime& time) {
    const QString at = QStringLiteral("%1:%2:%3")
                           .arg(time.hour, 2, 10, QLatin1Char('0'))
                           .arg(time.minute, 2, 10, QLatin1Char('0'))
                           .arg(time.second, 2, 10, QLatin1Char('0'));
    return messageText(Message::AlertAt)
        .arg(readingText(intensityScale, intensityClass, reading), at);
}

void AlertNotifier::tick(int intensityClass, const FieldText& reading, const LocalTime& now,
                         std::chrono::milliseconds sinceLastTick) {
    if (intensityClass != shownClass_ || (intensityClass > 0 && !(reading == shownReading_))) {
        showTrayLook(intensityClass, reading);
    }

    if (inEvent_) {
        quiet_ = intensityClass > 0 ? std::chrono::milliseconds{0} : quiet_ + sinceLastTick;
        if (quiet_ >= kQuietTime) {
            inEvent_ = false;
            notified_ = false;
        }
    }
    // 0 or below would make every quiet tick an event: class 1 is the least.
    const int notifyClass = std::max(settings_.notifyClass, 1);
    if (notifyClass > 9 || intensityClass < notifyClass ||
        (inEvent_ && intensityClass <= peakClass_)) {
        return;
    }
    const bool first = !inEvent_;
    inEvent_ = true;
    quiet_ = std::chrono::milliseconds{0};
    peakClass_ = intensityClass;
    peakReading_ = reading;
    peakTime_ = now;
    const bool inSight = view_.windowInSight();
    if (notified_ || !inSight) {
        notify(!notified_);
        notified_ = true;
    }
    if (first && !inSight && settings_.raiseWindow == 1) {
        view_.bringToFront();
    }
}

void AlertNotifier::notify(bool first) {
    const int scale = settings_.pipeline.intensityScale;
    const QString title = messageText(Message::AlertTitle);
    const QString text = notificationText(scale, peakClass_, peakReading_, peakTime_);
    // A new balloon replaces the one shown; the service updates by number.
    if (tray_.available()) {
        tray_.showMessage(title, text);
    } else if (first) {
        view_.desktopNotifications().show(title, text);
    } else {
        view_.desktopNotifications().update(title, text);
    }
}

void AlertNotifier::showTrayLook(int intensityClass, const FieldText& reading) {
    const int classBefore = shownClass_;
    shownClass_ = intensityClass;
    shownReading_ = reading;
    if (intensityClass <= 0 || intensityClass > 9) {
        if (classBefore > 0) {
            tray_.setIcon(applicationIcon());
            view_.showShakingTip({});
        }
        return;
    }
    const int scale = settings_.pipeline.intensityScale;
    if (intensityClass != classBefore) {
        tray_.setIcon(classIcon(firstImage(scale) + intensityClass));
    }
    view_.showShakingTip(QString::fromUtf8(kApplicationTitle) + QLatin1Char('\n') +
                         readingText(scale, intensityClass, reading));
}

const QIcon& AlertNotifier::classIcon(int bitmapId) {
    QIcon& icon = icons_[static_cast<std::size_t>(bitmapId - kFirstJmaImage)];
    if (icon.isNull()) {
        icon = kelvora::classIcon(bitmapId);
    }
    return icon;
}

} // namespace kelvora
