// The main window: layout, the viewing commands, the byte editor and Save.
#include "main/tform1.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QResizeEvent>
#include <QScreen>
#include <QSignalBlocker>
#include <QSizeGrip>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>

#include "binio/binio.h"
#include "binio/fileio.h"
#include "main/errorbox.h"
#include "main/progress.h"
#include "textout/textout.h"

// The icons are compiled into the static window library, where nothing else would pull them in.
// Q_INIT_RESOURCE must not be used inside a namespace.
static void inittessarinicons() {
    Q_INIT_RESOURCE(tessarin);
}

namespace tessarin {

namespace {

// The window's and the grid's font at start: the Japanese proportional Gothic, or the free font
// made to match its metrics, 12 pixels high.
QFont startfont() {
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic")});
    font.setPixelSize(12);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

// The design client size; the window never gets smaller.
constexpr int kDesignWidth = 292;
constexpr int kDesignHeight = 273;
constexpr int kStatusHeight = 17;

// The busy pointer while a file operation blocks the window.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

std::string localpath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// Runs a file dialog; the chosen path, or an empty one when the user cancelled. The dialog offers
// the chosen path again next time, and its folder becomes the current one.
QString choosepath(QFileDialog* dialog) {
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
        return {};
    }
    const QString path = dialog->selectedFiles().constFirst();
    dialog->selectFile(path);
    QDir::setCurrent(QFileInfo(path).absolutePath());
    return path;
}

void configurefiledialog(QFileDialog* dialog, QFileDialog::AcceptMode mode) {
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    dialog->setAcceptMode(mode);
    // Any name is accepted; one that does not exist goes to the load, which reports it.
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setModal(true);
    // Enter on a typed name accepts the dialog while the name field's completion list may be up,
    // and Qt leaves that list on the screen, where it would swallow the next click or key.
    // Nothing of the dialog outlives it.
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog] {
        for (QCompleter* completer : dialog->findChildren<QCompleter*>()) {
            completer->popup()->hide();
        }
    });
}

