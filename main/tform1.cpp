// The main window: layout, the viewing commands, the byte editor and Save.
#include "main/tform1.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFontDialog>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSizeGrip>
#include <QStatusBar>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>
#include <climits>
#include <cmath>
#include <future>
#include <vector>

#include "binio/binio.h"
#include "binio/fileio.h"
#include "main/errorbox.h"
#include "main/gridimage.h"
#include "main/progress.h"
#include "textout/textout.h"

// The icons are compiled into the static window library, where nothing else would pull them in.
// Q_INIT_RESOURCE must not be used inside a namespace.
static void inittessarinicons() {
    Q_INIT_RESOURCE(tessarin);
}

namespace tessarin {

namespace {

// The window's layout, from its design at a client size of 292 x 273, which is also its smallest:
// the grid at the top left with its scroll bar on its right, both stretching with the window; a
// column of three buttons and the Mode group that keeps its distance to the right edge; the
// status bar along the bottom.
constexpr QSize kDesignClient{292, 273};
constexpr QPoint kDesignPosition{192, 107};
constexpr int kMargin = 8;  // left of the grid, above the grid and the column
constexpr int kScrollBarWidth = 17;
// The width and height the grid leaves to the rest of the window.
constexpr int kBesideGrid = kDesignClient.width() - GridImage::kDesignSize.width();   // 127
constexpr int kBelowGrid = kDesignClient.height() - GridImage::kDesignSize.height();  // 29
// The column: its left edge from the window's right edge, and its controls one under another.
constexpr int kColumnFromRight = 95;
constexpr QSize kButtonSize{89, 25};
constexpr QSize kModeGroupSize{89, 89};
constexpr int kColumnPitch = 32;
// The mode buttons inside their group.
constexpr QPoint kFirstModeButton{8, 16};
constexpr QSize kModeButtonSize{73, 17};
constexpr int kModeButtonPitch = 16;
// The byte editor starts outside the client area; it is shown only once placed over a cell.
constexpr QRect kEditorAtStart{360, 216, 41, 20};
// The byte editor is a cell wide plus room for its drop-down arrow.
constexpr int kEditorArrowWidth = 16;
// Typing in the byte editor searches its labels; a pause of this long starts a new search.
constexpr int kEditorSearchPauseMs = 500;
// The scroll bar's range as the window is made, until the grid's first layout sets it from the
// document.
constexpr int kScrollMaximumAtStart = 100;
// The status bar: panels 0 and 1 are this wide, panel 2 takes the rest.
constexpr int kStatusHeight = 17;
constexpr int kPanelWidth = 120;

// The grid's scroll bar, showing when it has the keyboard focus as the buttons do: styles draw
// no focus on a scroll bar, and Tab reaches it.
class FocusScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void paintEvent(QPaintEvent* event) override {
        QScrollBar::paintEvent(event);
        if (!hasFocus()) {
            return;
        }
        QStylePainter painter(this);
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        // Drawn whatever way the focus came, where a style draws it only after Tab.
        focus.state |= QStyle::State_KeyboardFocusChange;
        focus.backgroundColor = palette().color(QPalette::Window);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
};

// The busy pointer while a file operation blocks the window.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// What panel 0 says of a document of `size` bytes.
QString sizetext(std::size_t size) {
    return QStringLiteral("size:%1bytes").arg(size);
}

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

// The icons and type names of a file dialog's entries, told from their names alone. Qt's own
// provider reads a file whose name says nothing, to tell its type from its content, on the GUI
// thread: a file whose read blocks (/proc/kmsg for root) would freeze the window for good.
// Owned by its dialog, and deleted after the dialog's model, which uses it.
class NameOnlyIcons : public QObject, public QFileIconProvider {
public:
    explicit NameOnlyIcons(QObject* dialog) : QObject(dialog) {}

    QIcon icon(const QFileInfo& info) const override {
        if (!info.isFile()) {
            return QFileIconProvider::icon(info);
        }
        const QMimeType type = mimetype(info);
        QIcon icon = QIcon::fromTheme(type.iconName());
        if (icon.isNull()) {
            icon = QIcon::fromTheme(type.genericIconName());
        }
        return icon.isNull() ? QFileIconProvider::icon(QAbstractFileIconProvider::File) : icon;
    }

