// The main window against a small model of its rules, driven by long random sequences of user
// actions: resizing, scrolling, opening (good files, missing ones, a folder, cancelled), mode
// switches, clicks and right presses on the grid, picks in the byte editor, pointer moves and
// saves. After every step the window's whole visible state is compared with the model's; at the
// end every file the run wrote or left alone is compared with what it must hold.
//
// The run is reproducible from its seed, which every failure prints. By hand:
//   TESSARIN_MODEL_SEED=<n>   the seed (default 20261207)
//   TESSARIN_MODEL_STEPS=<n>  the number of steps (default 6000)
// QtTest ends a test function after QTEST_FUNCTION_TIMEOUT milliseconds (5 minutes unless set);
// raise it for runs of more than about 100,000 steps. For example:
//   TESSARIN_MODEL_SEED=7 TESSARIN_MODEL_STEPS=50000 QT_QPA_PLATFORM=offscreen ./window_model_test
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QMouseEvent>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "main/tform1.h"
#include "tests/windowtest.h"
#include "textout/textout.h"

using tessarin::TForm1;

namespace {

using Bytes = std::vector<std::uint8_t>;

using Mode = tessarin::DispMode;
using windowtest::asbytearray;

// A value as the failure message shows it.
template <typename T>
QString shown(const T& value) {
    QString text;
    QDebug(&text).nospace() << value;
    return text;
}

// The window's rules, written out on their own but for the grid geometry, which is textout's
// (textout_test holds its tables): the model checks that the window follows it.
struct Model {
    static constexpr int kMinWidth = windowtest::kDesignSize.width();
    static constexpr int kMinHeight = windowtest::kDesignSize.height();
    static constexpr int kCellW = windowtest::kCellW;
    static constexpr int kCellH = windowtest::kCellH;
    static constexpr int kHitRows = textout::kHitRows;

    Bytes bytes;
    int width = kMinWidth;
    int height = kMinHeight;
    int position = 0;
    int maximum = 0;
    int cols = 2;
    std::int64_t topaddr = 0;
    std::int32_t selpos = 0;
    bool editor = false;
    int editorx = 0;
    int editory = 0;
    int editorindex = -1;
    bool filled = false;  // the editor's list, filled by the first click
    QString caption = QStringLiteral("Tessarin");
    QString panel0;
    QString panel1;
    Mode mode = Mode::ascii;

    int length() const { return int(bytes.size()); }
    QRect image() const { return windowtest::gridrect({width, height}); }
    int imagew() const { return image().width(); }
    int imageh() const { return image().height(); }
    int rows() const { return imageh() / kCellH; }
    int visible() const { return rows() * cols; }

    void scrolled() {
        topaddr = textout::topaddrfor(position, cols);
        editor = false;
    }

    void scrollto(int target) {
        target = std::clamp(target, 0, maximum);
        if (target != position) {
            position = target;
            scrolled();
        }
    }

    void applyrange() {
        maximum = textout::scrollrange(length(), cols).maximum;
        if (position > maximum) {
            position = maximum;
            scrolled();
        }
    }

    void place(std::int64_t r) {
        editorx = image().x() + int(r % cols) * kCellW;
        editory = image().y() + int(r / cols) * kCellH;
    }

    void resize(int w, int h) {
        w = std::max(w, kMinWidth);
        h = std::max(h, kMinHeight);
        if (w == width && h == height) {
            return;
        }
        width = w;
        height = h;
        cols = textout::columnsfor(imagew(), kCellW);
        applyrange();
        if (editor) {
            const std::int64_t r = std::int64_t(selpos) - topaddr;
            if (r >= 0 && r < visible()) {
                place(r);
            } else {
                editor = false;
            }
        }
    }

    // The cell under a point in Image1 (fractions dropped toward minus infinity), or -1.
    int cellat(double x, double y) const {
        return textout::cellat({int(std::floor(x)), int(std::floor(y))}, cols, kCellW, kCellH);
    }

    void click(double x, double y) {
        filled = true;
        const int idx = cellat(x, y);
        if (idx == -1) {
            selpos = -1;
            editor = false;
            return;
        }
        selpos = std::int32_t(topaddr + idx);
        if (selpos >= length()) {
            editor = false;
            return;
        }
        editor = true;
        place(idx);
        editorindex = bytes[std::size_t(selpos)];
    }

