#pragma once

#include <QLocale>
#include <QString>

#include <memory>
#include <vector>

class QCoreApplication;
class QTranslator;

// The language of the window. The texts in the sources are the Chinese
// ones; English comes from translations/tamsel_en.ts, and the engine's own
// English reasons get their Chinese wording from tamsel_zh_CN.ts. Qt's
// dialogs (file choosers, standard buttons) are given Qt's own catalogue of
// the same language, so no dialog speaks another language than the window.
//
// Use: CLanguage language; language.install(CLanguage::fromEnvironment());
// the translators stay installed for as long as the object lives.
class CLanguage
{
public:
    enum class Language { Chinese, English };

    CLanguage();
    ~CLanguage();
    CLanguage(const CLanguage&) = delete;
    CLanguage& operator=(const CLanguage&) = delete;

    // TAMSEL_LANG ("zh" or "en", anything else ignored) decides; else a
    // Chinese locale (zh_*) gives Chinese and every other one English.
    static Language choose(const QString& override, const QLocale& locale);
    static Language fromEnvironment();
    // "zh_CN" or "en": the suffix of the catalogues.
    static QString code(Language language);
    // The folder of tamsel_*.qm: Resources/translations wherever the
    // program's resources are.
    static QString folder();

    // Replaces what an earlier call installed. False when our catalogue for
    // the language is missing (the window then shows the source texts).
    bool install(Language language);
    // The same with the catalogues taken from `folder`.
    bool install(Language language, const QString& folder);
    Language language() const { return m_language; }
    // The language of the catalogues installed last and still installed:
    // Chinese when there are none, the sources' own language.
    static Language current();
    // Whether Qt's catalogue for the language was found (there is none to
    // load for English, whose texts are Qt's own).
    bool qtCatalogueLoaded() const { return m_qtLoaded; }

private:
    void removeAll();

    std::vector<std::unique_ptr<QTranslator>> m_installed;
    Language m_language = Language::Chinese;
    bool m_qtLoaded = false;
};
