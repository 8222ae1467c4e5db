// The main window: layout, the viewing commands, the byte editor and Save.
#include "main/tform1.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFontDialog>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QSizeGrip>
#include <QStatusBar>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <future>
#include <optional>
#include <utility>
#include <vector>

#include "binio/binio.h"
#include "main/byteeditor.h"
#include "main/errorbox.h"
#include "main/gridfont.h"
#include "main/gridimage.h"
#include "main/gridscrollbar.h"
#include "main/refusalbox.h"
#ifdef Q_OS_WIN
#include "main/systemdialogs.h"
#endif
#include "textout/textout.h"

// The icons are compiled into the static window library, where nothing else would pull them in.
// Q_INIT_RESOURCE must not be used inside a namespace.
static void inittessarinicons() {
    Q_INIT_RESOURCE(tessarin);
}

namespace tessarin {

namespace {

// The window's layout, from its first client size of 292 x 273, which is also its smallest:
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
// Typing in the byte editor searches its labels; a pause of this long starts a new search.
constexpr int kEditorSearchPauseMs = 500;
// The status bar: panels 0 and 1 are this wide, panel 2 takes the rest.
constexpr int kStatusHeight = 17;
constexpr int kPanelWidth = 120;

// What panel 0 says of a document of `size` bytes.
QString sizetext(std::size_t size) {
    return QStringLiteral("size:%1bytes").arg(size);
}

// The name binio opens: the bytes of the system's name, or on Windows, whose names are UTF-16,
// their UTF-8 (the local code page there cannot spell every name).
std::string localpath(const QString& path) {
#ifdef Q_OS_WIN
    return path.toStdString();
#else
    return QFile::encodeName(path).toStdString();
#endif
}

// Saves `document` under `target`: its bytes in ASCII mode, else its text in the mode's radix.
void savedocument(const std::string& target, const std::vector<std::uint8_t>& document,
                  DispMode mode, const binio::Progress& progress, const binio::Stop& stop) {
    switch (mode) {
        case DispMode::ascii:
            binio::savebin(target, document, progress, stop);
            return;
        case DispMode::hex:
            binio::savetext(target, document, 16, progress, stop);
            return;
        case DispMode::bin:
            binio::savetext(target, document, 2, progress, stop);
            return;
        case DispMode::dec:
            binio::savetext(target, document, 10, progress, stop);
            return;
    }
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent),
      places_(QDir::currentPath()),
      OpenDialog1(this, QFileDialog::AcceptOpen, places_),
      SaveDialog1(this, QFileDialog::AcceptSave, places_) {
    ::inittessarinicons();
    // A file system that left a load or save waiting is one the dialogs keep away from, and a
    // dialog whose lister may wait on it is put away.
    operations_.setonleftwaiting([this](const QString& place) {
        if (places_.stalled(place)) {
            OpenDialog1.replace();
            SaveDialog1.replace();
        }
    });
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
    sbv = new GridScrollBar(this);
    // Tab reaches it, as on Windows; Qt's takes the focus only by a click.
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
    modes_ = new QButtonGroup(this);
    for (const DispMode mode : {DispMode::ascii, DispMode::hex, DispMode::bin, DispMode::dec}) {
        QRadioButton* button = std::array{rb_mdASCII, rb_mbHEX, rb_mbbin, rb_mbdec}[int(mode)];
        button->setGeometry(
            QRect(kFirstModeButton + QPoint(0, int(mode) * kModeButtonPitch), kModeButtonSize));
        modes_->addButton(button, int(mode));
    }
    rb_mdASCII->setChecked(true);

    // The byte editor, hidden until a click on a byte places it over that byte's cell.
    cbc = new ByteEditor(this);

    // The status bar, its panels placed by layoutcontrols.
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setFont(QApplication::font(StatusBar1));
    StatusBar1->setSizeGripEnabled(true);
    for (QLabel*& panel : panels) {
        panel = new QLabel(StatusBar1);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        panel->setTextFormat(Qt::PlainText);
    }
    // Panel 0 is widened where the size of the largest document does not fit in it whole.
    panels[0]->setText(sizetext(INT32_MAX));
    sizepanelwidth_ = std::max(kPanelWidth, panels[0]->sizeHint().width());
    panels[0]->clear();
    if (auto* grip = StatusBar1->findChild<QSizeGrip*>()) {
        grip->raise();
    }

    // The scroll bar comes after the column; Qt's order is that of creation.
    const std::array<QWidget*, 9> taborder{Button1,  Button2,  Button3, rb_mdASCII, rb_mbHEX,
                                           rb_mbbin, rb_mbdec, sbv,     cbc};
    for (std::size_t i = 1; i < taborder.size(); ++i) {
        setTabOrder(taborder[i - 1], taborder[i]);
    }

    // Handlers are connected only now that every control is set up.
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    connect(sbv, &QScrollBar::valueChanged, this, &TForm1::sbvChange);
    // Only a button that becomes checked runs the handler, once per switch.
    connect(modes_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) {
            rb_mdASCIIClick();
        }
    });
    // activated is the user's choice only (a pick, or Backspace on the closed list): filling the
    // list or selecting from code emits nothing that stores a byte.
    connect(cbc, &ByteEditor::activated, this, &TForm1::cbcChange);
    connect(Image1, &GridImage::clicked, this, &TForm1::Image1Click);
    connect(Image1, &GridImage::pressed, this, &TForm1::Image1MouseDown);
    connect(Image1, &GridImage::moved, this, &TForm1::Image1MouseMove);
    // The wheel over the grid or the byte editor scrolls the grid.
    const auto scroll = [this](QWheelEvent* event) { QApplication::sendEvent(sbv, event); };
    connect(Image1, &GridImage::wheeled, this, scroll);
    connect(cbc, &ByteEditor::wheeled, this, scroll);

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
    setWindowTitle(apptitle());
}