    QString type(const QFileInfo& info) const override {
        return info.isFile() ? mimetype(info).comment() : QFileIconProvider::type(info);
    }

private:
    // The dialog's model asks from its own thread too; QMimeDatabase objects share one database.
    static QMimeType mimetype(const QFileInfo& info) {
        return QMimeDatabase().mimeTypeForFile(info, QMimeDatabase::MatchExtension);
    }
};

// Closes the completion lists of a file dialog's name field.
void closelists(QFileDialog* dialog) {
    for (QCompleter* completer : dialog->findChildren<QCompleter*>()) {
        completer->popup()->hide();
    }
}

// Qt's file dialog, but for a typed folder: Enter on a folder's name enters the folder and left
// its name in the name field, with a list over it, so that the next key went on typing the
// folder's name. The field is emptied, as for a folder chosen in the list.
class FileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

protected:
    void accept() override {
        const QDir before = directory();
        QFileDialog::accept();
        // "fileNameEdit" is Qt's name for the field.
        auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (isVisible() && name != nullptr && !name->text().isEmpty() &&
            QDir(before.absoluteFilePath(name->text())) == directory()) {
            name->clear();
            closelists(this);
        }
    }
};

// A file dialog of the window, made when it is first needed: building one lists its folder and
// reads the icon theme, which the window's start does not wait for. It starts in `folder`, where
// it would have started had it been made with the window, not where another dialog was last.
QFileDialog* makefiledialog(QWidget* window, QFileDialog::AcceptMode mode, const QString& folder) {
    auto* dialog = new FileDialog(window, QString(), folder);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setIconProvider(new NameOnlyIcons(dialog));
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    dialog->setAcceptMode(mode);
    // Any name is accepted; one that does not exist goes to the load, which reports it.
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setModal(true);
    // Enter on a typed name accepts the dialog while the name field's completion list may be up,
    // and Qt leaves that list on the screen, where it would swallow the next click or key.
    // Nothing of the dialog outlives it.
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog] { closelists(dialog); });
    return dialog;
}

