// Qt's own translations for the standard dialogs.
#include "main/qttranslations.h"

#include <QCoreApplication>

namespace tessarin {

std::unique_ptr<QTranslator> installqttranslations(const QLocale& locale, const QString& folder) {
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), folder) ||
        !QCoreApplication::installTranslator(translator.get())) {
        return nullptr;
    }
    return translator;
}

}  // namespace tessarin