// The refusal box stands in the middle of the screen that holds the window, not over the window
// as Qt places a dialog.
class ScreenCentredBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override {
        // The box has its final size only once QMessageBox has handled the event.
        QMessageBox::showEvent(event);
        const QScreen* screen =
            parentWidget() ? parentWidget()->window()->screen() : this->screen();
        QRect box = frameGeometry();
        box.moveCenter(screen->availableGeometry().center());
        move(box.topLeft());
    }
};

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("Form1"));
    ::inittessarinicons();
    QIcon icon;
    for (int size : {16, 32, 48, 256}) {
        icon.addFile(QStringLiteral(":/icons/tessarin-%1.png").arg(size), QSize(size, size));
    }
    setWindowIcon(icon);
    setFont(startfont());
    // Typing in the byte editor searches its labels; a pause of this long starts a new search.
    QApplication::setKeyboardInputInterval(500);

    Image1 = new GridImage(this);
    Image1->setGeometry(8, 8, 165, 244);

    Button1 = new QPushButton(QStringLiteral("&Open"), this);
    Button1->setGeometry(197, 8, 89, 25);
    OpenDialog1 = new QFileDialog(this);
    configurefiledialog(OpenDialog1, QFileDialog::AcceptOpen);

    sbv = new QScrollBar(Qt::Vertical, this);
    sbv->setGeometry(173, 8, 17, 244);
    sbv->setRange(0, 100);
    sbv->setSingleStep(1);
    sbv->setTracking(true);
    sbv->setFocusPolicy(Qt::StrongFocus);

    FontDialog1 = new QFontDialog(this);
    FontDialog1->setOption(QFontDialog::DontUseNativeDialog);
    FontDialog1->setModal(true);
    gridfont_ = startfont();

    Button2 = new QPushButton(QStringLiteral("&Font"), this);
    Button2->setGeometry(197, 40, 89, 25);

    cbc = new QComboBox(this);
    cbc->setEditable(false);
    cbc->setGeometry(360, 216, 41, 20);
    // Fusion and other styles show a menu-like popup that ignores the visible-row count unless
    // the popup is a list.
    cbc->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    cbc->setMaxVisibleItems(8);
    cbc->hide();
    cbc->installEventFilter(this);

    Button3 = new QPushButton(QStringLiteral("&Save"), this);
    Button3->setGeometry(197, 72, 89, 25);
    SaveDialog1 = new QFileDialog(this);
    configurefiledialog(SaveDialog1, QFileDialog::AcceptSave);

    GroupBox1 = new QGroupBox(QStringLiteral("Mode"), this);
    GroupBox1->setGeometry(197, 104, 89, 89);
    rb_mdASCII = new QRadioButton(QStringLiteral("ASCII"), GroupBox1);
    rb_mdASCII->setGeometry(8, 16, 73, 17);
    rb_mdASCII->setChecked(true);
    rb_mbHEX = new QRadioButton(QStringLiteral("Hex."), GroupBox1);
    rb_mbHEX->setGeometry(8, 32, 73, 17);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setFont(QApplication::font(StatusBar1));
    StatusBar1->setSizeGripEnabled(true);
    for (QLabel*& panel : panels) {
        panel = new QLabel(StatusBar1);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        panel->setTextFormat(Qt::PlainText);
        panel->setMinimumSize(0, 0);
    }
    if (auto* grip = StatusBar1->findChild<QSizeGrip*>()) {
        grip->raise();
    }

    rb_mbbin = new QRadioButton(QStringLiteral("Bin."), GroupBox1);
    rb_mbbin->setGeometry(8, 48, 73, 17);
    rb_mbdec = new QRadioButton(QStringLiteral("Dec."), GroupBox1);
    rb_mbdec->setGeometry(8, 64, 73, 17);
    auto* modes = new QButtonGroup(this);
    modes->addButton(rb_mdASCII, 0);
    modes->addButton(rb_mbHEX, 1);
    modes->addButton(rb_mbbin, 2);
    modes->addButton(rb_mbdec, 3);

    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Button3);
    setTabOrder(Button3, rb_mdASCII);
    setTabOrder(rb_mdASCII, rb_mbHEX);
    setTabOrder(rb_mbHEX, rb_mbbin);
    setTabOrder(rb_mbbin, rb_mbdec);
    setTabOrder(rb_mbdec, sbv);
    setTabOrder(sbv, cbc);

    // Handlers are connected only now that every control is set up.
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    connect(sbv, &QScrollBar::valueChanged, this, &TForm1::sbvChange);
    // Only a button that becomes checked runs the handler, once per switch.
    connect(modes, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) {
            rb_mdASCIIClick();
        }
    });
    // activated is the user's choice only: filling the list or selecting from code emits nothing
    // that stores a byte.
    connect(cbc, &QComboBox::activated, this, &TForm1::cbcChange);
    connect(Image1, &GridImage::clicked, this, &TForm1::Image1Click);
    connect(Image1, &GridImage::pressed, this, &TForm1::Image1MouseDown);
    connect(Image1, &GridImage::moved, this, &TForm1::Image1MouseMove);
    connect(Image1, &GridImage::wheeled, this,
            [this](QWheelEvent* event) { QApplication::sendEvent(sbv, event); });

    FormCreate();

    move(192, 107);
    setMinimumSize(kDesignWidth, kDesignHeight);
    resize(kDesignWidth, kDesignHeight);
    // A hidden widget gets its first resize event only when shown; the grid is laid out and drawn
    // now, as the first size notification does.
    layoutcontrols(kDesignWidth, kDesignHeight);
    FormResize();
}

void TForm1::FormCreate() {
    setWindowTitle(apptitle);
}

DispMode TForm1::dispmode() const {
    if (rb_mdASCII->isChecked()) {
        return DispMode::ascii;
    }
    if (rb_mbHEX->isChecked()) {
        return DispMode::hex;
    }
    if (rb_mbbin->isChecked()) {
        return DispMode::bin;
    }
    return DispMode::dec;
}

void TForm1::setgridfont(const QFont& font) {
    gridfont_ = font;
    redraw();
    cbc->setFont(font);
}