// The refusal box stands in the middle of the screen that holds the window, not over the window
// as Qt places a dialog: its frame, where a window manager puts one around it.
class ScreenCentredBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override {
        // The box has its final size only once QMessageBox has handled the event.
        QMessageBox::showEvent(event);
        // Its own frame is known only after the window manager has framed it, on the screen.
        // It is placed once, before that, with the frame of the window it belongs to: a window
        // manager frames the two alike, and a box that moved once on the screen could not tell
        // the window manager's move from the user's.
        // (The window's bottom edge may hold a grip for resizing, which the box has not.)
        const QWindow* owner = parentWidget() ? parentWidget()->window()->windowHandle() : nullptr;
        QMargins frame = owner != nullptr ? owner->frameMargins() : QMargins();
        frame.setBottom(frame.left());
        const QScreen* screen = owner != nullptr ? owner->screen() : this->screen();
        QRect box = QRect(QPoint(), size()).marginsAdded(frame);
        box.moveCenter(screen->availableGeometry().center());
        // The position of the client area: the frame is not known to the box's window yet.
        windowHandle()->setPosition(box.topLeft() + QPoint(frame.left(), frame.top()));
    }
};

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent), startfolder_(QDir::currentPath()) {
    setWindowTitle(QStringLiteral("Form1"));
    ::inittessarinicons();
    // The icons are decoded beside the rest of the start (the window system wants every size of
    // the window icon before the window shows, and reading them is a tenth of the start-up).
    std::future<std::vector<QImage>> icons = std::async(std::launch::async, [] {
        std::vector<QImage> images;
        for (int size : {16, 32, 48, 256}) {
            images.emplace_back(QStringLiteral(":/icons/tessarin-%1.png").arg(size), "PNG");
        }
        return images;
    });
    setFont(startfont());
    gridfont_ = startfont();
    QApplication::setKeyboardInputInterval(kEditorSearchPauseMs);

    // The grid and its scroll bar; layoutcontrols gives them their size.
    Image1 = new GridImage(this);
    sbv = new FocusScrollBar(Qt::Vertical, this);
    sbv->setRange(0, kScrollMaximumAtStart);
    sbv->setSingleStep(1);
    sbv->setTracking(true);
    sbv->setFocusPolicy(Qt::StrongFocus);

    // The column at the right: the three buttons with their dialogs, then the Mode group.
    const int column = kDesignClient.width() - kColumnFromRight;
    Button1 = new QPushButton(QStringLiteral("&Open"), this);
    Button1->setGeometry(QRect(QPoint(column, kMargin), kButtonSize));

    Button2 = new QPushButton(QStringLiteral("&Font"), this);
    Button2->setGeometry(QRect(QPoint(column, kMargin + kColumnPitch), kButtonSize));

    Button3 = new QPushButton(QStringLiteral("&Save"), this);
    Button3->setGeometry(QRect(QPoint(column, kMargin + 2 * kColumnPitch), kButtonSize));

    GroupBox1 = new QGroupBox(QStringLiteral("Mode"), this);
    GroupBox1->setGeometry(QRect(QPoint(column, kMargin + 3 * kColumnPitch), kModeGroupSize));
    rb_mdASCII = new QRadioButton(QStringLiteral("ASCII"), GroupBox1);
    rb_mbHEX = new QRadioButton(QStringLiteral("Hex."), GroupBox1);
    rb_mbbin = new QRadioButton(QStringLiteral("Bin."), GroupBox1);
    rb_mbdec = new QRadioButton(QStringLiteral("Dec."), GroupBox1);
    auto* modes = new QButtonGroup(this);
    int id = 0;
    for (QRadioButton* button : {rb_mdASCII, rb_mbHEX, rb_mbbin, rb_mbdec}) {
        button->setGeometry(
            QRect(kFirstModeButton + QPoint(0, id * kModeButtonPitch), kModeButtonSize));
        modes->addButton(button, id++);
    }
    rb_mdASCII->setChecked(true);

    // The byte editor, hidden until a click on a byte places it over that byte's cell.
    cbc = new QComboBox(this);
    cbc->setEditable(false);
    cbc->setGeometry(kEditorAtStart);
    // Fusion and other styles show a menu-like popup that ignores the visible-row count unless
    // the popup is a list.
    cbc->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    cbc->setMaxVisibleItems(8);
    cbc->hide();
    cbc->installEventFilter(this);

    // The status bar, its panels placed by layoutcontrols.
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
    // Panel 0 is widened where the size of the largest document does not fit in it whole.
    panels[0]->setText(sizetext(INT32_MAX));
    sizepanelwidth_ = std::max(kPanelWidth, panels[0]->sizeHint().width());
    panels[0]->clear();
    if (auto* grip = StatusBar1->findChild<QSizeGrip*>()) {
        grip->raise();
    }

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

    QIcon icon;
    for (const QImage& image : icons.get()) {
        icon.addPixmap(QPixmap::fromImage(image));
    }
    setWindowIcon(icon);

    move(kDesignPosition);
    setMinimumSize(kDesignClient);
    resize(kDesignClient);
    // A hidden widget gets its first resize event only when shown; the grid is laid out and drawn
    // now, as the first size notification does.
    layoutcontrols(kDesignClient.width(), kDesignClient.height());
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
    cbc->resize(cbc->width(), cbc->sizeHint().height());
}

