#include "shell/CKelvoraDlg.h"

#include "core/DisplayTexts.h"
#include "monitor/BackgroundImage.h"
#include "monitor/IntensityImages.h"
#include "monitor/MonitorFace.h"
#include "output/LocalTime.h"
#include "output/OutputFolders.h"
#include "output/RecorderClock.h"
#include "settings/CKelvoraSetdata.h"
#include "settings/CLangDialog.h"
#include "settings/DialogBuilder.h"
#include "settings/Language.h"
#include "settings/Resources.h"
#include "settings/SettingsStore.h"
#include "shell/CAboutDlg.h"
#include "shell/Commands.h"
#include "shell/MessageBox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

namespace kelvora {

namespace {

Message startFailureMessage(StartFailure reason) {
    switch (reason) {
    case StartFailure::CannotOpen:
        return Message::PortOpenFailed;
    case StartFailure::CannotSetBuffers:
        return Message::BufferSetupFailed;
    case StartFailure::CannotPurge:
        return Message::PurgeFailed;
    case StartFailure::LineSettingsFailed:
        return Message::UartSetupFailed;
    case StartFailure::TimeoutsFailed:
        break;
    }
    return Message::TimeoutSetupFailed;
}

constexpr int kIntensityField = 9;      // control 1010
constexpr int kSizeMenuString = 41000;  // the context menu's "Size" submenu
constexpr int kSizeCommandBase = 33000; // ID_CMD_SIZE_100 is this + 100

QRect workAreaOf(const QWidget&) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

std::vector<QRect> screenWorkAreas() {
    std::vector<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens()) {
        areas.push_back(screen->availableGeometry());
    }
    return areas;
}

// Innermost first: each menu's and box's own run returns once the event loop
// unwinds to it. A box that will not close is hidden, which ends its run too.
void endMenusAndModalBoxes(const QWidget& mainWindow) {
    for (int guard = 0; guard < 100; ++guard) {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
            if (popup->isVisible()) {
                popup->hide();
            }
            continue;
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == &mainWindow) {
            return;
        }
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
        if (modal->isVisible()) {
            modal->hide();
        }
    }
}

} // namespace