void TForm1::layoutcontrols(int width, int height) {
    Image1->setGeometry(8, 8, width - 127, height - 29);
    sbv->setGeometry(width - 119, 8, 17, height - 29);
    for (QWidget* control : std::array<QWidget*, 4>{Button1, Button2, Button3, GroupBox1}) {
        control->move(width - 95, control->y());
    }
    StatusBar1->setGeometry(0, height - kStatusHeight, width, kStatusHeight);
    panels[0]->setGeometry(0, 0, 120, kStatusHeight);
    panels[1]->setGeometry(120, 0, 120, kStatusHeight);
    panels[2]->setGeometry(240, 0, std::max(0, width - 240), kStatusHeight);
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutcontrols(event->size().width(), event->size().height());
    FormResize();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    // A wheel over the closed byte editor would change its selection, and with it a byte: it
    // scrolls the grid instead, as over the grid.
    if (watched == cbc && event->type() == QEvent::Wheel) {
        QApplication::sendEvent(sbv, event);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::setscrollbars() {
    const textout::ScrollRange range =
        textout::scrollrange(static_cast<std::int32_t>(bindata.size()), cols);
    sbv->setPageStep(range.pagestep);
    sbv->setSingleStep(range.linestep);
    // Lowering the maximum below the position moves the position, which runs sbvChange.
    sbv->setMaximum(range.maximum);
}

void TForm1::redraw() {
    QImage picture =
        GridPainter::freshpicture(Image1->width(), Image1->height(), Image1->devicePixelRatioF());
    painter_.paint(picture, gridfont_, dispmode(), bindata, {topaddr, cols, cellw, cellh});
    Image1->setpicture(std::move(picture));
}

void TForm1::Button1Click() {
    guard(this, apptitle, [this] {
        const QString path = choosepath(OpenDialog1);
        if (path.isEmpty()) {
            return;
        }
        Image1->discardpicture();
        try {
            BusyCursor busy;
            ProgressWatch progress(this, QStringLiteral("読み込み中: %1").arg(path), progressdelay);
            binio::loadfile(localpath(path), bindata, progress.callback());
        } catch (...) {
            // The load changed nothing; show the document again rather than a blank grid.
            redraw();
            throw;
        }
        setscrollbars();
        redraw();
        cbc->hide();
        setWindowTitle(apptitle + QStringLiteral(" - ") + path);
        panels[0]->setText(QStringLiteral("size:%1bytes").arg(bindata.size()));
    });
}

void TForm1::sbvChange(int position) {
    guard(this, apptitle, [this, position] {
        topaddr = textout::topaddrfor(position, cols);
        redraw();
        cbc->hide();
    });
}

void TForm1::Button2Click() {
    guard(this, apptitle, [this] {
        // The dialog starts from the font the grid is drawn with: the family it resolved to (the
        // first one asked for may not be installed), its style, and its size in points, as the
        // dialog speaks in points while the grid font is kept in pixels.
        const qreal dpi = logicalDpiY();
        const QFontInfo drawn(gridfont_);
        QFont shown(drawn.family());
        shown.setStyleName(drawn.styleName());
        shown.setWeight(QFont::Weight(drawn.weight()));
        shown.setItalic(drawn.italic());
        shown.setPointSizeF(drawn.pixelSize() * 72.0 / dpi);
        FontDialog1->setCurrentFont(shown);
        if (FontDialog1->exec() != QDialog::Accepted) {
            return;
        }
        const QFont chosen = FontDialog1->selectedFont();
        QFont font = gridfont_;
        font.setFamilies({chosen.family()});
        font.setPixelSize(std::max(1, int(std::lround(chosen.pointSizeF() * dpi / 72.0))));
        font.setWeight(chosen.weight());
        font.setItalic(chosen.italic());
        setgridfont(font);
    });
}

void TForm1::rb_mdASCIIClick() {
    guard(this, apptitle, [this] { redraw(); });
}

void TForm1::FormResize() {
    guard(this, apptitle, [this] {
        cols = textout::columnsfor(Image1->width(), cellw);
        setscrollbars();
        redraw();
        placecbc();
    });
}

void TForm1::Image1MouseMove(QPoint pos) {
    guard(this, apptitle, [this, pos] {
        const std::int32_t idx = textout::cellat({pos.x(), pos.y()}, cols, cellw, cellh);
        if (idx == -1) {
            return;
        }
        const std::int64_t offset = topaddr + idx;
        if (offset < 0 || offset >= static_cast<std::int64_t>(bindata.size())) {
            return;
        }
        panels[1]->setText(QStringLiteral("Addr.:") + QString::fromLatin1(binio::addrtohex(
                                                          static_cast<std::int32_t>(offset))));
    });
}

void TForm1::fillcbc() {
    const QSignalBlocker blocker(cbc);
    const DispMode mode = dispmode();
    cbc->clear();
    for (int b = 0; b < 256; ++b) {
        cbc->addItem(celltext(static_cast<std::uint8_t>(b), mode));
    }
    cbc->setCurrentIndex(-1);
}

void TForm1::placecbc() {
    if (cbc->isHidden()) {
        return;
    }
    // Rows re-flow from topaddr: the edited byte may now lie in another cell, or in none of the
    // visible ones.
    const std::int64_t r = std::int64_t{selpos} - topaddr;
    const std::int32_t visible = textout::visiblecount(Image1->height(), cellh, cols);
    if (selpos < 0 || selpos >= static_cast<std::int64_t>(bindata.size()) || r < 0 ||
        r >= visible) {
        cbc->hide();
        return;
    }
    const textout::Point at = textout::cellpos(static_cast<std::int32_t>(r), cols, cellw, cellh);
    cbc->move(Image1->x() + at.x, Image1->y() + at.y);
}

void TForm1::Image1Click(QPoint pos) {
    guard(this, apptitle, [this, pos] {
        fillcbc();
        cbc->resize(cellw + 16, cbc->sizeHint().height());
        const std::int32_t idx = textout::cellat({pos.x(), pos.y()}, cols, cellw, cellh);
        selpos = idx;
        // A click on no byte leaves no editor showing a value that would be stored nowhere.
        if (idx == -1) {
            closeeditor();
            return;
        }
        const std::int64_t offset = topaddr + idx;
        selpos = static_cast<std::int32_t>(std::min<std::int64_t>(offset, INT32_MAX));
        if (offset >= static_cast<std::int64_t>(bindata.size())) {
            closeeditor();
            return;
        }
        cbc->show();
        cbc->raise();
        const textout::Point at = textout::cellpos(idx, cols, cellw, cellh);
        cbc->move(Image1->x() + at.x, Image1->y() + at.y);
        {
            const QSignalBlocker blocker(cbc);
            cbc->setCurrentIndex(bindata[static_cast<std::size_t>(offset)]);
        }
        redraw();
    });
}

void TForm1::closeeditor() {
    if (cbc->isHidden()) {
        return;
    }
    cbc->hide();
    // The editor covered its cell, whose byte may have changed since the last redraw.
    redraw();
}

void TForm1::Image1MouseDown(Qt::MouseButton button, QPoint) {
    guard(this, apptitle, [this, button] {
        if (button == Qt::RightButton) {
            cbc->hide();
            redraw();
        }
    });
}

void TForm1::cbcChange(int index) {
    guard(this, apptitle, [this, index] {
        // Only a value from the list, stored through an offset that designates a byte.
        if (index < 0 || index > 255 || selpos < 0 ||
            selpos >= static_cast<std::int64_t>(bindata.size())) {
            return;
        }
        bindata[static_cast<std::size_t>(selpos)] = static_cast<std::uint8_t>(index);
    });
}

void TForm1::refuse() {
    ScreenCentredBox box(QMessageBox::Critical, QStringLiteral("エラー"),
                         QStringLiteral("申し訳ありませんが、本ソフトは上書き保存ができません。\n"
                                        "別名で保存してください。"),
                         QMessageBox::Ok, this);
    box.setEscapeButton(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

void TForm1::save(const QString& path) {
    const std::string target = localpath(path);
    // A file of that name, or a link (dangling or not), is refused; a directory passes and the
    // write reports it.
    if (binio::existingcode(target) == binio::kFileExists) {
        refuse();
        return;
    }
    try {
        BusyCursor busy;
        ProgressWatch progress(this, QStringLiteral("保存中: %1").arg(path), progressdelay);
        switch (dispmode()) {
            case DispMode::ascii:
                binio::savebin(target, bindata, progress.callback());
                break;
            case DispMode::hex:
                binio::savetext(target, bindata, 16, progress.callback());
                break;
            case DispMode::bin:
                binio::savetext(target, bindata, 2, progress.callback());
                break;
            case DispMode::dec:
                binio::savetext(target, bindata, 10, progress.callback());
                break;
        }
    } catch (const binio::IOError& e) {
        // The name appeared after the check: still a refusal, never a replacement.
        if (e.code() != binio::kFileExists) {
            throw;
        }
        refuse();
    }
}

void TForm1::Button3Click() {
    guard(this, apptitle, [this] {
        const QString path = choosepath(SaveDialog1);
        if (!path.isEmpty()) {
            save(path);
        }
    });
}

}  // namespace tessarin