void TForm1::layoutcontrols(int width, int height) {
    const int gridwidth = width - kBesideGrid;
    const int gridheight = height - kBelowGrid;
    Image1->setGeometry(kMargin, kMargin, gridwidth, gridheight);
    sbv->setGeometry(kMargin + gridwidth, kMargin, kScrollBarWidth, gridheight);
    for (QWidget* control : std::array<QWidget*, 4>{Button1, Button2, Button3, GroupBox1}) {
        control->move(width - kColumnFromRight, control->y());
    }
    StatusBar1->setGeometry(0, height - kStatusHeight, width, kStatusHeight);
    const int afterpanel1 = sizepanelwidth_ + kPanelWidth;
    panels[0]->setGeometry(0, 0, sizepanelwidth_, kStatusHeight);
    panels[1]->setGeometry(sizepanelwidth_, 0, kPanelWidth, kStatusHeight);
    panels[2]->setGeometry(afterpanel1, 0, std::max(0, width - afterpanel1), kStatusHeight);
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
        textout::scrollrange(static_cast<std::int32_t>(bindata_.size()), cols_);
    sbv->setPageStep(range.pagestep);
    sbv->setSingleStep(range.linestep);
    // Lowering the maximum below the position moves the position, which runs sbvChange.
    sbv->setMaximum(range.maximum);
}

void TForm1::redraw() {
    QImage picture =
        GridPainter::freshpicture(Image1->width(), Image1->height(), Image1->devicePixelRatioF());
    painter_.paint(picture, gridfont_, dispmode(), bindata_, {topaddr_, cols_, cellw(), cellh()});
    Image1->setpicture(std::move(picture));
}

void TForm1::Button1Click() {
    QString path;
    guard(this, apptitle, [this, &path] {
        if (OpenDialog1 == nullptr) {
            OpenDialog1 = makefiledialog(this, QFileDialog::AcceptOpen, startfolder_);
        }
        path = choosepath(OpenDialog1);
    });
    if (!path.isEmpty()) {
        openfile(path);
    }
}

void TForm1::openfile(const QString& path) {
    guard(this, apptitle, [this, &path] {
        Image1->discardpicture();
        std::vector<std::uint8_t> loaded;
        try {
            BusyCursor busy;
            ProgressWatch progress(this, QStringLiteral("読み込み中: %1"), path, progressdelay_);
            const Running running(running_, {&progress, Operation::load});
            binio::loadfile(localpath(path), loaded, progress.callback());
        } catch (...) {
            // The load changed nothing; show the document again rather than a blank grid.
            redraw();
            throw;
        }
        showdocument(std::move(loaded));
        setWindowTitle(apptitle + QStringLiteral(" - ") + path);
        panels[0]->setText(sizetext(bindata_.size()));
    });
    closeifrequested();
}

void TForm1::showdocument(std::vector<std::uint8_t> document) {
    // The old document goes here, once the new one is whole.
    bindata_ = std::move(document);
    setscrollbars();
    redraw();
    cbc->hide();
}

void TForm1::sbvChange(int position) {
    guard(this, apptitle, [this, position] {
        topaddr_ = textout::topaddrfor(position, cols_);
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
        if (FontDialog1 == nullptr) {
            // Made on first use: it lists every installed font family.
            FontDialog1 = new QFontDialog(this);
            FontDialog1->setOption(QFontDialog::DontUseNativeDialog);
            FontDialog1->setModal(true);
        }
        FontDialog1->setCurrentFont(shown);
        // The dialog offers the nearest size it lists (whole points): OK on what it offered
        // chooses nothing, and the grid stays exactly as it is drawn, at any screen density.
        const QFont offered = FontDialog1->currentFont();
        if (FontDialog1->exec() != QDialog::Accepted) {
            return;
        }
        const QFont chosen = FontDialog1->selectedFont();
        if (chosen.family() == offered.family() && chosen.styleName() == offered.styleName() &&
            chosen.pointSizeF() == offered.pointSizeF() && chosen.weight() == offered.weight() &&
            chosen.italic() == offered.italic()) {
            return;
        }
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
        cols_ = textout::columnsfor(Image1->width(), cellw());
        setscrollbars();
        redraw();
        placecbc();
    });
}