CKelvoraDlg::CKelvoraDlg(Settings& settings, SettingsStore& store,
                         std::shared_ptr<SoundPlayer> player, MonitorWindowOptions options)
    : QDialog(nullptr), settings_(settings), store_(store), options_(std::move(options)),
      placement_(*this, workAreaOf(*this)) {
    setWindowTitle(QStringLiteral("Kelvora"));
    setWindowIcon(applicationIcon());
    // A top-level window of its own with a taskbar entry, minimisable, not
    // resizable: the client area is the fixed instrument face.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    face_ = new MonitorFace(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(face_);
    setFixedSize(MonitorFace::kWidth, MonitorFace::kHeight);
    face_->setDialogFont(QFont(QStringLiteral("MS UI Gothic"), 9));
    QFont intensityFont(QStringLiteral("Arial"));
    intensityFont.setPointSizeF(16.5);
    face_->setIntensityFont(intensityFont);

    // The tick starts first; the work below is done before it first runs.
    uiTimer_.setTimerType(Qt::PreciseTimer);
    uiTimer_.setInterval(kQuickTick);
    connect(&uiTimer_, &QTimer::timeout, this, [this] { uiTick(); });
    if (options_.startTimer) {
        uiTimer_.start();
    }

    workingFolder_ = QDir::currentPath().toStdString();
    (void)createOutputFolders(workingFolder_); // failures show later as lost files

    const QRect workArea = workAreaOf(*this);
    settings_.loadWindowSettings(store_, {workArea.width(), workArea.height()});
    face_->setScale(settings_.faceScale);
    setFixedSize(face_->size());
    // The frame first: it counts towards the part of the window that must be
    // on a screen.
    placement_.measureFrame(settings_.windowRect, size());
    placement_.place(settings_.windowRect, screenWorkAreas());
    placement_.applyMode(settings_.framelessView);
    setButtonCaptions();

    instrument_ = std::make_unique<Instrument>(
        settings_.pipeline, settings_.recorder, std::move(player),
        static_cast<ReceptionView&>(*this), workingFolder_, options_.instrument);
    (void)instrument_->createPublicationBlock(); // without it, nothing is published
    observationLog_.emplace(observationFolder(workingFolder_));
    update_.emplace(*observationLog_, instrument_->displayTexts(), instrument_->alerts(),
                    instrument_->reception(), settings_.observationLogEnabled, *face_,
                    static_cast<PeriodicUpdateHost&>(*this));

    face_->setBackground(
        loadBackground(currentLanguage(), QString::fromStdString(workingFolder_), face_->scale()));
    setIntensityReadout();
    update_->pushFieldTexts();

    settings_.loadColours(store_);
    face_->setColours(colourFromSetting(settings_.backgroundColour),
                      colourFromSetting(settings_.textColour));

    new KeyboardShortcuts(*this, static_cast<KeyboardShortcutHost&>(*this));
    keyboardMove_ = new KeyboardMove(*this);
    connect(&face_->startButton(), &QPushButton::clicked, this, [this] { startReception(); });
    connect(&face_->stopButton(), &QPushButton::clicked, this, [this] { stopReception(); });
    face_->startButton().setFocus();

    // The about item keeps the language the window opened with.
    aboutText_ = resourceString(101, currentLanguage());
    trayMenu_ = std::make_unique<QMenu>();
    for (const MenuItem& item : resourceMenu(154, currentLanguage())) {
        if (item.separator) {
            trayMenu_->addSeparator();
            continue;
        }
        const int command = item.command;
        connect(trayMenu_->addAction(item.text), &QAction::triggered, this,
                [this, command] { runCommand(command); });
    }
    tray_ = options_.trayIcon ? options_.trayIcon() : std::make_unique<SystemTrayIcon>();
    tray_->doubleClicked = [this] { restoreFromTray(); };
    tray_->add(applicationIcon(), messageText(Message::TrayTip), trayMenu_.get());
    tray_->messageClicked = [this] { bringToFront(); };
    alertNotifier_.emplace(settings_, *tray_, static_cast<AlertView&>(*this));
}

CKelvoraDlg::~CKelvoraDlg() {
    destroyWindow();
}

void CKelvoraDlg::setButtonCaptions() {
    face_->setButtonCaptions(resourceString(40003, currentLanguage()),
                             resourceString(40004, currentLanguage()));
}

void CKelvoraDlg::reloadLanguage() {
    face_->setBackground(
        loadBackground(currentLanguage(), QString::fromStdString(workingFolder_), face_->scale()));
    setButtonCaptions();
    // The tray menu's actions keep their commands; only their texts change.
    const std::vector<MenuItem> trayItems = resourceMenu(154, currentLanguage());
    const QList<QAction*> trayActions = trayMenu_->actions();
    for (qsizetype i = 0; i < trayActions.size() && i < qsizetype(trayItems.size()); ++i) {
        if (!trayItems[static_cast<std::size_t>(i)].separator) {
            trayActions[i]->setText(trayItems[static_cast<std::size_t>(i)].text);
        }
    }
}

void CKelvoraDlg::setIntensityReadout() {
    // The period peak on the scale shown, as the display tick formats it. A
    // peak still at its reset value (after a run's last display tick) is no
    // reading: "-100" on the Mercalli scale would look like one.
    const MeasurementState& state = instrument_->state();
    const bool mercalli = settings_.pipeline.intensityScale == 1;
    const double peak = mercalli ? state.peakMmi : state.peakJmaIntensity;
    if (peak <= (mercalli ? kPeakMmiReset : kJmaFloor)) {
        update_->fieldTexts()[kIntensityField] =
            PeriodicUpdate::initialFieldTexts()[kIntensityField];
        return;
    }
    FieldText text;
    text.formatFixed(peak, 4, 1, 4);
    update_->fieldTexts()[kIntensityField] = text;
}