    void pick(int index) {
        index = std::clamp(index, 0, 255);
        if (index == editorindex) {
            return;
        }
        editorindex = index;
        if (selpos >= 0 && selpos < length()) {
            bytes[std::size_t(selpos)] = std::uint8_t(index);
        }
    }

    void pointer(double x, double y) {
        const int idx = cellat(x, y);
        if (idx != -1 && topaddr + idx < length()) {
            panel1 = "Addr.:" + QString::number(topaddr + idx, 16).toUpper();
        }
    }

    void open(const QString& path, const Bytes& content) {
        bytes = content;
        applyrange();
        editor = false;
        caption = QStringLiteral("Tessarin - ") + QDir::toNativeSeparators(path);
        panel0 = QStringLiteral("size:%1bytes").arg(length());
    }
};

}  // namespace

class WindowModelTest : public QObject, windowtest::Fixture {
    Q_OBJECT

private slots:
    void cleanupTestCase() { endwindow(); }
    void randomSequences();

private:
    QString compare() const;
    QString expectdialogs(const QStringList& expected);

    // Actions: each drives the window and the model alike and returns what it did.
    QString resize();
    QString scroll();
    QString open();
    QString switchmode();
    QString click();
    QString rightpress();
    QString pick();
    QString movepointer();
    QString save();

    // A fresh name from `pattern` (%1: a running number). The names are spread over folders, as
    // the file dialog slows down with the size of the folder it shows.
    QString newname(const QString& pattern) {
        const int n = ++filecount;
        const QString folder = QStringLiteral("d%1").arg(n / 40);
        QDir(scratch()).mkpath(folder);
        return filepath(folder + QLatin1Char('/') + pattern.arg(n));
    }
    int randomint(int low, int high) { return low + int(random.bounded(quint32(high - low + 1))); }
    bool chance(int percent) { return randomint(0, 99) < percent; }
    // A point of Image1 in one of the regions a pointer can be over.
    QPointF gridpoint(bool fractions);
    // A mouse event on Image1 as the window system delivers it, at a point in logical pixels.
    void mouse(QEvent::Type type, Qt::MouseButton button, QPointF p);
    void leftclick(QPointF p) {
        mouse(QEvent::MouseButtonPress, Qt::LeftButton, p);
        mouse(QEvent::MouseButtonRelease, Qt::LeftButton, p);
    }

    Model model;
    QRandomGenerator random;
    std::map<QString, QByteArray> files;  // every file the run made, with what it must hold
    QStringList savednames;
    int filecount = 0;
};

// Checks that the dialogs planned came, in order, and nothing else.
QString WindowModelTest::expectdialogs(const QStringList& expected) {
    windowtest::Dialogs& dialogs = windowtest::Dialogs::get();
    QString problem;
    if (dialogs.waiting() > 0) {
        problem += QStringLiteral(" %1 planned answer(s) left unused;").arg(dialogs.waiting());
        dialogs.dropwaiting();
    }
    if (!dialogs.unanswered.isEmpty()) {
        problem += QStringLiteral(" unplanned: ") + dialogs.unanswered.join(QStringLiteral("; ")) +
                   QLatin1Char(';');
        dialogs.unanswered.clear();
    }
    if (dialogs.seen != expected) {
        problem +=
            QStringLiteral(" dialogs [%1], expected [%2];")
                .arg(dialogs.seen.join(QStringLiteral(", ")), expected.join(QStringLiteral(", ")));
    }
    dialogs.seen.clear();
    return problem;
}

