// Qt's own translations: the standard dialogs (Open, Save, Font, the progress dialog's Cancel)
// come from Qt and speak English unless the application installs Qt's catalogue for the user's
// language. Tessarin's own texts are fixed: the messages, the error boxes and the progress
// texts are Japanese, the buttons, the mode names and the status panels are not.
#pragma once

#include <QLibraryInfo>
#include <QLocale>
#include <QString>
#include <QTranslator>

#include <memory>

namespace tessarin {

// Installs Qt's "qtbase" translations for `locale` from `folder` in the running application, to
// be called before the window is made. They apply while the returned translator lives. Where
// the folder holds none for that language (Debian ships them in qt6-translations-l10n), nothing
// is installed, the result is null and the dialogs stay English.
std::unique_ptr<QTranslator> installqttranslations(
    const QLocale& locale = QLocale::system(),
    const QString& folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath));

}  // namespace tessarin