void CKelvoraDlg::showScaleChangeWhileStopped() {
    // The period peak holds its reset value (-100 on the Mercalli scale) and
    // the class is the other scale's: the placeholder read-out and class 0
    // until the next display tick decides both on the new scale. No receive
    // thread runs, so the class may be written here.
    update_->fieldTexts()[kIntensityField] = PeriodicUpdate::initialFieldTexts()[kIntensityField];
    IntensityAlerts& alerts = instrument_->alerts();
    alerts.intensityClass = 0;
    alerts.previousClass = 0; // any other class then counts as a change and is drawn
}

void CKelvoraDlg::uiTick() {
    if (destroyed_) {
        return;
    }
    const LocalTime now = options_.clock ? options_.clock() : localClock_.now();
    update_->tick(now);
    if (!destroyed_) { // a start-failure box in the tick may have outlived the window
        const auto monotonic = std::chrono::steady_clock::now();
        const auto sinceLastTick =
            std::chrono::duration_cast<std::chrono::milliseconds>(monotonic - lastTick_);
        lastTick_ = monotonic;
        alertNotifier_->tick(shakingClass(), update_->fieldTexts()[kIntensityField], now,
                             sinceLastTick);
        paceTicks();
    }
}

void CKelvoraDlg::paceTicks() {
    // Start-up steps, a drag, a stop and a restore are followed at the quick
    // pace. The rest of the tick's work needs no more: the read-outs change
    // every 250 ms, so each display period is still shown, and every wake-up
    // costs on an idle machine.
    const bool quick = startupStep_ < 4 || placement_.dragActive() || restoreTicks_ > 0 ||
                       instrument_->reception().stopRequested() == 1;
    const int interval = quick ? kQuickTick : kSteadyTick;
    if (uiTimer_.interval() != interval) {
        uiTimer_.setInterval(interval);
    }
}

int CKelvoraDlg::shakingClass() const {
    // A stopped run or a silent line keeps its last class: no shaking to show.
    const ReceptionControl& reception = instrument_->reception();
    if (reception.runState() != ReceptionControl::Running ||
        reception.lineState() != LineState::Receiving) {
        return 0;
    }
    return instrument_->alerts().intensityClass;
}

bool CKelvoraDlg::windowInSight() const {
    return isVisible() && !isMinimized() && isActiveWindow();
}

void CKelvoraDlg::showShakingTip(const QString& tip) {
    shakingTip_ = tip;
    showTrayTip();
}

void CKelvoraDlg::showTrayTip() {
    tray_->setTip(!lineHealthTip_.isEmpty() ? lineHealthTip_
                  : !shakingTip_.isEmpty()  ? shakingTip_
                                            : messageText(Message::TrayTip));
}

DesktopNotifications& CKelvoraDlg::desktopNotifications() {
    // Made when first needed: most runs never reach the session bus.
    if (!desktopNotifications_) {
        desktopNotifications_ = options_.desktopNotifications
                                    ? options_.desktopNotifications()
                                    : std::make_unique<FreedesktopNotifications>();
        desktopNotifications_->clicked = [this] { bringToFront(); };
    }
    return *desktopNotifications_;
}

void CKelvoraDlg::drawIntensityImage() {
    const int cls = instrument_->alerts().intensityClass;
    const int index = cls >= 0 && cls <= 9 ? cls : 9;
    const int first = settings_.pipeline.intensityScale == 0 ? 130 : 140;
    face_->imageFrame().setImage(intensityImage(first + index, face_->scale()));
}

void CKelvoraDlg::startupStep() {
    // Advanced before the action: an action that opens a message box (a start
    // that fails) lets ticks run inside it, and they must go on to the next
    // step, not repeat this one.
    const int step = startupStep_;
    if (startupStep_ < 10) {
        ++startupStep_;
    }
    switch (step) {
    case 0:
        face_->update(); // the first full paint
        break;
    case 1:
        if (settings_.stayOnTop == 1) {
            applyStayOnTop();
        }
        drawIntensityImage();
        frameRateTimer_.start(instrument_->state());
        break;
    case 2:
        if (settings_.autoStart == 1) {
            startReception();
        }
        break;
    case 3:
        if (settings_.minimiseAtStart == 1) {
            showMinimized();
        }
        break;
    default:
        break;
    }
}

