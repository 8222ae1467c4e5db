// The grid font and the font dialog's points.
#include "main/gridfont.h"

#include <QFontInfo>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace tessarin {

namespace {

constexpr qreal kPointsPerInch = 72.0;

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

}  // namespace tessarin