QString WindowModelTest::compare() const {
    QStringList diffs;
    const auto check = [&diffs](const char* what, const auto& actual, const auto& expected) {
        if (!(actual == expected)) {
            diffs << QStringLiteral("%1: window %2, model %3")
                         .arg(QLatin1String(what), shown(actual), shown(expected));
        }
    };
    check("width", form->width(), model.width);
    check("height", form->height(), model.height);
    check("Image1", form->Image1->geometry(), model.image());
    check("cols", form->cols(), model.cols);
    check("topaddr", qint64(form->topaddr()), qint64(model.topaddr));
    check("selpos", form->selpos(), model.selpos);
    check("sbv value", form->sbv->value(), model.position);
    check("sbv maximum", form->sbv->maximum(), model.maximum);
    check("sbv minimum", form->sbv->minimum(), 0);
    check("sbv page step", form->sbv->pageStep(), model.cols);
    check("sbv line step", form->sbv->singleStep(), 1);
    check("editor visible", form->cbc->isVisible(), model.editor);
    if (model.editor && form->cbc->isVisible()) {
        check("editor position", form->cbc->pos(), QPoint(model.editorx, model.editory));
        check("editor width", form->cbc->width(), 66);
        check("editor index", form->cbc->currentIndex(), model.editorindex);
    }
    // Which labels the list holds is window_edit_test's.
    check("editor items", form->cbc->count(), model.filled ? 256 : 0);
    for (int m = 0; m < 4; ++m) {
        const QRadioButton* button = windowtest::modebutton(form, m);
        if (button->isChecked() != (int(model.mode) == m)) {
            diffs << QStringLiteral("mode: %1 checked is %2, model mode %3")
                         .arg(button->text())
                         .arg(button->isChecked())
                         .arg(QLatin1String(windowtest::modename(int(model.mode))));
        }
    }
    check("caption", form->windowTitle(), model.caption);
    check("panel 0", form->panels[0]->text(), model.panel0);
    check("panel 1", form->panels[1]->text(), model.panel1);
    if (form->bindata() != model.bytes) {
        QString where =
            QStringLiteral("length %1 vs %2").arg(form->bindata().size()).arg(model.length());
        const std::size_t common = std::min(form->bindata().size(), model.bytes.size());
        for (std::size_t i = 0; i < common; ++i) {
            if (form->bindata()[i] != model.bytes[i]) {
                where += QStringLiteral(", first difference at %1: window %2, model %3")
                             .arg(i)
                             .arg(form->bindata()[i])
                             .arg(model.bytes[i]);
                break;
            }
        }
        diffs << QStringLiteral("document: ") + where;
    }
    return diffs.join(QStringLiteral("; "));
}

QString WindowModelTest::resize() {
    int w = 0;
    int h = 0;
    switch (randomint(0, 7)) {
        case 0:
            w = 292;
            h = 273;
            break;
        case 1:
            w = 3000;
            h = randomint(273, 400);
            break;
        case 2:  // below the minimum: the window keeps its least size
            w = randomint(100, 300);
            h = randomint(100, 290);
            break;
        case 3:  // the same size again
            w = model.width;
            h = model.height;
            break;
        case 4:  // only the height, often across a row border
            w = model.width;
            h = model.height + randomint(-25, 25);
            break;
        case 5:  // only the width, often across a column border
            w = model.width + randomint(-60, 60);
            h = model.height;
            break;
        default:
            w = randomint(292, 1600);
            h = chance(50) ? randomint(273, 420) : randomint(420, 1400);
            break;
    }
    model.resize(w, h);
    // A size the window did not take shows in the comparison.
    (void)windowtest::resizewindow(form, QSize(w, h));
    return QStringLiteral("resize to %1x%2").arg(w).arg(h);
}

QString WindowModelTest::scroll() {
    using Action = QAbstractSlider::SliderAction;
    const int kind = randomint(0, 9);
    if (kind <= 3) {
        const bool add = chance(60);
        model.scrollto(model.position + (add ? 1 : -1));
        form->sbv->triggerAction(add ? Action::SliderSingleStepAdd : Action::SliderSingleStepSub);
        return add ? QStringLiteral("line down") : QStringLiteral("line up");
    }
    if (kind <= 5) {
        const bool add = chance(60);
        model.scrollto(model.position + (add ? model.cols : -model.cols));
        form->sbv->triggerAction(add ? Action::SliderPageStepAdd : Action::SliderPageStepSub);
        return add ? QStringLiteral("page down") : QStringLiteral("page up");
    }
    if (kind <= 8) {
        // Dragging, now and then past either end.
        const int target =
            chance(15) ? randomint(-5, model.maximum + 5) : randomint(0, model.maximum);
        model.scrollto(target);
        form->sbv->setSliderPosition(target);
        return QStringLiteral("drag to %1").arg(target);
    }
    const bool home = chance(50);
    model.scrollto(home ? 0 : model.maximum);
    QTest::keyClick(form->sbv, home ? Qt::Key_Home : Qt::Key_End);
    return home ? QStringLiteral("Home") : QStringLiteral("End");
}