void CKelvoraDlg::showLineHealth(LineState state, const LocalTime* lastFrame) {
    if (state != LineState::NoData && state != LineState::Retrying) {
        face_->imageFrame().clearNoData();
        drawIntensityImage();
        lineHealthTip_.clear();
        showTrayTip();
        return;
    }
    const QString since = lastFrame == nullptr
                              ? QStringLiteral("--:--:--")
                              : QStringLiteral("%1:%2:%3")
                                    .arg(lastFrame->hour, 2, 10, QLatin1Char('0'))
                                    .arg(lastFrame->minute, 2, 10, QLatin1Char('0'))
                                    .arg(lastFrame->second, 2, 10, QLatin1Char('0'));
    const QString caption =
        messageText(state == LineState::Retrying ? Message::LineDisconnected : Message::LineNoData);
    face_->imageFrame().showNoData(caption, since);
    // The first line names the program, as the usual tooltip does.
    lineHealthTip_ = QStringLiteral("Kelvora\n%1\n%2")
                         .arg(messageText(Message::LineNoDataSince).arg(since), caption);
    showTrayTip();
}

void CKelvoraDlg::followDrag() {
    if (placement_.dragActive()) {
        placement_.followDrag(QCursor::pos());
    }
}

void CKelvoraDlg::hideIfMinimised() {
    if (restoreTicks_ > 0) {
        followRestore();
        return;
    }
    // Without a notification area a hidden window could never come back: it
    // stays minimised in the taskbar until one appears.
    if (isMinimized() && isVisible() && tray_->available()) {
        trayHiddenState_ = 1;
        hide();
    }
}

void CKelvoraDlg::restoreFromTray() {
    if (trayHiddenState_ != 1) {
        return;
    }
    trayHiddenState_ = 2;
    restoreTicks_ = kRestoreTicks;
    paceTicks(); // the restore is followed closely
    setWindowState(windowState() & ~Qt::WindowMinimized);
    showNormal();
    raise();
    activateWindow();
}

void CKelvoraDlg::followRestore() {
    --restoreTicks_;
    const QWindow* handle = windowHandle();
    if (handle != nullptr && handle->isExposed() && !isMinimized()) {
        restoreTicks_ = 0;
        keepAboveAgain();
    } else if (isMinimized()) {
        // Not the user, who has not seen it yet: a window minimised before
        // the desktop had settled it may come back iconified. Asked again.
        showNormal();
    }
}

void CKelvoraDlg::keepAboveAgain() {
    // The desktop may drop its keep-above state while the window is away in
    // the tray, though the window's flag is still set. Any flag change on the
    // native window sends that state again; one without meaning on this
    // desktop, and back, leaves the window as it was (no re-creation, as a
    // change of the stay-on-top flag itself would make).
    QWindow* handle = windowHandle();
    if (handle == nullptr || !windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
        return;
    }
    const Qt::WindowFlags flags = handle->flags();
    handle->setFlags(flags ^ Qt::WindowContextHelpButtonHint);
    handle->setFlags(flags);
}

void CKelvoraDlg::bringToFront() {
    if (trayHiddenState_ == 1) {
        restoreFromTray();
        return;
    }
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void CKelvoraDlg::applyStayOnTop() {
    const bool onTop = settings_.stayOnTop == 1;
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) {
        return;
    }
    // A flag change re-creates the native window: keep its place and state.
    const QPoint corner = frameGeometry().topLeft();
    const bool hidden = isHidden();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    move(corner);
    if (!hidden) {
        show();
    }
}

std::unique_ptr<QMenu> CKelvoraDlg::makeContextMenu() const {
    auto menu = std::make_unique<QMenu>();
    const std::vector<MenuItem> items = resourceMenu(150, currentLanguage());
    if (items.empty()) {
        return menu;
    }
    for (const MenuItem& item : items) {
        if (item.separator) {
            menu->addSeparator();
        } else {
            menu->addAction(item.text)->setData(item.command);
        }
        if (item.command == ID_CMD_SETTINGS) {
            addSizeMenu(*menu);
        }
    }
    // The desktop gives no access to the window menu, where the about item
    // belongs: it follows the window's own commands.
    if (!aboutText_.isEmpty()) {
        menu->addSeparator();
        menu->addAction(aboutText_)->setData(static_cast<int>(ID_CMD_ABOUT));
    }
    return menu;
}