void TForm1::Image1MouseMove(QPoint pos) {
    guard(this, apptitle, [this, pos] {
        const std::int32_t idx = textout::cellat({pos.x(), pos.y()}, cols_, cellw(), cellh());
        if (idx == -1) {
            return;
        }
        const std::int64_t offset = topaddr_ + idx;
        if (offset < 0 || offset >= static_cast<std::int64_t>(bindata_.size())) {
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
    const std::int64_t r = std::int64_t{selpos_} - topaddr_;
    const std::int32_t visible = textout::visiblecount(Image1->height(), cellh(), cols_);
    if (selpos_ < 0 || selpos_ >= static_cast<std::int64_t>(bindata_.size()) || r < 0 ||
        r >= visible) {
        cbc->hide();
        return;
    }
    const textout::Point at =
        textout::cellpos(static_cast<std::int32_t>(r), cols_, cellw(), cellh());
    cbc->move(Image1->x() + at.x, Image1->y() + at.y);
}

void TForm1::Image1Click(QPoint pos) {
    guard(this, apptitle, [this, pos] {
        fillcbc();
        cbc->resize(cellw() + kEditorArrowWidth, cbc->sizeHint().height());
        const std::int32_t idx = textout::cellat({pos.x(), pos.y()}, cols_, cellw(), cellh());
        selpos_ = idx;
        // A click on no byte leaves no editor showing a value that would be stored nowhere.
        if (idx == -1) {
            closeeditor();
            return;
        }
        const std::int64_t offset = topaddr_ + idx;
        selpos_ = static_cast<std::int32_t>(std::min<std::int64_t>(offset, INT32_MAX));
        if (offset >= static_cast<std::int64_t>(bindata_.size())) {
            closeeditor();
            return;
        }
        cbc->show();
        cbc->raise();
        const textout::Point at = textout::cellpos(idx, cols_, cellw(), cellh());
        cbc->move(Image1->x() + at.x, Image1->y() + at.y);
        {
            const QSignalBlocker blocker(cbc);
            cbc->setCurrentIndex(bindata_[static_cast<std::size_t>(offset)]);
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
        if (index < 0 || index > 255 || selpos_ < 0 ||
            selpos_ >= static_cast<std::int64_t>(bindata_.size())) {
            return;
        }
        bindata_[static_cast<std::size_t>(selpos_)] = static_cast<std::uint8_t>(index);
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
        ProgressWatch progress(this, QStringLiteral("保存中: %1"), path, progressdelay_);
        const Running running(running_, {&progress, Operation::save});
        switch (dispmode()) {
            case DispMode::ascii:
                binio::savebin(target, bindata_, progress.callback());
                break;
            case DispMode::hex:
                binio::savetext(target, bindata_, 16, progress.callback());
                break;
            case DispMode::bin:
                binio::savetext(target, bindata_, 2, progress.callback());
                break;
            case DispMode::dec:
                binio::savetext(target, bindata_, 10, progress.callback());
                break;
        }
    } catch (const binio::IOError& e) {
        // The name appeared after the check: still a refusal, never a replacement.
        if (e.code() != binio::kFileExists) {
            // The user is told; a window closed meanwhile would take the unsaved bytes with it.
            closerequested_ = false;
            throw;
        }
        refuse();
    } catch (const binio::Cancelled&) {
        throw;
    } catch (...) {
        closerequested_ = false;
        throw;
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (running_.progress == nullptr) {
        QWidget::closeEvent(event);
        return;
    }
    // The window closes once the operation has ended: a load is cancelled (its document was
    // about to go anyway), a save is finished.
    event->ignore();
    closerequested_ = true;
    if (running_.operation == Operation::load) {
        running_.progress->cancel();
    }
}

void TForm1::closeifrequested() {
    if (closerequested_) {
        closerequested_ = false;
        close();
    }
}

void TForm1::Button3Click() {
    QString path;
    guard(this, apptitle, [this, &path] {
        if (SaveDialog1 == nullptr) {
            SaveDialog1 = makefiledialog(this, QFileDialog::AcceptSave, startfolder_);
        }
        path = choosepath(SaveDialog1);
    });
    if (!path.isEmpty()) {
        savefile(path);
    }
}

void TForm1::savefile(const QString& path) {
    guard(this, apptitle, [this, &path] { save(path); });
    closeifrequested();
}

}  // namespace tessarin
