// The main window: its controls, the program state they show, and the command and mouse handlers
// that tie the document and the grid to the user.
#pragma once

#include <QComboBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <vector>

#include "main/gridimage.h"
#include "main/gridpaint.h"

namespace tessarin {

class TForm1 : public QWidget {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);

    // Controls. Qt's parent-child ownership deletes them with the window.
    GridImage* Image1;
    QPushButton* Button1;
    QFileDialog* OpenDialog1;
    QScrollBar* sbv;
    QFontDialog* FontDialog1;
    QPushButton* Button2;
    QComboBox* cbc;
    QPushButton* Button3;
    QFileDialog* SaveDialog1;
    QGroupBox* GroupBox1;
    QRadioButton* rb_mdASCII;
    QRadioButton* rb_mbHEX;
    QStatusBar* StatusBar1;
    QRadioButton* rb_mbbin;
    QRadioButton* rb_mbdec;
    // The three sunken panels of StatusBar1: file size, address under the pointer, empty.
    std::array<QLabel*, 3> panels;

    // Program state.
    std::vector<std::uint8_t> bindata;  // the byte document
    const std::int32_t cellw = 50;      // cell size in logical pixels, fixed for the run
    const std::int32_t cellh = 20;
    std::int32_t cols = 8;     // cells per row, from the width of Image1
    std::int64_t topaddr = 0;  // offset in the top-left cell, set only by scrolling
    std::int32_t selpos = 0;   // offset of the last click: -1 on no cell, >= length past the end
    const QString apptitle = QStringLiteral("Tessarin");
    // How long a load or save runs before its progress dialog comes up, in milliseconds.
    int progressdelay = 500;

    // The display mode: the checked Mode button, tested in the order ASCII, Hex, Bin; Dec when
    // none of those is checked.
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

    // Handlers, each run inside the error guard.
    void Button1Click();
    void sbvChange(int position);
    void Button2Click();
    void FormCreate();
    void Image1Click(QPoint pos);
    void Image1MouseDown(Qt::MouseButton button, QPoint pos);
    void cbcChange(int index);
    void FormResize();
    void Button3Click();
    void rb_mdASCIIClick();
    void Image1MouseMove(QPoint pos);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void layoutcontrols(int width, int height);
    void fillcbc();
    void closeeditor();
    void placecbc();
    void refuse();
    void save(const QString& path);

    QFont gridfont_;
    GridPainter painter_;
};

}  // namespace tessarin