void CKelvoraDlg::addSizeMenu(QMenu& menu) const {
    QMenu* sizes = menu.addMenu(resourceString(kSizeMenuString, currentLanguage()));
    for (const int command : {ID_CMD_SIZE_100, ID_CMD_SIZE_150, ID_CMD_SIZE_200, ID_CMD_SIZE_300}) {
        const int percent = command - kSizeCommandBase;
        QAction* size = sizes->addAction(QStringLiteral("%1%").arg(percent));
        size->setData(command);
        size->setCheckable(true);
        size->setChecked(percent == settings_.faceScale);
    }
}

void CKelvoraDlg::setFaceScale(int percent) {
    if (percent == face_->scale()) {
        return;
    }
    settings_.faceScale = percent;
    // The window grows from its top-left corner, the frame's included.
    const QPoint corner = pos();
    face_->setScale(percent);
    setFixedSize(face_->size());
    face_->setBackground(
        loadBackground(currentLanguage(), QString::fromStdString(workingFolder_), percent));
    drawIntensityImage();
    move(corner);
}

void CKelvoraDlg::contextMenuEvent(QContextMenuEvent* event) {
    const std::unique_ptr<QMenu> menu = makeContextMenu();
    if (menu->isEmpty()) {
        return;
    }
    // The chosen command runs once the menu has closed.
    if (const QAction* chosen = menu->exec(event->globalPos())) {
        runCommand(chosen->data().toInt());
    }
}

void CKelvoraDlg::runCommand(int command) {
    if (destroyed_) {
        return;
    }
    switch (command) {
    case ID_CMD_MOVE:
        keyboardMove_->start();
        break;
    case ID_CMD_FRAME:
        toggleFrame();
        break;
    case ID_CMD_CLOSE:
        close();
        break;
    case ID_CMD_LANGUAGE:
        openLanguageDialog();
        break;
    case ID_CMD_SETTINGS:
        openSettingsDialog();
        break;
    case ID_CMD_SHOW:
        restoreFromTray();
        break;
    case ID_CMD_SIZE_100:
    case ID_CMD_SIZE_150:
    case ID_CMD_SIZE_200:
    case ID_CMD_SIZE_300:
        setFaceScale(command - kSizeCommandBase);
        break;
    case ID_CMD_EXIT:
        // Once the tray menu has returned, through the normal close.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        break;
    case ID_CMD_ABOUT: {
        CAboutDlg about(this);
        about.openManual = [this, &about] { openManualFrom(about); };
        about.exec();
        break;
    }
    default:
        break;
    }
}

void CKelvoraDlg::openLanguageDialog() {
    if (openDialog_ != nullptr) {
        return;
    }
    {
        CLangDialog dialog(settings_, this);
        dialog.openManual = [this, &dialog] { openManualFrom(dialog); };
        openDialog_ = &dialog;
        dialog.exec();
    }
    if (!destroyed_) {
        reloadLanguage();
    }
}

void CKelvoraDlg::openSettingsDialog() {
    if (openDialog_ != nullptr) {
        return;
    }
    const std::int32_t scaleBefore = settings_.pipeline.intensityScale;
    {
        CKelvoraSetdata dialog(settings_, static_cast<SettingsDialogSource&>(*this), this);
        dialog.openManual = [this, &dialog] { openManualFrom(dialog); };
        openDialog_ = &dialog;
        dialog.exec();
    }
    if (destroyed_) {
        return;
    }
    // Saved or cancelled alike: the scale may have changed.
    if (settings_.pipeline.intensityScale != scaleBefore &&
        instrument_->reception().receiveActive() == 0) {
        showScaleChangeWhileStopped();
    } else {
        setIntensityReadout();
    }
    update_->pushFieldTexts();
    applyStayOnTop();
    face_->update();
}

std::int32_t CKelvoraDlg::framesPerSecond() const {
    return instrument_->state().framesPerSecond;
}