QString WindowModelTest::open() {
    const int kind = randomint(0, 99);
    if (kind < 60) {
        // Sizes around multiples of the column count, tiny ones, and anything up to 4000.
        int size = 0;
        switch (randomint(0, 4)) {
            case 0:
                size = randomint(0, 3);
                break;
            case 1:
                size = model.cols * randomint(1, 60) + randomint(-1, 1);
                break;
            case 2:
                size = model.length() + randomint(-40, 40);
                break;
            default:
                size = randomint(0, 4000);
                break;
        }
        size = std::clamp(size, 0, 4000);
        Bytes content(std::size_t(size), 0);
        for (auto& b : content) {
            b = std::uint8_t(random.bounded(256));
        }
        const QString path = newname(QStringLiteral("in%1.bin"));
        testutil::writefile(path, content);
        files[path] = asbytearray(content);
        windowtest::choosefile(path);
        form->Button1Click();
        model.open(path, content);
        const QString problem = expectdialogs({QStringLiteral("QFileDialog")});
        return QStringLiteral("open %1 (%2 bytes)").arg(path).arg(size) +
               (problem.isEmpty() ? QString() : QStringLiteral(" !") + problem);
    }
    QString what;
    QStringList expected{QStringLiteral("QFileDialog")};
    if (kind < 75) {
        what = newname(QStringLiteral("missing%1.bin"));
        windowtest::choosefile(what);
        what = QStringLiteral("open missing ") + what;
    } else if (kind < 87) {
        windowtest::choosefile(filepath(QStringLiteral("folder")));
        what = QStringLiteral("open the folder");
    } else {
        what = QStringLiteral("cancelled open");
    }
    // The error box of a failed open, or the cancelled dialog.
    windowtest::closenext();
    if (kind < 87) {
        expected << QStringLiteral("QMessageBox Tessarin");
    }
    if (chance(50)) {
        QTest::mouseClick(form->Button1, Qt::LeftButton);
    } else {
        form->Button1Click();
    }
    const QString problem = expectdialogs(expected);
    return what + (problem.isEmpty() ? QString() : QStringLiteral(" !") + problem);
}

QString WindowModelTest::switchmode() {
    const Mode target = Mode(randomint(0, 3));
    QTest::mouseClick(windowtest::modebutton(form, int(target)), Qt::LeftButton);
    model.mode = target;
    return QStringLiteral("mode %1").arg(QLatin1String(windowtest::modename(int(target))));
}

QPointF WindowModelTest::gridpoint(bool fractions) {
    const int gridw = model.cols * Model::kCellW;
    const int fullh = model.rows() * Model::kCellH;
    QPointF p;
    switch (randomint(0, 9)) {
        case 0:  // the right margin
            p = QPointF(randomint(gridw, model.imagew() - 1), randomint(0, model.imageh() - 1));
            break;
        case 1:  // the strip below the last whole row, when there is one
            if (fullh < model.imageh()) {
                p = QPointF(randomint(0, gridw - 1), randomint(fullh, model.imageh() - 1));
                break;
            }
            [[fallthrough]];
        case 2:  // the end marker's cell, or another one past the end
        case 3: {
            std::int64_t idx = model.length() - model.topaddr;
            if (randomint(0, 2) == 0) {
                idx += randomint(1, model.visible());
            }
            if (idx < 0 || idx >= model.visible()) {
                idx = randomint(0, model.visible() - 1);
            }
            p = QPointF(int(idx % model.cols) * Model::kCellW + randomint(0, Model::kCellW - 1),
                        int(idx / model.cols) * Model::kCellH + randomint(0, Model::kCellH - 1));
            break;
        }
        case 4:  // a cell border
            p = QPointF(randomint(0, model.cols - 1) * Model::kCellW + randomint(-1, 0) +
                            (chance(50) ? Model::kCellW : 0),
                        randomint(0, model.rows() - 1) * Model::kCellH + randomint(-1, 0) +
                            (chance(50) ? Model::kCellH : 0));
            p.setX(std::clamp(p.x(), 0.0, double(model.imagew() - 1)));
            p.setY(std::clamp(p.y(), 0.0, double(model.imageh() - 1)));
            break;
        default:  // any cell
            p = QPointF(randomint(0, gridw - 1), randomint(0, model.rows() * Model::kCellH - 1));
            break;
    }
    if (fractions && chance(50)) {
        p += QPointF(randomint(0, 9) / 10.0, randomint(0, 9) / 10.0);
    }
    return p;
}

