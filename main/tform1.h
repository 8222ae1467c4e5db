// The main window: its controls, the program state they show, and the command and mouse handlers
// that tie the document and the grid to the user.
#pragma once

#include <QCoreApplication>
#include <QFont>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <vector>

#include "main/byteeditor.h"
#include "main/errorbox.h"
#include "main/filechooser.h"
#include "main/gridpaint.h"
#include "main/operationrunner.h"

class QButtonGroup;
class QFontDialog;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QStatusBar;

namespace tessarin {

class GridImage;

// The main window. Its controls and handlers keep the names they have always had (TForm1,
// Image1, Button1Click, ...), which say little; each declaration says what it is.
class TForm1 : public QWidget {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);

    // Controls. Qt's parent-child ownership deletes them with the window.
    GridImage* Image1;     // the byte grid: its picture, clicks, presses and pointer moves
    QPushButton* Button1;  // "&Open": opens a file through OpenDialog1
    QScrollBar* sbv;       // the grid's vertical scroll bar, one position per row
    // The font dialog of Button2, made on first use (it lists every installed font family); null
    // until then.
    QFontDialog* FontDialog1 = nullptr;
    QPushButton* Button2;      // "&Font": chooses the grid font
    ByteEditor* cbc;           // the byte editor: the 256 values, laid over the clicked cell
    QPushButton* Button3;      // "&Save": saves under a new name through SaveDialog1
    QGroupBox* GroupBox1;      // "Mode": the four mode buttons, which share rb_mdASCIIClick
    QRadioButton* rb_mdASCII;  // mode "ASCII", checked at start
    QRadioButton* rb_mbHEX;    // mode "Hex."
    QStatusBar* StatusBar1;    // the status bar along the bottom, holding the panels below
    QRadioButton* rb_mbbin;    // mode "Bin."
    QRadioButton* rb_mbdec;    // mode "Dec."
    // The three sunken panels of StatusBar1: file size, address under the pointer, empty.
    std::array<QLabel*, 3> panels;

    // The program state, which the handlers change; read here, changed only through the
    // commands, the controls and showdocument.
    const std::vector<std::uint8_t>& bindata() const { return *bindata_; }  // the byte document
    // The cell size in logical pixels, fixed for the run.
    static constexpr std::int32_t cellw() { return kCellW; }
    static constexpr std::int32_t cellh() { return kCellH; }
    std::int32_t cols() const { return cols_; }        // cells per row, from the width of Image1
    std::int64_t topaddr() const { return topaddr_; }  // offset in the top-left cell
    // The offset of the last click: -1 on no cell, >= the document's length past its end.
    std::int32_t selpos() const { return selpos_; }
    // The application's title, which the entry point sets: the caption and the error boxes'.
    static QString apptitle() { return QCoreApplication::applicationName(); }
    // How long a load or save runs before its progress dialog comes up.
    std::chrono::milliseconds progressdelay() const { return operations_.delay(); }
    void setprogressdelay(std::chrono::milliseconds delay) { operations_.setdelay(delay); }

    // Makes `document` the window's document and shows it, as Open does once it has read a
    // file: the scroll range follows its length, the grid is drawn anew from the scroll
    // position and the byte editor closes. The caption and the size panel are left to Open.
    void showdocument(std::vector<std::uint8_t> document);

    // The display mode: the checked Mode button; Dec when none of the others is checked.
    DispMode dispmode() const;
    // The grid font, the one the font dialog was last accepted with.
    const QFont& gridfont() const { return gridfont_; }
    // Makes `font` the grid font: the grid is redrawn with it and the byte editor takes it.
    void setgridfont(const QFont& font);

    // Applies the scroll-range rule to sbv; lowering the maximum below the position moves the
    // position, which scrolls like any other change.
    void setscrollbars();
    // Repaints every visible cell from scratch onto a fresh picture of Image1's size.
    void redraw();

    // Handlers; each but FormCreate runs inside the error guard.
    void Button1Click();                                       // Open
    void sbvChange(int position);                              // scrolling
    void Button2Click();                                       // Font
    void FormCreate();                                         // the window's caption
    void Image1Click(QPoint pos);                              // opens the byte editor
    void Image1MouseDown(Qt::MouseButton button, QPoint pos);  // a right press closes it
    void cbcChange(int index);                                 // a value picked in the editor
    void FormResize();                                         // re-flows the grid
    void Button3Click();                                       // Save
    void rb_mdASCIIClick();                                    // a mode button became checked
    void Image1MouseMove(QPoint pos);                          // the address under the pointer

    // What Open and Save do with the path their dialog returned: they load the file at `path`
    // and show it, or save the document under `path` in the display mode's format. Each runs
    // inside the error guard, and closes the window afterwards when a close was asked for while
    // it ran.
    void openfile(const QString& path);
    void savefile(const QString& path);

    // For a signal that ends the program at once: stops the save that runs, if any, and removes
    // its file and those of the saves given up on (see OperationRunner::removefiles).
    void removeunsaved() { operations_.removefiles(true); }
    // For the program's end, once the window has closed (see OperationRunner::removeafterend).
    void removeafterend() const { operations_.removeafterend(); }

protected:
    // A close request while a load or save runs is kept until it has ended.
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Runs a handler inside the application's error guard (errorbox.h), its box captioned with
    // the application's title.
    void guarded(const std::function<void()>& handler) { guard(this, apptitle(), handler); }
    void layoutcontrols(int width, int height);
    void closeeditor();
    // Runs `dialog`. Both dialogs are made at the first use of either (see FileChooser::make).
    QString choose(FileChooser& dialog);
    void placecbc();

    static constexpr std::int32_t kCellW = 50;
    static constexpr std::int32_t kCellH = 20;
    // Shared with a save that runs, which may outlive its command (see OperationRunner::run).
    std::shared_ptr<std::vector<std::uint8_t>> bindata_ =
        std::make_shared<std::vector<std::uint8_t>>();
    // The document an Open replaced, being given back to the system.
    std::future<void> releasing_;
    // Set from Image1's width by the layout the window's constructor makes.
    std::int32_t cols_ = 0;
    std::int64_t topaddr_ = 0;  // set only by scrolling
    std::int32_t selpos_ = 0;

    QFont gridfont_;
    GridPainter painter_;
    QButtonGroup* modes_;     // the Mode buttons, by DispMode
    int sizepanelwidth_ = 0;  // the width of panel 0
    // Where the file dialogs may go: at first, to the folder that was current when the window
    // was made.
    DialogPlaces places_;
    FileChooser OpenDialog1;  // the Open dialog
    FileChooser SaveDialog1;  // the Save dialog
    OperationRunner operations_{this};
};

}  // namespace tessarin