QString CKelvoraDlg::jmaAccelText() const {
    const FieldText text = instrument_->displayTexts().snapshot().jmaAccelText;
    return QString::fromLatin1(text.view().data(), static_cast<qsizetype>(text.view().size()));
}

bool CKelvoraDlg::receiveActive() const {
    return instrument_->reception().receiveActive() == 1;
}

std::vector<SerialPortChoice> CKelvoraDlg::ports() const {
    std::vector<SerialPortChoice> choices;
    for (const int number : instrument_->ports().presentPorts()) {
        if (choices.size() == 255) {
            break;
        }
        choices.push_back(
            {number, QString::fromStdString(instrument_->ports().devicePath(number))});
    }
    return choices;
}

void CKelvoraDlg::toggleFrame() {
    settings_.framelessView = placement_.toggleFrame(settings_.framelessView);
}

void CKelvoraDlg::showReceiving() {
    face_->startButton().setEnabled(false);
    face_->stopButton().setEnabled(true);
    face_->stopButton().setFocus();
}

void CKelvoraDlg::showIdle() {
    face_->startButton().setEnabled(true);
    face_->stopButton().setEnabled(false);
    face_->startButton().setFocus();
}

void CKelvoraDlg::showStartFailure(StartFailure reason) {
    showMessageBox(this, messageText(startFailureMessage(reason)));
}

void CKelvoraDlg::showOpenFailure(const PortOpenFailure& failure) {
    showMessageBox(this, portOpenFailureText(failure, currentLanguage()));
}

void CKelvoraDlg::accept() {}

void CKelvoraDlg::reject() {
    if (escapePending_) {
        escapePending_ = false;
        return;
    }
    done(QDialog::Rejected);
}

void CKelvoraDlg::done(int result) {
    // A close while F8's or F9's dialog is open (the tray's exit, a signal)
    // ends that dialog first; it returns once this window is destroyed.
    if (openDialog_ != nullptr) {
        openDialog_->reject();
    }
    destroyWindow();
    QDialog::done(result);
}

void CKelvoraDlg::closeOnTerminationSignal() {
    // Left open, a box's or menu's run would keep the program alive after
    // the close, with the instance lock already released.
    endMenusAndModalBoxes(*this);
    close();
}

void CKelvoraDlg::keyPressEvent(QKeyEvent* event) {
    // Only an Escape that becomes the cancel command is marked, and only for
    // that command.
    if (event->matches(QKeySequence::Cancel)) {
        escapePending_ = true;
        QDialog::keyPressEvent(event);
        escapePending_ = false;
        return;
    }
    QDialog::keyPressEvent(event);
}

void CKelvoraDlg::closeEvent(QCloseEvent* event) {
    // Every close request, also while hidden in the tray, where the dialog's
    // own handling would ignore it.
    if (!destroyed_) {
        reject();
    }
    if (destroyed_) {
        event->accept();
    } else {
        event->ignore();
    }
}

void CKelvoraDlg::openManual() {
    openManualFrom(*this);
}

void CKelvoraDlg::openManualFrom(QWidget& asking) {
    if (options_.help) {
        options_.help(asking);
    }
}

void CKelvoraDlg::showMessage(const QString& text) {
    showMessageBox(this, text);
}

void CKelvoraDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        placement_.beginDrag(event->globalPosition().toPoint());
        paceTicks();
    }
    QDialog::mousePressEvent(event);
}

void CKelvoraDlg::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        placement_.endDrag();
    }
    QDialog::mouseReleaseEvent(event);
}

void CKelvoraDlg::destroyWindow() {
    if (destroyed_) {
        return;
    }
    destroyed_ = true;
    // The receive thread ends before the recording and the port are closed.
    instrument_->reception().shutdown();
    frameRateTimer_.stop();
    uiTimer_.stop();
    settings_.windowRect = placement_.rectToSave(settings_.framelessView);
    settings_.saveAll(store_);
    store_.flush();
    instrument_->publication().destroy();
    tray_->remove();
    if (options_.releaseInstance) {
        options_.releaseInstance();
    }
}

} // namespace kelvora
