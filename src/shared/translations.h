#pragma once

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace himekuri {

// Every caption is Japanese, so Qt's own texts (an edit box's menu, message
// box buttons) are too, whatever the user's locale. Without the translation
// files they stay English.
// The Windows program carries them in itself.
inline void installJapaneseQtTexts(QCoreApplication &app)
{
    auto *translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qtbase_ja"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        || translator->load(QStringLiteral("qtbase_ja"), QStringLiteral(":/translations")))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

} // namespace himekuri