void WindowModelTest::mouse(QEvent::Type type, Qt::MouseButton button, QPointF p) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button)
                                                                   : Qt::MouseButtons(Qt::NoButton);
    QMouseEvent event(type, p, form->Image1->mapToGlobal(p), button, held, Qt::NoModifier);
    QApplication::sendEvent(form->Image1, &event);
}

QString WindowModelTest::click() {
    if (chance(5)) {
        // Points no cell holds, handed to the handler as a press outside the grid would be.
        QPoint p;
        switch (randomint(0, 3)) {
            case 0:
                p = QPoint(randomint(-120, -1), randomint(0, 200));
                break;
            case 1:
                p = QPoint(randomint(0, 99), randomint(-120, -1));
                break;
            case 2:
                p = QPoint(model.cols * Model::kCellW + randomint(0, 3000), randomint(0, 200));
                break;
            default:  // the last searched row and the first past it
                p = QPoint(randomint(0, model.cols * Model::kCellW - 1),
                           Model::kHitRows * Model::kCellH + randomint(-20, 20));
                break;
        }
        model.click(p.x(), p.y());
        form->Image1Click(p);
        return QStringLiteral("click handler at (%1,%2)").arg(p.x()).arg(p.y());
    }
    const QPointF p = gridpoint(true);
    model.click(p.x(), p.y());
    leftclick(p);
    return QStringLiteral("left click at (%1,%2)").arg(p.x()).arg(p.y());
}

QString WindowModelTest::rightpress() {
    const QPointF p = gridpoint(true);
    model.editor = false;
    mouse(QEvent::MouseButtonPress, Qt::RightButton, p);
    mouse(QEvent::MouseButtonRelease, Qt::RightButton, p);
    return QStringLiteral("right press at (%1,%2)").arg(p.x()).arg(p.y());
}

QString WindowModelTest::pick() {
    if (!model.editor) {
        // Opens the editor on a byte first, when one is in sight.
        const std::int64_t bytes =
            std::min<std::int64_t>(model.visible(), model.length() - model.topaddr);
        if (bytes <= 0) {
            return click();
        }
        const int idx = randomint(0, int(bytes) - 1);
        const QPoint p((idx % model.cols) * Model::kCellW + randomint(0, Model::kCellW - 1),
                       (idx / model.cols) * Model::kCellH + randomint(0, Model::kCellH - 1));
        model.click(p.x(), p.y());
        leftclick(p);
        return QStringLiteral("left click on a byte at (%1,%2)").arg(p.x()).arg(p.y());
    }
    form->cbc->setFocus();
    const int key = randomint(0, 9);
    if (key <= 4) {
        model.pick(model.editorindex + 1);
        QTest::keyClick(form->cbc, Qt::Key_Down);
        return QStringLiteral("pick Down");
    }
    if (key <= 7) {
        model.pick(model.editorindex - 1);
        QTest::keyClick(form->cbc, Qt::Key_Up);
        return QStringLiteral("pick Up");
    }
    const bool home = key == 8;
    model.pick(home ? 0 : 255);
    QTest::keyClick(form->cbc, home ? Qt::Key_Home : Qt::Key_End);
    return home ? QStringLiteral("pick Home") : QStringLiteral("pick End");
}

QString WindowModelTest::movepointer() {
    if (chance(30)) {
        QPoint p = gridpoint(false).toPoint();
        if (chance(20)) {
            p = QPoint(randomint(-60, model.imagew() + 60), randomint(-60, model.imageh() + 60));
        }
        model.pointer(p.x(), p.y());
        form->Image1MouseMove(p);
        return QStringLiteral("move handler at (%1,%2)").arg(p.x()).arg(p.y());
    }
    QPointF p = gridpoint(true);
    if (chance(5)) {
        p = QPointF(randomint(-3, 0) + 0.5, randomint(-3, 3) + 0.5);  // left of the grid
    }
    model.pointer(p.x(), p.y());
    mouse(QEvent::MouseMove, Qt::NoButton, p);
    return QStringLiteral("pointer at (%1,%2)").arg(p.x()).arg(p.y());
}