DispMode TForm1::dispmode() const {
    const int checked = modes_->checkedId();
    return checked >= int(DispMode::ascii) && checked < int(DispMode::dec) ? DispMode(checked)
                                                                           : DispMode::dec;
}

void TForm1::setgridfont(const QFont& font) {
    gridfont_ = font;
    redraw();
    cbc->setFont(font);
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

void TForm1::closeEvent(QCloseEvent* event) {
    if (operations_.mayclose()) {
        QWidget::closeEvent(event);
    } else {
        event->ignore();
    }
}

void TForm1::setscrollbars() {
    const textout::ScrollRange range =
        textout::scrollrange(static_cast<std::int32_t>(bindata_->size()), cols_);
    sbv->setPageStep(range.pagestep);
    sbv->setSingleStep(range.linestep);
    // Lowering the maximum below the position moves the position, which runs sbvChange.
    sbv->setMaximum(range.maximum);
}

void TForm1::redraw() {
    QImage picture =
        GridPainter::freshpicture(Image1->width(), Image1->height(), Image1->devicePixelRatioF());
    painter_.paint(picture, gridfont_, dispmode(), *bindata_, {topaddr_, cols_, cellw(), cellh()});
    Image1->setpicture(std::move(picture));
}

void TForm1::Button1Click() {
    QString path;
    guarded([this, &path] { path = choose(OpenDialog1); });
    if (!path.isEmpty()) {
        openfile(path);
    }
}

void TForm1::openfile(const QString& path) {
    guarded([this, &path] {
        // The document stays drawn until the new one is whole.
        auto loaded = std::make_shared<std::vector<std::uint8_t>>();
        operations_.run(OperationRunner::Operation::load, path,
                        [loaded, file = localpath(path)](const binio::Progress& progress,
                                                         const binio::Stop& stop) {
                            binio::loadfile(file, *loaded, progress, stop);
                        });
        std::shared_ptr<std::vector<std::uint8_t>> old = bindata_;
        showdocument(std::move(*loaded));
        setWindowTitle(apptitle() + QStringLiteral(" - ") + QDir::toNativeSeparators(path));
        panels[0]->setText(sizetext(bindata_->size()));
        // Giving a large document's memory back to the system takes a while that nobody needs
        // to wait for.
        releasing_ =
            std::async(std::launch::async, [old = std::move(old)]() mutable { old.reset(); });
    });
    operations_.closeifasked();
}

void TForm1::showdocument(std::vector<std::uint8_t> document) {
    // The old document goes here, once the new one is whole, unless someone else holds it (Open
    // gives it back beside the window).
    bindata_ = std::make_shared<std::vector<std::uint8_t>>(std::move(document));
    setscrollbars();
    redraw();
    cbc->hide();
}

void TForm1::sbvChange(int position) {
    guarded([this, position] {
        topaddr_ = textout::topaddrfor(position, cols_);
        redraw();
        cbc->hide();
    });
}

void TForm1::Button2Click() {
    guarded([this] {
#ifdef Q_OS_WIN
        // Windows's own font dialog has just the choices the grid has a use for.
        if (!QCoreApplication::testAttribute(Qt::AA_DontUseNativeDialogs)) {
            if (const std::optional<QFont> chosen = choosesystemfont(this, gridfont_)) {
                setgridfont(*chosen);
            }
            return;
        }
#endif
        const qreal dpi = logicalDpiY();
        if (FontDialog1 == nullptr) {
            FontDialog1 = makefontdialog(this);
            FontDialog1->setOption(QFontDialog::DontUseNativeDialog);
            FontDialog1->setModal(true);
        }
        FontDialog1->setCurrentFont(dialogfont(gridfont_, dpi));
        // The dialog offers the nearest size it lists (whole points): OK on what it offered
        // keeps the grid font exactly as it is, at any screen density.
        const QFont offered = FontDialog1->currentFont();
        if (FontDialog1->exec() != QDialog::Accepted) {
            return;
        }
        const QFont chosen = FontDialog1->selectedFont();
        setgridfont(samechoice(chosen, offered) ? gridfont_ : gridfontfor(chosen, gridfont_, dpi));
    });
}

void TForm1::rb_mdASCIIClick() {
    guarded([this] { redraw(); });
}

void TForm1::FormResize() {
    guarded([this] {
        cols_ = textout::columnsfor(Image1->width(), cellw());
        setscrollbars();
        redraw();
        placecbc();
    });
}

void TForm1::Image1MouseMove(QPoint pos) {
    guarded([this, pos] {
        const std::int32_t idx = textout::cellat({pos.x(), pos.y()}, cols_, cellw(), cellh());
        if (idx == -1) {
            return;
        }
        const std::int64_t offset = topaddr_ + idx;
        if (offset < 0 || offset >= static_cast<std::int64_t>(bindata_->size())) {
            return;
        }
        panels[1]->setText(QStringLiteral("Addr.:") + QString::fromLatin1(binio::addrtohex(
                                                          static_cast<std::int32_t>(offset))));
    });
}

void TForm1::placecbc() {
    if (cbc->isHidden()) {
        return;
    }
    // Rows re-flow from topaddr: the edited byte may now lie in another cell, or in none of the
    // visible ones.
    const std::int64_t r = std::int64_t{selpos_} - topaddr_;
    const std::int32_t visible = textout::visiblecount(Image1->height(), cellh(), cols_);
    if (selpos_ < 0 || selpos_ >= static_cast<std::int64_t>(bindata_->size()) || r < 0 ||
        r >= visible) {
        cbc->hide();
        return;
    }
    const textout::Point at =
        textout::cellpos(static_cast<std::int32_t>(r), cols_, cellw(), cellh());
    cbc->move(Image1->x() + at.x, Image1->y() + at.y);
}

void TForm1::Image1Click(QPoint pos) {
    guarded([this, pos] {
        cbc->fill(dispmode());
        cbc->fitcell(cellw());
        const std::int32_t idx = textout::cellat({pos.x(), pos.y()}, cols_, cellw(), cellh());
        selpos_ = idx;
        // A click on no byte leaves no editor showing a value that would be stored nowhere.
        if (idx == -1) {
            closeeditor();
            return;
        }
        const std::int64_t offset = topaddr_ + idx;
        selpos_ = static_cast<std::int32_t>(std::min<std::int64_t>(offset, INT32_MAX));
        if (offset >= static_cast<std::int64_t>(bindata_->size())) {
            closeeditor();
            return;
        }
        const textout::Point at = textout::cellpos(idx, cols_, cellw(), cellh());
        cbc->showat(Image1->pos() + QPoint(at.x, at.y),
                    (*bindata_)[static_cast<std::size_t>(offset)]);
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
    guarded([this, button] {
        if (button == Qt::RightButton) {
            cbc->hide();
            redraw();
        }
    });
}

void TForm1::cbcChange(int index) {
    guarded([this, index] {
        // Only a value from the list, stored through an offset that designates a byte.
        if (index < 0 || index > 255 || selpos_ < 0 ||
            selpos_ >= static_cast<std::int64_t>(bindata_->size())) {
            return;
        }
        // A save left to finish on its own may still read the document: it keeps the bytes it
        // was given.
        if (bindata_.use_count() > 1) {
            bindata_ = std::make_shared<std::vector<std::uint8_t>>(*bindata_);
        }
        (*bindata_)[static_cast<std::size_t>(selpos_)] = static_cast<std::uint8_t>(index);
    });
}

void TForm1::Button3Click() {
    QString path;
    guarded([this, &path] { path = choose(SaveDialog1); });
    if (!path.isEmpty()) {
        savefile(path);
    }
}

void TForm1::savefile(const QString& path) {
    guarded([this, &path] {
        const std::string target = localpath(path);
        // A file of that name, or a link (dangling or not), is refused; a directory passes and
        // the write reports it. On a file system that left a load or save waiting, only the save
        // itself, on its worker, looks.
        if (!places_.reaches(path) && binio::existingcode(target) == binio::kFileExists) {
            showrefusal(this);
            return;
        }
        try {
            operations_.run(
                OperationRunner::Operation::save, path,
                [document = std::shared_ptr<const std::vector<std::uint8_t>>(bindata_), target,
                 mode = dispmode()](const binio::Progress& progress, const binio::Stop& stop) {
                    savedocument(target, *document, mode, progress, stop);
                });
        } catch (const binio::IOError& e) {
            // The name appeared after the check: still a refusal, never a replacement.
            if (e.code() != binio::kFileExists) {
                throw;
            }
            showrefusal(this);
        }
    });
    operations_.closeifasked();
}

QString TForm1::choose(FileChooser& dialog) {
    OpenDialog1.make();
    SaveDialog1.make();
    return dialog.choose();
}

}  // namespace tessarin
