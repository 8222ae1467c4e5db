// The grid font and the font dialog's points.
#include "main/gridfont.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QListView>
#include <QStringList>
#include <QStringListModel>

#include <algorithm>
#include <cmath>

namespace tessarin {

namespace {

constexpr qreal kPointsPerInch = 72.0;

bool hasstyles(const QString& family) {
    return !QFontDatabase::styles(family).isEmpty();
}

// Leaves the families without styles out of `families`, a font dialog's list, each time the
// dialog lists them anew (for another writing system, say).
void keepstyledfamilies(QStringListModel* families) {
    const auto filter = [families] {
        QStringList listed = families->stringList();
        if (listed.removeIf([](const QString& family) { return !hasstyles(family); }) > 0) {
            families->setStringList(listed);
        }
    };
    QObject::connect(families, &QAbstractItemModel::modelReset, families, filter);
    filter();
}

}  // namespace

QFont startfont() {
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic")});
    font.setPixelSize(12);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

QFont dialogfont(const QFont& grid, qreal dpi) {
    const QFontInfo drawn(grid);
    QFont shown(drawn.family());
    shown.setStyleName(drawn.styleName());
    shown.setWeight(QFont::Weight(drawn.weight()));
    shown.setItalic(drawn.italic());
    shown.setPointSizeF(drawn.pixelSize() * kPointsPerInch / dpi);
    return shown;
}

bool samechoice(const QFont& chosen, const QFont& offered) {
    return chosen.family() == offered.family() && chosen.styleName() == offered.styleName() &&
           chosen.pointSizeF() == offered.pointSizeF() && chosen.weight() == offered.weight() &&
           chosen.italic() == offered.italic();
}

QFont gridfontfor(const QFont& chosen, const QFont& grid, qreal dpi) {
    QFont font = grid;
    font.setFamilies({chosen.family()});
    font.setPixelSize(std::max(1, int(std::lround(chosen.pointSizeF() * dpi / kPointsPerInch))));
    font.setWeight(chosen.weight());
    font.setItalic(chosen.italic());
    return font;
}

QFontDialog* makefontdialog(QWidget* parent) {
    const QFont application = QApplication::font();
    if (!hasstyles(application.family())) {
        QFont drawn = application;
        drawn.setFamilies({QFontInfo(application).family()});
        QApplication::setFont(drawn);
    }
    auto* dialog = new QFontDialog(parent);
    // Qt's dialog makes its list of families first.
    if (auto* list = dialog->findChild<QListView*>()) {
        if (auto* families = qobject_cast<QStringListModel*>(list->model())) {
            keepstyledfamilies(families);
        }
    }
    return dialog;
}

}  // namespace tessarin