QString WindowModelTest::save() {
    QString path;
    QStringList expected{QStringLiteral("QFileDialog")};
    const bool existing = chance(35);
    if (existing) {
        // A name already taken: a file the run opened or saved, never replaced.
        auto it = files.begin();
        std::advance(it, randomint(0, int(files.size()) - 1));
        path = it->first;
        expected << QStringLiteral("QMessageBox エラー");
    } else {
        path = newname(QStringLiteral("out%1.txt"));
        files[path] = windowtest::savedtext(model.bytes, model.mode);
        savednames << path;
    }
    windowtest::choosefile(path);
    if (existing) {
        windowtest::closenext();
    }
    if (chance(50)) {
        QTest::mouseClick(form->Button3, Qt::LeftButton);
    } else {
        form->Button3Click();
    }
    QString problem = expectdialogs(expected);
    if (testutil::readfile<QByteArray>(path) != files[path]) {
        problem += QStringLiteral(" the file does not hold what it must;");
    }
    return QStringLiteral("save %1 as %2 (%3 bytes)%4")
        .arg(QLatin1String(windowtest::modename(int(model.mode))), path)
        .arg(model.length())
        .arg(problem.isEmpty() ? QString() : QStringLiteral(" !") + problem);
}

void WindowModelTest::randomSequences() {
    bool ok = false;
    quint32 seed = qEnvironmentVariable("TESSARIN_MODEL_SEED").toUInt(&ok);
    if (!ok) {
        seed = 20261207;
    }
    int steps = qEnvironmentVariable("TESSARIN_MODEL_STEPS").toInt(&ok);
    if (!ok || steps <= 0) {
        steps = 6000;
    }
    random.seed(seed);
    QVERIFY(startwindow());
    // The model has no progress dialog: a load read to its end, as an empty file is, may take
    // longer than the dialog's delay in the sanitizer build.
    form->setprogressdelay(std::chrono::milliseconds::max());
    QVERIFY(QDir(scratch()).mkdir(QStringLiteral("folder")));
    // A file to refuse a save over before anything was opened or saved.
    const QString first = scratchfile(QStringLiteral("first.bin"), "first");
    files[first] = QByteArray("first");
    windowtest::Dialogs::get().seen.clear();
    model = Model();
    {
        const QString start = compare();
        QVERIFY2(start.isEmpty(), qPrintable(QStringLiteral("at start: ") + start));
    }

    QElapsedTimer clock;
    clock.start();
    std::deque<QString> recent;
    QMap<QString, int> counts;
    for (int step = 1; step <= steps; ++step) {
        const int roll = randomint(0, 999);
        QString action;
        if (roll < 80) {
            action = resize();
        } else if (roll < 300) {
            action = scroll();
        } else if (roll < 350) {
            action = open();
        } else if (roll < 375) {
            action = save();
        } else if (roll < 420) {
            action = switchmode();
        } else if (roll < 600) {
            action = click();
        } else if (roll < 640) {
            action = rightpress();
        } else if (roll < 820) {
            action = pick();
        } else {
            action = movepointer();
        }
        counts[action.section(QLatin1Char(' '), 0, 0)] += 1;
        recent.push_back(action);
        if (recent.size() > 8) {
            recent.pop_front();
        }
        QString problem = action.contains(QLatin1Char('!')) ? action : QString();
        const QString diff = compare();
        if (!diff.isEmpty()) {
            problem += QStringLiteral(" | ") + diff;
        }
        if (!problem.isEmpty()) {
            QStringList history(recent.begin(), recent.end());
            QFAIL(qPrintable(QStringLiteral("seed %1, step %2 (%3): %4\n  last actions: %5")
                                 .arg(seed)
                                 .arg(step)
                                 .arg(action, problem, history.join(QStringLiteral(" / ")))));
        }
    }

    // Every file holds what it must: saves their text, everything else what it held before.
    for (const auto& [path, content] : files) {
        const QByteArray actual = testutil::readfile<QByteArray>(path);
        QVERIFY2(actual == content,
                 qPrintable(QStringLiteral("seed %1: %2 holds %3 bytes, expected %4")
                                .arg(seed)
                                .arg(path)
                                .arg(actual.size())
                                .arg(content.size())));
    }
    QStringList summary;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        summary << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    }
    qInfo("seed %u: %d steps in %lld ms, %lld saved files (%s)", seed, steps,
          qint64(clock.elapsed()), qint64(savednames.size()),
          qPrintable(summary.join(QStringLiteral(", "))));
}

QTEST_MAIN(WindowModelTest)
#include "window_model_test.moc"
